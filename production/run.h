// A job run on programmers: each part identified, configured, checked against its plan, given its
// images, verified, set up and locked, one step after the other. A step that fails ends that part's
// run: the steps after it are skipped and never reach the part. What happened is kept as data, one
// record per part, appended to the report as one JSON line.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "production/job.h"

namespace kt::production {

enum class Step : std::uint8_t {
    Identify,   // open, read what the part is, check it is the one expected
    Check,      // plan the layout, check the images, before anything is written
    Configure,  // write the configuration and reset, unless the part already has it
    Compare,    // read the configuration and unit descriptors back against the plan
    Images,     // write each image
    Verify,     // read each image back
    Settings,   // bBootLunEn
    Lock,       // bConfigDescrLock
};
inline constexpr int kStepCount = 8;
const char* StepName(Step step);  // "identify"

enum class Outcome : std::uint8_t { Skipped, Ok, AlreadyConfigured, Failed, Stopped };
const char* OutcomeName(Outcome outcome);  // "already configured"

struct StepResult {
    Step step = Step::Identify;
    Outcome outcome = Outcome::Skipped;
    std::string detail;
};

struct ImageResult {
    std::string path;  // as the job names it
    int lun = 0;
    std::uint32_t start_sector = 0;
    std::uint64_t bytes = 0;
    double write_seconds = 0, verify_seconds = 0;
    std::string sha256;       // of the file, when it was taken (hex)
    std::string read_sha256;  // of what was read back, verifying by hash
};

struct DeviceRecord {
    int position = 0;
    std::string serial, manufacturer, product;  // the part's string descriptors
    std::string revision;                       // INQUIRY's product revision level
    std::uint16_t spec_version = 0;
    std::string started, ended;  // ISO 8601, UTC
    std::vector<StepResult> steps;
    std::vector<ImageResult> images;
    std::optional<std::uint32_t> failed_sector;  // the chunk a failed or stopped transfer was at
    std::string report_failure;                  // why the record could not be appended

    bool Ok() const;
    // The step that failed or was stopped, when one was.
    const StepResult* Ended() const;
    std::uint64_t BytesWritten() const;
    double WriteMBps() const;
};

// One JSON object on one line, without the line feed.
std::string RecordJson(const DeviceRecord& record);

// The report file: whole lines appended by any number of workers, one after the other.
class Report {
public:
    explicit Report(std::string path) : path_(std::move(path)) {}
    // false with the reason in `why` when the file cannot take it.
    bool Append(const std::string& line, std::string& why);

private:
    std::string path_;
    std::mutex mutex_;
};

struct RunOptions {
    bool confirm_lock = false;  // the operator's consent to a lock the job asks for
    Report* report = nullptr;   // where the records go, if anywhere
};

// What the front end is told while parts run. Called from the workers, so from several threads.
class RunSink {
public:
    virtual void StepStarted(int position, Step step) = 0;
    // Bytes of the current step done out of total.
    virtual void Progress(int position, std::uint64_t done, std::uint64_t total) = 0;
    virtual void StepEnded(int position, const StepResult& result) = 0;

protected:
    ~RunSink() = default;
};

// Runs the job on the programmer at `position` until it ends, fails or `running` drops to 0 (seen
// between steps and at each chunk of a transfer).
DeviceRecord RunDevice(const Job& job, const RunOptions& options, int position, RunSink& sink,
                       const std::atomic<int>& running);

// The same on every programmer given (all that kt62Search finds when none is), each on a worker of
// its own; the records in the order of `positions`.
std::vector<DeviceRecord> RunAll(const Job& job, std::vector<int> positions, const RunOptions& options,
                                 RunSink& sink, const std::atomic<int>& running);

}  // namespace kt::production
