// A dialog wired to an emulated programmer, with the library's call trace
// to see which calls a command made, in which order.
#pragma once

#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/KT6200DemoDlg.h"
#include "app/control_ids.h"
#include "tests/support/fake_ui_port.h"
#include "tests/support/temp_dir.h"

namespace kt::test {

// The library reads KT62_TRACE once, at its first call: one file for the
// whole process, set before any test runs and removed at exit.
inline char gFeatureTracePath[64];
inline const char* FeatureTraceFile() {
    static const bool ready = [] {
        std::snprintf(gFeatureTracePath, sizeof gFeatureTracePath, "/tmp/kt6200-features-trace-%ld.log",
                      static_cast<long>(::getpid()));
        std::remove(gFeatureTracePath);
        setenv("KT62_TRACE", gFeatureTracePath, 1);
        std::atexit([] { std::remove(gFeatureTracePath); });
        return true;
    }();
    return ready ? gFeatureTracePath : "";
}

class FeatureTest : public testing::Test {
protected:
    void SetUp() override {
        FeatureTraceFile();
        dlg_.m_strAppDir = dir_.Path() + "/";
    }
    void TearDown() override {
        if (handle_ != KT62_INVALID_HANDLE) kt62Close(handle_);
        unsetenv("KT62_EMULATOR");
    }

    // Opens the one programmer of a profile (the JSON members of the
    // programmer object, e.g. `"faults": [...]`) and hands it to the dialog.
    void Open(const std::string& programmer) {
        if (handle_ != KT62_INVALID_HANDLE) kt62Close(handle_);
        const std::string profile = dir_.Write("profile" + std::to_string(profiles_++) + ".json",
                                               R"({"programmers": [{)" + programmer + "}]}");
        setenv("KT62_EMULATOR", profile.c_str(), 1);
        ASSERT_EQ(kt62Search(), 1) << "emulated programmer with profile " << profile;
        handle_ = kt62Open(0);
        ASSERT_NE(handle_, KT62_INVALID_HANDLE);
        dlg_.m_hDevice = handle_;
    }
    void OpenWithFaults(const std::string& faults) { Open(R"("faults": )" + faults); }

    // Runs a command and returns the calls it made as the trace shows them,
    // without the handle: "kt62UfsGetDME attr_id=33 selector=0 kind=1 -> 0".
    std::vector<std::string> Click(int id) {
        const std::size_t mark = TempDir::Read(FeatureTraceFile()).size();
        dlg_.Dispatch(DialogMessage::Command, static_cast<std::uintptr_t>(id));
        const std::string added = TempDir::Read(FeatureTraceFile()).substr(mark);
        const std::string handle =
            " h=" + std::to_string(reinterpret_cast<std::intptr_t>(dlg_.m_hDevice.load()));
        std::vector<std::string> calls;
        std::size_t start = 0;
        while (start < added.size()) {
            std::size_t end = added.find('\n', start);
            if (end == std::string::npos) end = added.size();
            std::string line = added.substr(start, end - start);
            start = end + 1;
            if (const auto at = line.find(handle); at != std::string::npos) line.erase(at, handle.size());
            calls.push_back(line);
        }
        return calls;
    }

    TempDir dir_;
    FakeUiPort ui_;
    CKT6200DemoDlg dlg_{ui_, dir_.Path() + "/prog"};
    KT62_HANDLE handle_ = KT62_INVALID_HANDLE;
    int profiles_ = 0;
};

// Hex text of bytes for a fault rule's "bytes".
inline std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    for (std::uint8_t b : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X ", b);
        out += two;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

}  // namespace kt::test
