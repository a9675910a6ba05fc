// Any board provisioning file, in either form: a layout the planner may rely on, or a refusal that
// names the file. Input: the file's text, then 1 byte choosing its name (and so its form).
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "production/import.h"

KT_FUZZ_TARGET(data, size) {
    FuzzedDataProvider in(data, size);
    const std::string name = in.ConsumeBool() ? "board.xml" : "board.conf";
    const auto imported = kt::production::ImportLayout(in.ConsumeRemainingBytesAsString(), name);
    if (const auto* refusal = std::get_if<std::string>(&imported))
        return KT_FUZZ_CHECK(refusal->starts_with(name + ":"));
    const auto& layout = std::get<kt::production::ImportedLayout>(imported).layout;
    const auto& units = layout.units;
    const auto count = [&units](auto match) { return std::count_if(units.begin(), units.end(), match); };
    KT_FUZZ_CHECK(std::adjacent_find(units.begin(), units.end(), [](const auto& a, const auto& b) {
                      return a.lun >= b.lun;
                  }) == units.end());
    KT_FUZZ_CHECK(count([](const auto& u) { return u.rest; }) <= 1);
    for (const auto role : {kt::production::BootRole::A, kt::production::BootRole::B})
        KT_FUZZ_CHECK(count([role](const auto& u) { return u.boot == role; }) <= 1);
    const auto& wb = layout.write_booster;
    KT_FUZZ_CHECK(!wb.enabled || wb.shared || count([&wb](const auto& u) { return u.lun == wb.lun; }) == 1);
}
