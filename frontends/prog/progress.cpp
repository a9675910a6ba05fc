#include "frontends/prog/progress.h"

namespace kt::prog {

using production::OutcomeName;
using production::StepName;

void LogSink::StepEnded(int position, const production::StepResult& result) {
    const std::lock_guard<std::mutex> lock(mutex_);
    (void)std::fprintf(out_, "programmer %d: %s: %s%s%s\n", position, StepName(result.step),
                       OutcomeName(result.outcome), result.detail.empty() ? "" : ": ", result.detail.c_str());
    (void)std::fflush(out_);
}

LiveSink::LiveSink(std::FILE* out, const std::vector<int>& positions) : out_(out) {
    for (int p : positions) lines_[p] = {"waiting", ""};
}

void LiveSink::StepStarted(int position, production::Step step) {
    const std::lock_guard<std::mutex> lock(mutex_);
    lines_[position] = {StepName(step), ""};
    Draw(true);
}

void LiveSink::Progress(int position, std::uint64_t done, std::uint64_t total) {
    const std::lock_guard<std::mutex> lock(mutex_);
    lines_[position].state = std::to_string(total ? done * 100 / total : 100) + "%";
    Draw(false);
}

void LiveSink::StepEnded(int position, const production::StepResult& result) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Line& line = lines_[position];
    line.state = OutcomeName(result.outcome);
    if (result.outcome == production::Outcome::Failed || result.outcome == production::Outcome::Stopped)
        line.state += ": " + result.detail;
    else if (result.step == production::Step::Lock)
        line = {"done", ""};
    Draw(true);
}

void LiveSink::Draw(bool force) {
    // A redraw of every line for each chunk of every programmer would cost more than the chunks.
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    if (drawn_) (void)std::fprintf(out_, "\x1b[%zuA", lines_.size());
    for (const auto& [position, line] : lines_)
        (void)std::fprintf(out_, "\r\x1b[Kprogrammer %d: %-9s %s\n", position, line.step.c_str(),
                           line.state.c_str());
    drawn_ = true;
    (void)std::fflush(out_);
}

std::string SummaryTable(const std::vector<production::DeviceRecord>& records) {
    auto row = [](const std::string& programmer, const std::string& serial, const std::string& product,
                  const char* result, const char* step, const std::string& detail) {
        char line[1024];
        (void)std::snprintf(line, sizeof line, "%-10s %-18s %-18s %-8s %-9s %s", programmer.c_str(),
                            serial.c_str(), product.c_str(), result, step, detail.c_str());
        std::string text = line;
        text.erase(text.find_last_not_of(' ') + 1);
        return text + "\n";
    };
    std::string table = row("programmer", "serial", "product", "result", "step", "detail");
    for (const production::DeviceRecord& r : records) {
        const production::StepResult* ended = r.Ended();
        table += row(std::to_string(r.position), r.serial, r.product,
                     r.Ok()  ? "ok"
                     : ended ? OutcomeName(ended->outcome)
                             : "failed",
                     ended ? StepName(ended->step) : "", ended ? ended->detail : "");
    }
    return table;
}

}  // namespace kt::prog
