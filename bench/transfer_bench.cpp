// The sector transfers through the program's own worker, against dd.
//
// 1 GiB is written to the emulated device's unit 0, then, in each round:
// read from the device to an image file by the read transfer, and dd
// copying the unit's data file to a new file; written back from the image
// file by the write transfer, and dd copying the image file over an
// existing file of the same size. All files sit in one temporary folder on
// the same file system, so both sides copy between the same kinds of file.
// The dialog runs behind the script runner's UI port, its user-interface
// thread being this one, as in kt6200-script. During each transfer a probe
// thread asks the user-interface thread for a field every 5 ms; the longest
// answer is how long a window would not have responded.
//
//   cmake --build BUILD --target kt62_transfer_bench && BUILD/bin/kt62_transfer_bench [ROUNDS]
#include <kt62/apiKT6200.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/report.h"
#include "common/control_ids.h"
#include "dialog/KT6200DemoDlg.h"
#include "frontends/script/script_ui_port.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kBytes = std::uint64_t{1} << 30;
constexpr std::uint32_t kSector = 4096;

[[noreturn]] void Fail(const std::string& why) {
    (void)std::fprintf(stderr, "kt62_transfer_bench: %s\n", why.c_str());
    std::exit(1);
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double RunDd(const std::string& args) {
    const auto start = Clock::now();
    if (std::system(("dd " + args + " bs=32M status=none").c_str()) != 0) Fail("dd failed: " + args);
    return Seconds(start);
}

// Asks the user-interface thread for a field every few milliseconds, as a
// window system's events would come, and keeps the longest wait.
class UiProbe {
public:
    explicit UiProbe(kt::script::ScriptUiPort& port)
        : thread_([this, &port] {
              while (!stop_.load()) {
                  const auto asked = Clock::now();
                  (void)port.GetText(kt::IDC_EDIT_START_SECTOR);
                  longest_ = std::max(longest_.load(), Seconds(asked));
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
              finished_ = true;
          }) {}
    // Stops the probe; the user-interface thread must serve its last request.
    void Stop(kt::script::ScriptUiPort& port) {
        stop_ = true;
        port.Process(std::chrono::hours(1), [&] { return finished_.load(); });
        thread_.join();
    }
    double Longest() const { return longest_.load(); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::atomic<double> longest_{0};
    std::thread thread_;
};

class Bench {
public:
    explicit Bench(const std::string& dir) : dir_(dir), dlg_(port_, dir + "/kt6200") {
        port_.SetTimerHandler(
            [this](int id) { dlg_.Dispatch(kt::DialogMessage::Timer, static_cast<std::uintptr_t>(id)); });
        dlg_.OnInitDialog();
        if (dlg_.DeviceHandle() == KT62_INVALID_HANDLE)
            Fail("no emulated programmer: " + port_.GetText(kt::IDC_EDIT_LOG));
        port_.SetText(kt::IDC_EDIT_START_SECTOR, "0");
        port_.SetText(kt::IDC_EDIT_SECTOR_COUNT, std::to_string(kBytes / kSector));
    }

    // One transfer as the user runs it; seconds from the click to its end.
    double Transfer(int command, const std::string& file) {
        port_.QueueFile(file);
        UiProbe probe(port_);
        const auto start = Clock::now();
        dlg_.Dispatch(kt::DialogMessage::Command, static_cast<std::uintptr_t>(command));
        port_.Process(std::chrono::hours(1), [&] { return !dlg_.TransferRunning(); });
        const double seconds = Seconds(start);
        probe.Stop(port_);
        longest_ui_wait_ = std::max(longest_ui_wait_, probe.Longest());
        const std::string pane = port_.GetText(kt::IDC_EDIT_LOG);
        if (pane.size() < 5 || pane.compare(pane.size() - 5, 5, "Done.") != 0)
            Fail("transfer failed: " + pane);
        return seconds;
    }

    std::string UnitFile() const {
        for (const auto& e : fs::recursive_directory_iterator(dir_ + "/profile.json.state"))
            if (e.path().filename().string().rfind("lu0.", 0) == 0) return e.path().string();
        Fail("no data file of unit 0");
    }

    std::string Pane() { return port_.GetText(kt::IDC_EDIT_LOG); }
    double LongestUiWait() const { return longest_ui_wait_; }

private:
    std::string dir_;
    kt::script::ScriptUiPort port_;
    kt::CKT6200DemoDlg dlg_;
    double longest_ui_wait_ = 0;
};

// The profile, and the data: 1 GiB that is no run of zeros.
void WriteInputs(const std::string& dir) {
    std::ofstream(dir + "/profile.json")
        << R"({"programmers": [{"ufs": {"raw_capacity_bytes": 2147483648}}]})";
    setenv("KT62_EMULATOR", (dir + "/profile.json").c_str(), 1);
    std::vector<char> block(32u << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + (i >> 12));
    std::ofstream src(dir + "/source.bin", std::ios::binary);
    for (std::uint64_t done = 0; done < kBytes; done += block.size()) {
        block[0] = static_cast<char>(done >> 25);
        src.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
}

// Both sides of the read write their new file into memory just used: on a virtual
// machine, memory left unused for a while is slow to have again (the host may have taken
// it back), and whichever side ran on such memory would lose. So each side is preceded
// by a sync, the file it replaces read and removed, and 2 GiB touched and given back.
void Fresh(const std::string& path) {
    ::sync();
    std::ifstream old(path, std::ios::binary);
    static std::vector<char> block(1 << 20);
    while (old.read(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
    fs::remove(path);
    constexpr std::size_t kTouched = std::size_t{2} << 30;
    void* touched = ::mmap(nullptr, kTouched, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (touched == MAP_FAILED) Fail("no memory to touch");
    std::memset(touched, 1, kTouched);
    ::munmap(touched, kTouched);
}

struct Timings {
    std::vector<double> read_t, read_dd, write_t, write_dd, write_dd_trunc;
};

// One round: each transfer, then dd doing the same. The sync before every step keeps one
// step's dirty pages from slowing the next.
void Round(Bench& bench, const std::string& dir, const std::string& unit, Timings& t) {
    const std::string image = dir + "/image.bin";
    const std::string write_args = "if=" + image + " of=" + dir + "/dd-existing.bin";
    Fresh(image);
    t.read_t.push_back(bench.Transfer(kt::IDC_BTN_READ_SECTORS, image));
    Fresh(dir + "/dd-image.bin");
    t.read_dd.push_back(RunDd("if=" + unit + " of=" + dir + "/dd-image.bin count=32"));
    ::sync();
    t.write_t.push_back(bench.Transfer(kt::IDC_BTN_WRITE_SECTORS, image));
    ::sync();
    t.write_dd.push_back(RunDd(write_args + " conv=notrunc"));
    ::sync();
    t.write_dd_trunc.push_back(RunDd(write_args));
}

void Report(const Timings& t, int rounds, const Bench& bench) {
    const double mib = static_cast<double>(kBytes) / (1 << 20);
    auto line = [&](const char* what, double s) { kt::bench::PrintRate(what, s, mib, 38); };
    std::printf("\nmedians of %d rounds, 1 GiB each:\n", rounds);
    line("read transfer (device -> image file)", kt::bench::Median(t.read_t));
    line("dd bs=32M unit data -> new file", kt::bench::Median(t.read_dd));
    line("write transfer (image file -> device)", kt::bench::Median(t.write_t));
    line("dd bs=32M image -> existing, notrunc", kt::bench::Median(t.write_dd));
    line("dd bs=32M image -> existing file", kt::bench::Median(t.write_dd_trunc));
    const double dd_write = std::min(kt::bench::Median(t.write_dd), kt::bench::Median(t.write_dd_trunc));
    std::printf("\nread  transfer: %.2f x dd (target >= 1.5)\n",
                kt::bench::Median(t.read_dd) / kt::bench::Median(t.read_t));
    std::printf("write transfer: %.2f x dd, the faster of the two dd runs (target >= 1.0)\n",
                dd_write / kt::bench::Median(t.write_t));
    std::printf("longest wait for the user-interface thread during a transfer: %.1f ms (target <= 50)\n",
                bench.LongestUiWait() * 1000);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds =
        argc > 1 ? static_cast<int>(std::clamp(std::strtol(argv[1], nullptr, 10), 1L, 1000L)) : 3;
    kt::test::TempDir tmp;
    const std::string& dir = tmp.Path();
    setenv("XDG_DATA_HOME", (dir + "/xdg").c_str(), 1);
    unsetenv("KT62_TRACE");
    WriteInputs(dir);
    Bench bench(dir);
    std::printf("filling the device with 1 GiB ...\n");
    bench.Transfer(kt::IDC_BTN_WRITE_SECTORS, dir + "/source.bin");
    const std::string unit = bench.UnitFile();
    // The file dd writes over in place, as the write transfer does the unit's data.
    if (std::system(("cp " + dir + "/source.bin " + dir + "/dd-existing.bin").c_str()) != 0)
        Fail("cp failed");

    Timings t;
    for (int round = 0; round < rounds; ++round) {
        Round(bench, dir, unit, t);
        std::printf("round %d: read %.3f s (dd %.3f s), write %.3f s (dd in place %.3f s, dd %.3f s)\n",
                    round + 1, t.read_t.back(), t.read_dd.back(), t.write_t.back(), t.write_dd.back(),
                    t.write_dd_trunc.back());
    }
    if (kt::test::TempDir::Read(dir + "/image.bin") != kt::test::TempDir::Read(dir + "/source.bin"))
        Fail("the image file differs from the data written");
    Report(t, rounds, bench);
    std::printf("last pane:\n%s\n", bench.Pane().c_str());
    return 0;
}
