// kt6200-prog plan|run JOB: a production job planned against a part, or run on every programmer
// attached (man kt6200-prog, docs/production.md).
#include <kt62/apiKT6200.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "frontends/prog/progress.h"
#include "production/facts_source.h"
#include "production/job_file.h"
#include "production/run.h"

namespace {

using namespace kt::production;

// Exit status: 0 every part ok (a plan that fits), 1 a part failed or was stopped (a plan refused,
// no part to plan against or run on, a report not written), 2 a job that cannot be read or a bad
// command line.
constexpr int kExitOk = 0, kExitFailed = 1, kExitBadJob = 2;

std::atomic<int> running{1};

extern "C" void OnInterrupt(int /*signal*/) {
    // The first Ctrl-C lets every part end at a chunk; a second one does not wait.
    if (running.exchange(0) == 0) _exit(130);
}

int Complain(const std::string& message, int status) {
    std::cerr << "kt6200-prog: " << message << '\n';
    return status;
}

std::variant<Job, int> ReadJob(const std::string& path) {
    auto job = ReadJobFile(path);
    if (auto* why = std::get_if<std::string>(&job)) return Complain(*why, kExitBadJob);
    return std::get<Job>(std::move(job));
}

FactsOrRefusal FactsOfPart(int position, const std::string& saved) {
    if (!saved.empty()) return ReadSavedFacts(saved + "/device.descr", saved + "/geometry.descr");
    (void)kt62Search();
    (void)kt62LastMessage(nullptr, 0);
    const KT62_HANDLE h = kt62Open(position);
    if (h == KT62_INVALID_HANDLE) {
        char why[256] = "";
        (void)kt62LastMessage(why, sizeof why);
        return Refusal{-1, Rule::Descriptor,
                       "programmer " + std::to_string(position) + " cannot be opened" +
                           (why[0] != '\0' ? std::string(": ") + why : "")};
    }
    FactsOrRefusal facts = ReadDeviceFacts(h);
    (void)kt62Close(h);
    return facts;
}

int PlanCommand(const std::string& job_path, int position, const std::string& saved) {
    auto read = ReadJob(job_path);
    if (const int* status = std::get_if<int>(&read)) return *status;
    const Job& job = std::get<Job>(read);
    if (!job.layout) return Complain(job_path + ": the job has no layout to plan", kExitBadJob);
    FactsOrRefusal facts = FactsOfPart(position, saved);
    if (const auto* r = std::get_if<Refusal>(&facts)) return Complain(r->Text(), kExitFailed);
    PlanOrRefusal plan = MakePlan(*job.layout, std::get<DeviceFacts>(facts));
    if (const auto* r = std::get_if<Refusal>(&plan))
        return Complain("the layout does not fit the part: " + r->Text(), kExitFailed);
    if (!job.layout_from.empty()) {
        std::cout << "Layout from " << job.layout_from << ":\n";
        for (const std::string& line : job.imported) std::cout << "  " << line << '\n';
    }
    std::cout << RenderPlan(std::get<Plan>(plan));
    return kExitOk;
}

int RunCommand(const std::string& job_path, std::vector<int> positions, const std::string& report_path,
               bool confirm_lock) {
    auto read = ReadJob(job_path);
    if (const int* status = std::get_if<int>(&read)) return *status;
    const Job& job = std::get<Job>(read);
    if (job.lock && !confirm_lock)
        return Complain(job_path + ": the job locks the configuration for good; --confirm-lock confirms it",
                        kExitBadJob);
    // A programmer named twice would be refused the second time as in use: it runs once.
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    if (positions.empty()) {
        for (int i = 0, n = kt62Search(); i < n; ++i) positions.push_back(i);
        if (positions.empty()) return Complain("no programmer found", kExitFailed);
    }
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    (void)sigaction(SIGINT, &action, nullptr);
    Report report(report_path);
    const RunOptions options{.confirm_lock = confirm_lock, .report = &report};
    kt::prog::LiveSink live(stdout, positions);
    kt::prog::LogSink log(stdout);
    RunSink& sink = isatty(STDOUT_FILENO) ? static_cast<RunSink&>(live) : log;
    const std::vector<DeviceRecord> records = RunAll(job, positions, options, sink, running);
    std::cout << '\n' << kt::prog::SummaryTable(records);
    int status = kExitOk;
    for (const DeviceRecord& r : records) {
        if (!r.report_failure.empty())
            status = Complain("the record of programmer " + std::to_string(r.position) +
                                  " was not written: " + r.report_failure,
                              kExitFailed);
        if (!r.Ok()) status = kExitFailed;
    }
    return status;
}

int Main(int argc, char** argv) {
    CLI::App app{"Plans a production job against a UFS part, or runs it on every programmer attached."};
    app.name("kt6200-prog");
    app.set_version_flag("--version", "kt6200-prog " KT_VERSION);
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 all ok, 1 a part failed or was stopped (a plan refused), 2 a bad job or command "
        "line.");
    std::string job_path;
    std::string saved;
    std::string report_path = "kt6200-prog-report.jsonl";
    int position = 0;
    std::vector<int> positions;
    bool confirm_lock = false;
    CLI::App* plan = app.add_subcommand("plan", "Show the plan of the job's layout for a part");
    plan->add_option("JOB", job_path, "The job file")->required();
    auto* programmer = plan->add_option("--programmer", position, "Plan against this programmer's part")
                           ->check(CLI::NonNegativeNumber);
    plan->add_option("--saved", saved, "Plan against the part's saved device.descr and geometry.descr here")
        ->excludes(programmer);
    CLI::App* run = app.add_subcommand("run", "Run the job on the programmers");
    run->add_option("JOB", job_path, "The job file")->required();
    run->add_option("--programmers", positions, "Only these programmers (0,2,...)")
        ->delimiter(',')
        ->check(CLI::NonNegativeNumber);
    run->add_option("--report", report_path, "Append one JSON line per part here");
    run->add_flag("--confirm-lock", confirm_lock, "Allow the lock the job asks for: it cannot be undone");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? kExitOk : kExitBadJob;
    }
    return plan->parsed() ? PlanCommand(job_path, position, saved)
                          : RunCommand(job_path, positions, report_path, confirm_lock);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Main(argc, argv);
    } catch (const std::exception& e) {
        return Complain(std::string("internal error: ") + e.what(), kExitFailed);
    }
}
