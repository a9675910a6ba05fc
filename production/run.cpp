// A part's steps in their order, the record they leave, and one worker per programmer.
#include "production/run.h"

#include <nlohmann/json.hpp>

#include <ctime>
#include <system_error>
#include <thread>

#include "fileio/file_access.h"
#include "production/run_steps.h"
#include "ufs/versions.h"

namespace kt::production {

const char* StepName(Step step) {
    static constexpr const char* kNames[kStepCount] = {"identify", "check",  "configure", "compare",
                                                       "images",   "verify", "settings",  "lock"};
    return kNames[static_cast<int>(step)];
}

const char* OutcomeName(Outcome outcome) {
    static constexpr const char* kNames[] = {"skipped", "ok", "already configured", "failed", "stopped"};
    return kNames[static_cast<int>(outcome)];
}

const StepResult* DeviceRecord::Ended() const {
    for (const StepResult& s : steps)
        if (s.outcome == Outcome::Failed || s.outcome == Outcome::Stopped) return &s;
    return nullptr;
}

bool DeviceRecord::Ok() const { return Ended() == nullptr && steps.size() == kStepCount; }

std::uint64_t DeviceRecord::BytesWritten() const {
    std::uint64_t bytes = 0;
    for (const ImageResult& image : images)
        if (image.write_seconds > 0) bytes += image.bytes;
    return bytes;
}

double DeviceRecord::WriteMBps() const {
    double seconds = 0;
    for (const ImageResult& image : images) seconds += image.write_seconds;
    return seconds > 0 ? static_cast<double>(BytesWritten()) / 1e6 / seconds : 0;
}

namespace {

std::string NowUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    (void)gmtime_r(&now, &utc);
    char text[32];
    (void)std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

double Rate(std::uint64_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(
                             static_cast<std::int64_t>(static_cast<double>(bytes) / 1e6 / seconds * 10)) /
                             10
                       : 0;
}

nlohmann::ordered_json ImageJson(const ImageResult& image) {
    nlohmann::ordered_json j = {{"file", image.path},
                                {"lun", image.lun},
                                {"start_sector", image.start_sector},
                                {"bytes", image.bytes},
                                {"write_mbps", Rate(image.bytes, image.write_seconds)},
                                {"verify_mbps", Rate(image.bytes, image.verify_seconds)}};
    if (!image.sha256.empty()) j["sha256"] = image.sha256;
    if (!image.read_sha256.empty()) j["read_sha256"] = image.read_sha256;
    return j;
}

}  // namespace

std::string RecordJson(const DeviceRecord& record) {
    const StepResult* ended = record.Ended();
    nlohmann::ordered_json j = {
        {"programmer", record.position},
        {"serial", record.serial},
        {"manufacturer", record.manufacturer},
        {"product", record.product},
        {"revision", record.revision},
        {"ufs_version", record.spec_version != 0 ? ufs::VersionText(record.spec_version) : ""},
        {"started", record.started},
        {"ended", record.ended},
        {"result", record.Ok() ? "ok"
                   : ended     ? OutcomeName(ended->outcome)
                               : "failed"},
    };
    if (ended) j["step"] = StepName(ended->step);
    if (record.failed_sector) j["sector"] = *record.failed_sector;
    j["steps"] = nlohmann::ordered_json::array();
    for (const StepResult& s : record.steps)
        j["steps"].push_back(
            {{"step", StepName(s.step)}, {"outcome", OutcomeName(s.outcome)}, {"detail", s.detail}});
    j["images"] = nlohmann::ordered_json::array();
    for (const ImageResult& image : record.images) j["images"].push_back(ImageJson(image));
    j["bytes"] = record.BytesWritten();
    j["mbps"] = static_cast<double>(static_cast<std::int64_t>(record.WriteMBps() * 10)) / 10;
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool Report::Append(const std::string& line, std::string& why) {
    const std::lock_guard<std::mutex> lock(mutex_);
    fileio::File file = fileio::OpenForWriting(path_, fileio::WriteMode::Append, why);
    if (!file.IsOpen()) {
        why = path_ + ": " + why;
        return false;
    }
    const std::string whole = line + "\n";
    int error = fileio::WriteAll(file.Get(), whole.data(), whole.size());
    if (error == 0) error = file.Close();
    if (error != 0) why = path_ + ": " + std::generic_category().message(error);
    return error == 0;
}

DeviceRecord RunDevice(const Job& job, const RunOptions& options, int position, RunSink& sink,
                       const std::atomic<int>& running) {
    DeviceRecord record;
    record.position = position;
    record.started = NowUtc();
    PartRun p{job, options, position, sink, running, record, KT62_INVALID_HANDLE, {}, {}, {}, {}};
    static constexpr Done (*kSteps[kStepCount])(PartRun&) = {
        Identify, CheckJob, Configure, Compare, WriteImages, VerifyImages, ApplySettings, Lock};
    bool going = true;
    for (int i = 0; i < kStepCount; ++i) {
        StepResult result{static_cast<Step>(i), Outcome::Skipped, ""};
        if (going && running.load() == 0) {
            result.outcome = Outcome::Stopped;
            result.detail = "stopped before this step";
        } else if (going) {
            sink.StepStarted(position, result.step);
            Done done = kSteps[i](p);
            result.outcome = done.outcome;
            result.detail = std::move(done.detail);
            sink.StepEnded(position, result);
        }
        going = going && result.outcome != Outcome::Failed && result.outcome != Outcome::Stopped;
        record.steps.push_back(std::move(result));
    }
    if (p.h != KT62_INVALID_HANDLE) (void)kt62Close(p.h);
    record.ended = NowUtc();
    if (options.report && !options.report->Append(RecordJson(record), record.report_failure) &&
        record.report_failure.empty())
        record.report_failure = "not written";
    return record;
}

std::vector<DeviceRecord> RunAll(const Job& job, std::vector<int> positions, const RunOptions& options,
                                 RunSink& sink, const std::atomic<int>& running) {
    // A search first in any case: the library learns what is attached now.
    const int found = kt62Search();
    if (positions.empty())
        for (int i = 0; i < found; ++i) positions.push_back(i);
    std::vector<DeviceRecord> records(positions.size());
    std::vector<std::thread> workers;
    workers.reserve(positions.size());
    for (std::size_t i = 0; i < positions.size(); ++i)
        workers.emplace_back([&, i] { records[i] = RunDevice(job, options, positions[i], sink, running); });
    for (std::thread& worker : workers) worker.join();
    return records;
}

}  // namespace kt::production
