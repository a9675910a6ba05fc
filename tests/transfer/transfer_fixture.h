// An emulated programmer whose unit 0 holds real data, and a dialog to hand it to.
#pragma once

#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "common/control_ids.h"
#include "common/text_format.h"
#include "dialog/KT6200DemoDlg.h"
#include "tests/support/call_gate.h"
#include "tests/support/fake_ui_port.h"
#include "tests/support/temp_dir.h"

namespace kt::test {

inline constexpr const char* kSmallDevice = R"("ufs": {"raw_capacity_bytes": 268435456})";
inline constexpr std::uint32_t kSector = 4096;  // the small device's
inline constexpr std::uint32_t kChunk = 8192;   // sectors in 32 MiB

// Each sector starts with the seed and its number, so a sector out of place shows.
inline std::string Pattern(std::uint32_t seed, std::uint32_t sectors) {
    std::string sector(kSector, static_cast<char>(seed * 13));
    std::string bytes;
    for (std::uint32_t n = 0; n < sectors; ++n) bytes += sector.replace(0, 24, Format("%10u/%12u.", seed, n));
    return bytes;
}

class Transfer : public testing::Test {
protected:
    void SetUp() override { setenv("KT62_TRACE", File("trace.txt").c_str(), 1); }
    void TearDown() override {
        call_gate::Release();  // a test that stopped early may still hold a call
        EXPECT_TRUE(WaitUntil([&] { return !dlg_.TransferRunning(); })) << "the transfer did not end";
        if (handle_ != KT62_INVALID_HANDLE) kt62Close(handle_);
        unsetenv("KT62_EMULATOR");
        unsetenv("KT62_TRACE");
    }
    void Open(const std::string& programmer = kSmallDevice) {  // the members of the programmer object
        setenv("KT62_EMULATOR",
               dir_.Write("profile.json", R"({"programmers": [{)" + programmer + "}]}").c_str(), 1);
        ASSERT_EQ(kt62Search(), 1);
        handle_ = kt62Open(0);
        ASSERT_NE(handle_, KT62_INVALID_HANDLE);
        dlg_.SetDeviceHandle(handle_);
    }
    void PutSectors(std::uint32_t first, const std::string& bytes) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        for (std::uint32_t done = 0, n = 0; done < bytes.size() / kSector; done += n) {
            n = std::min<std::uint32_t>(kChunk, static_cast<std::uint32_t>(bytes.size() / kSector) - done);
            ASSERT_EQ(kt62ScsiWrite10(handle_, first + done, kSector, data + std::size_t{done} * kSector, n),
                      0);
        }
    }
    std::string GetSectors(std::uint32_t first, std::uint32_t count) {
        std::string bytes(std::size_t{count} * kSector, '\0');
        auto* data = reinterpret_cast<std::uint8_t*>(bytes.data());
        EXPECT_EQ(kt62ScsiRead10(handle_, first, kSector, data, count), 0);
        return bytes;
    }
    std::size_t Calls(const std::string& prefix) {  // trace lines so far that start with prefix
        const std::string trace = "\n" + TempDir::Read(File("trace.txt"));
        std::size_t n = 0;
        for (std::size_t at = 0; (at = trace.find("\n" + prefix, at)) != std::string::npos; ++at) ++n;
        return n;
    }
    std::string File(const std::string& name) { return dir_.Path() + "/" + name; }
    void Fields(std::uint32_t start, std::uint32_t count) {
        ui_.SetText(IDC_EDIT_START_SECTOR, std::to_string(start));
        ui_.SetText(IDC_EDIT_SECTOR_COUNT, std::to_string(count));
        ui_.SetText(IDC_EDIT_PACKET_SIZE, "64");
    }
    static bool WaitUntil(const std::function<bool()>& cond) {  // for up to a minute
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!cond() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return cond();
    }

    TempDir dir_;
    KT62_HANDLE handle_ = KT62_INVALID_HANDLE;
    FakeUiPort ui_;
    CKT6200DemoDlg dlg_{ui_, dir_.Path() + "/kt6200"};
};

}  // namespace kt::test
