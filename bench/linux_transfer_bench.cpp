// The sector transfers through the program's own worker on the Linux host
// backend against the same transfers on the emulator backend, in one run.
//
// The Linux backend's kernel is the fake one (tests/fakekernel), linked into
// this program so that it answers the library's open, ioctl and close as the
// preloaded shim does; its device is the emulator's device model, as the
// emulated programmer's is, so both sides read and write the same kind of
// store and the difference is the backend: requests built and checked, cut
// at max_hw_sectors_kb (512), passed through ioctl(SG_IO).
//
// Each side: 1 GiB written to unit 0 (the write transfer, from an image
// file), then per round the read transfer to a new image file and the write
// transfer back from it, the two sides taking turns. Each side's dialog runs
// behind a script runner's UI port.
//
//   cmake --build BUILD --target kt62_linux_transfer_bench && BUILD/bin/kt62_linux_transfer_bench [ROUNDS]
#include <kt62/apiKT6200.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
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
constexpr const char* kDevice = R"({"raw_capacity_bytes": 2147483648})";

[[noreturn]] void Fail(const std::string& why) {
    (void)std::fprintf(stderr, "kt62_linux_transfer_bench: %s\n", why.c_str());
    std::exit(1);
}

class Side {
public:
    // `expect`: what the pane shows once the backend's programmer is open.
    Side(const std::string& appdir, const char* what, const std::string& expect) : dlg_(port_, appdir) {
        port_.SetTimerHandler(
            [this](int id) { dlg_.Dispatch(kt::DialogMessage::Timer, static_cast<std::uintptr_t>(id)); });
        dlg_.OnInitDialog();
        if (dlg_.DeviceHandle() == KT62_INVALID_HANDLE)
            Fail(std::string("no programmer on the ") + what +
                 " backend: " + port_.GetText(kt::IDC_EDIT_LOG));
        const std::string pane = port_.GetText(kt::IDC_EDIT_LOG);
        if (pane.find(expect) == std::string::npos)
            Fail(std::string("not the ") + what + " backend's programmer: " + pane);
        std::printf("%s: %s\n", what, pane.c_str());
        port_.SetText(kt::IDC_EDIT_START_SECTOR, "0");
        port_.SetText(kt::IDC_EDIT_SECTOR_COUNT, std::to_string(kBytes / kSector));
    }

    // One transfer as the user runs it; seconds from the click to its end.
    double Transfer(int command, const std::string& file) {
        port_.QueueFile(file);
        const auto start = Clock::now();
        dlg_.Dispatch(kt::DialogMessage::Command, static_cast<std::uintptr_t>(command));
        port_.Process(std::chrono::hours(1), [&] { return !dlg_.TransferRunning(); });
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const std::string pane = port_.GetText(kt::IDC_EDIT_LOG);
        if (pane.size() < 5 || pane.compare(pane.size() - 5, 5, "Done.") != 0)
            Fail("transfer failed: " + pane);
        return seconds;
    }

private:
    kt::script::ScriptUiPort port_;
    kt::CKT6200DemoDlg dlg_;
};

struct Times {
    std::vector<double> read, write;
};

// One round on one side: the read transfer to a new image file and the write transfer back.
void Round(Side& side, const std::string& image, Times& t) {
    fs::remove(image);
    t.read.push_back(side.Transfer(kt::IDC_BTN_READ_SECTORS, image));
    t.write.push_back(side.Transfer(kt::IDC_BTN_WRITE_SECTORS, image));
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds =
        argc > 1 ? static_cast<int>(std::clamp(std::strtol(argv[1], nullptr, 10), 1L, 1000L)) : 3;
    kt::test::TempDir tmp;
    const std::string& dir = tmp.Path();
    setenv("XDG_DATA_HOME", (dir + "/xdg").c_str(), 1);
    unsetenv("KT62_TRACE");
    {
        std::vector<char> block(32u << 20);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + (i >> 12));
        std::ofstream src(dir + "/source.bin", std::ios::binary);
        for (std::uint64_t done = 0; done < kBytes; done += block.size()) {
            block[0] = static_cast<char>(done >> 25);
            src.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        std::ofstream(dir + "/profile.json") << R"({"programmers": [{"ufs": )" << kDevice << "}]}";
        std::ofstream(dir + "/fake_kernel.json") << R"({"hosts": [{"number": 0, "ufs": )" << kDevice << "}]}";
    }

    // Both sides stay open and take turns, so that both see the same load on the machine.
    setenv("KT62_EMULATOR", (dir + "/profile.json").c_str(), 1);
    setenv("KT62_BACKEND", "emulator", 1);
    Side emu(dir + "/app-emulator", "emulator", "Firmware version");
    unsetenv("KT62_EMULATOR");
    setenv("KT62_BACKEND", "linux", 1);
    setenv("KT62_LINUX_ROOT", (dir + "/root").c_str(), 1);
    setenv("KT62_LINUX_WRITE", "1", 1);
    setenv("KT62_FAKE_KERNEL", (dir + "/fake_kernel.json").c_str(), 1);
    Side lin(dir + "/app-linux", "linux", "ufs-bsg0 Ver:");
    emu.Transfer(kt::IDC_BTN_WRITE_SECTORS, dir + "/source.bin");
    lin.Transfer(kt::IDC_BTN_WRITE_SECTORS, dir + "/source.bin");
    Times emulator;
    Times host;
    for (int round = 0; round < rounds; ++round) {
        Round(emu, dir + "/image-emulator.bin", emulator);
        Round(lin, dir + "/image-linux.bin", host);
        std::printf("round %d: emulator read %.3f s, write %.3f s; Linux read %.3f s, write %.3f s\n",
                    round + 1, emulator.read.back(), emulator.write.back(), host.read.back(),
                    host.write.back());
    }
    for (const char* side : {"emulator", "linux"})
        if (kt::test::TempDir::Read(dir + "/image-" + side + ".bin") !=
            kt::test::TempDir::Read(dir + "/source.bin"))
            Fail(std::string(side) + ": the image read back differs from the data written");

    const double mib = static_cast<double>(kBytes) / (1 << 20);
    auto line = [&](const char* what, double s) { kt::bench::PrintRate(what, s, mib, 36); };
    std::printf("\nmedians of %d rounds, 1 GiB each:\n", rounds);
    line("read transfer, emulator backend", kt::bench::Median(emulator.read));
    line("read transfer, Linux backend", kt::bench::Median(host.read));
    line("write transfer, emulator backend", kt::bench::Median(emulator.write));
    line("write transfer, Linux backend", kt::bench::Median(host.write));
    std::printf("\nLinux backend read : %.2f x the emulator backend (target >= 0.90)\n",
                kt::bench::Median(emulator.read) / kt::bench::Median(host.read));
    std::printf("Linux backend write: %.2f x the emulator backend (target >= 0.90)\n",
                kt::bench::Median(emulator.write) / kt::bench::Median(host.write));
    return 0;
}
