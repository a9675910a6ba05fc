// What an operator sees while a job runs: on a terminal, one line per programmer redrawn in place;
// otherwise a plain log line per step. At the end, a table of every part's outcome.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "production/run.h"

namespace kt::prog {

class LogSink : public production::RunSink {
public:
    explicit LogSink(std::FILE* out) : out_(out) {}
    void StepStarted(int /*position*/, production::Step /*step*/) override {}
    void Progress(int /*position*/, std::uint64_t /*done*/, std::uint64_t /*total*/) override {}
    void StepEnded(int position, const production::StepResult& result) override;

private:
    std::FILE* out_;
    std::mutex mutex_;
};

class LiveSink : public production::RunSink {
public:
    LiveSink(std::FILE* out, const std::vector<int>& positions);
    void StepStarted(int position, production::Step step) override;
    void Progress(int position, std::uint64_t done, std::uint64_t total) override;
    void StepEnded(int position, const production::StepResult& result) override;

private:
    struct Line {
        std::string step, state;
    };
    // Draws every line again, the cursor back at the first one; `force` draws however soon.
    void Draw(bool force);

    std::FILE* out_;
    std::mutex mutex_;
    std::map<int, Line> lines_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_;
};

// The table of every record: programmer, serial, product, result, the step that ended it and why.
std::string SummaryTable(const std::vector<production::DeviceRecord>& records);

}  // namespace kt::prog
