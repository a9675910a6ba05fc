// A dialog wired to an emulated programmer whose answers may come from fault
// rules, with the library's call trace to see which calls a command made, in
// which order, and that nothing reached the device after a refusal.
#pragma once

#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/control_ids.h"
#include "dialog/KT6200DemoDlg.h"
#include "tests/support/fake_ui_port.h"
#include "tests/support/temp_dir.h"

namespace kt::test {

// The library reads KT62_TRACE once, at its first call: one file for the
// whole process, set before any test runs and removed at exit.
inline char gTracePath[64];
inline const char* TraceFile() {
    static const bool ready = [] {
        std::snprintf(gTracePath, sizeof gTracePath, "/tmp/kt6200-test-trace-%ld.log",
                      static_cast<long>(::getpid()));
        std::remove(gTracePath);
        setenv("KT62_TRACE", gTracePath, 1);
        std::atexit([] { std::remove(gTracePath); });
        return true;
    }();
    return ready ? gTracePath : "";
}

class EmulatedDialogTest : public testing::Test {
protected:
    void SetUp() override {
        TraceFile();
        // What dialog initialisation leaves in the fields.
        ui_.SetText(IDC_EDIT_IDN, "0");
        ui_.SetText(IDC_EDIT_INDEX, "0");
        ui_.SetText(IDC_EDIT_SELECTOR, "0");
        ui_.SetText(IDC_EDIT_VALUE, "0");
        ui_.SetText(IDC_EDIT_DME_REG, "0100");
        ui_.ListSelect(IDC_COMBO_DME_TYPE, 1);
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
        dlg_.SetDeviceHandle(handle_);
    }
    void OpenWithFaults(const std::string& faults) { Open(R"("faults": )" + faults); }

    // Runs a command and returns the calls it made as the trace shows them,
    // without the handle: "kt62UfsGetDME attr_id=33 selector=0 kind=1 -> 0".
    std::vector<std::string> Click(int id) {
        const std::size_t mark = TraceText().size();
        dlg_.Dispatch(DialogMessage::Command, static_cast<std::uintptr_t>(id));
        const std::string added = TraceText().substr(mark);
        const std::string handle =
            " h=" + std::to_string(reinterpret_cast<std::intptr_t>(dlg_.DeviceHandle()));
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

    static std::string TraceText() { return TempDir::Read(TraceFile()); }

    // The file chooser's request as the port recorded it, if one was made:
    // "ChooseFile open FILTER -> ANSWER".
    std::optional<std::string> Chooser() {
        for (const std::string& entry : ui_.Log())
            if (entry.rfind("ChooseFile", 0) == 0) return entry;
        return std::nullopt;
    }
    bool ChooserOpened() { return Chooser().has_value(); }

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
