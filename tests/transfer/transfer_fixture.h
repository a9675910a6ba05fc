// A dialog on the recording UI port, wired to an emulated programmer whose
// unit 0 holds real data, with helpers to run a transfer to its end and to
// see the device's sectors.
#pragma once

#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/control_ids.h"
#include "common/text_format.h"
#include "dialog/KT6200DemoDlg.h"
#include "tests/support/call_gate.h"
#include "tests/support/fake_ui_port.h"
#include "tests/support/temp_dir.h"

namespace kt::test {

// A 256 MiB device: unit 0 over it in 4096-byte sectors.
inline constexpr const char* kSmallDevice = R"("ufs": {"raw_capacity_bytes": 268435456})";
inline constexpr std::uint32_t kSector = 4096;
inline constexpr std::uint32_t kChunk = 8192;  // sectors of 4096 bytes in 32 MiB

// Recognisable sector contents: every sector differs from every other.
inline std::string Pattern(std::uint32_t firstSector, std::uint32_t sectors, std::uint32_t size = kSector) {
    std::string bytes(std::size_t{sectors} * size, '\0');
    for (std::uint32_t s = 0; s < sectors; ++s) {
        const std::uint32_t sector = firstSector + s;
        for (std::uint32_t i = 0; i < size; ++i)
            bytes[std::size_t{s} * size + i] =
                static_cast<char>((sector * 13u + i * 7u + (sector >> 8)) & 0xFF);
    }
    return bytes;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) return lines;
        at = end + 2;
    }
}

template <class Port>
class TransferFixture : public testing::Test {
protected:
    void SetUp() override {
        trace_ = dir_.Path() + "/trace.txt";
        setenv("KT62_TRACE", trace_.c_str(), 1);
    }
    void TearDown() override {
        call_gate::Release();  // a test that stopped early may still hold a call
        EXPECT_TRUE(WaitUntil([&] { return !dlg_.TransferRunning(); })) << "the transfer did not end";
        if (handle_ != KT62_INVALID_HANDLE) kt62Close(handle_);
        unsetenv("KT62_EMULATOR");
        unsetenv("KT62_TRACE");
    }

    // Opens the one programmer of a profile (the members of its programmer
    // object) and hands it to the dialog.
    void Open(const std::string& programmer = kSmallDevice) {
        const std::string profile = dir_.Write("profile.json", R"({"programmers": [{)" + programmer + "}]}");
        setenv("KT62_EMULATOR", profile.c_str(), 1);
        ASSERT_EQ(kt62Search(), 1) << profile;
        handle_ = kt62Open(0);
        ASSERT_NE(handle_, KT62_INVALID_HANDLE);
        dlg_.SetDeviceHandle(handle_);
    }

    void Fields(std::uint32_t start, std::uint32_t count) {
        ui_.SetText(IDC_EDIT_START_SECTOR, std::to_string(start));
        ui_.SetText(IDC_EDIT_SECTOR_COUNT, std::to_string(count));
        ui_.SetText(IDC_EDIT_PACKET_SIZE, "64");
    }

    // Polls cond for up to a minute; the transfers here take well under a second.
    virtual void Serve() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }
    bool WaitUntil(const std::function<bool()>& cond) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!cond()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            Serve();
        }
        return true;
    }
    // Clicks a start button and waits until the worker has ended.
    void RunToEnd(int command) {
        dlg_.Dispatch(DialogMessage::Command, static_cast<std::uintptr_t>(command));
        ASSERT_TRUE(WaitUntil([&] { return !dlg_.TransferRunning(); }));
    }

    void PutSectors(std::uint32_t first, const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size(); at += std::size_t{kChunk} * kSector) {
            const std::size_t piece = std::min<std::size_t>(bytes.size() - at, std::size_t{kChunk} * kSector);
            ASSERT_EQ(kt62ScsiWrite10(handle_, first + static_cast<std::uint32_t>(at / kSector), kSector,
                                      reinterpret_cast<const std::uint8_t*>(bytes.data() + at),
                                      static_cast<std::uint32_t>(piece / kSector)),
                      0);
        }
    }
    std::string GetSectors(std::uint32_t first, std::uint32_t count) {
        std::string bytes(std::size_t{count} * kSector, '\0');
        EXPECT_EQ(
            kt62ScsiRead10(handle_, first, kSector, reinterpret_cast<std::uint8_t*>(bytes.data()), count), 0);
        return bytes;
    }
    // From here on Trace sees only the calls made after this point.
    void MarkTrace() { traceMark_ = TempDir::Read(trace_).size(); }
    // The library calls made so far, e.g. "kt62ScsiRead10 h=1 lba=0 ... -> 0".
    std::vector<std::string> Trace(const std::string& prefix) {
        std::vector<std::string> calls;
        for (const std::string& line : SplitLines(ReplaceNewlines(TempDir::Read(trace_).substr(traceMark_))))
            if (line.rfind(prefix, 0) == 0) calls.push_back(line);
        return calls;
    }
    static std::string ReplaceNewlines(std::string text) {
        std::string out;
        for (char c : text) {
            if (c == '\n')
                out += "\r\n";
            else
                out += c;
        }
        return out;
    }

    TempDir dir_;
    Port ui_;
    CKT6200DemoDlg dlg_{ui_, dir_.Path() + "/kt6200"};
    KT62_HANDLE handle_ = KT62_INVALID_HANDLE;
    std::string trace_;
    std::size_t traceMark_ = 0;
};

}  // namespace kt::test
