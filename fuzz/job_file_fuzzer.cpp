// Any job file's text: a job whose layout keeps the planner's promises, or a refusal that says where.
// layout_from reads from a scratch folder (or any absolute path, which fileio's limits cover).
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "production/job_file.h"

KT_FUZZ_TARGET(data, size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto read = kt::production::ParseJob(text, "job.toml", kt::fuzz::ScratchDir());
    if (const auto* refusal = std::get_if<std::string>(&read))
        return KT_FUZZ_CHECK(refusal->starts_with("job.toml:") && refusal->find_first_of("0123456789") == 9);
    const auto& job = std::get<kt::production::Job>(read);
    KT_FUZZ_CHECK(!job.lock || job.layout);
    if (!job.layout) return;
    const auto& units = job.layout->units;
    const auto lun_is = [&units](int lun) {
        return std::any_of(units.begin(), units.end(), [lun](const auto& u) { return u.lun == lun; });
    };
    KT_FUZZ_CHECK(std::adjacent_find(units.begin(), units.end(), [](const auto& a, const auto& b) {
                      return a.lun >= b.lun;
                  }) == units.end());
    KT_FUZZ_CHECK(std::count_if(units.begin(), units.end(), [](const auto& u) { return u.rest; }) <= 1);
    for (const auto& image : job.images) KT_FUZZ_CHECK(lun_is(image.lun));
}
