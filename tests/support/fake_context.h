// A command context over the recording UI port, for one handler on a device a test opened itself.
#pragma once

#include <kt62/apiKT6200.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "common/control_ids.h"
#include "handlers/base/command_context.h"
#include "tests/support/fake_ui_port.h"
#include "tests/support/temp_dir.h"

namespace kt::test {

class FakeContext : public CommandContext {
public:
    explicit FakeContext(std::string app_dir = "./") : app_dir_(std::move(app_dir)) {}

    IUiPort& Ui() override { return ui_; }
    KT62_HANDLE Device() const override { return device_; }
    KT62_HANDLE ExchangeDevice(KT62_HANDLE h) override { return std::exchange(device_, h); }
    const std::string& AppDir() const override { return app_dir_; }
    void ShowLog(const std::string& text) override { ui_.SetText(IDC_EDIT_LOG, text); }
    void AppendLog(const std::string& line) override { ui_.AppendText(IDC_EDIT_LOG, "\r\n" + line); }
    void ShowStatus(const std::string& text) override { ui_.SetText(IDC_STATIC_STATUS, text); }
    void ShowLibraryReason() override {}
    bool TransferRunning() const override { return false; }

    FakeUiPort& Port() { return ui_; }

private:
    FakeUiPort ui_;
    KT62_HANDLE device_ = KT62_INVALID_HANDLE;
    std::string app_dir_;
};

// The one programmer of a profile written in dir (the members of its object); the caller closes it.
inline KT62_HANDLE OpenEmulated(const TempDir& dir, const std::string& programmer) {
    const std::string profile = dir.Write("profile.json", R"({"programmers": [{)" + programmer + "}]}");
    setenv("KT62_EMULATOR", profile.c_str(), 1);
    return kt62Search() == 1 ? kt62Open(0) : KT62_INVALID_HANDLE;
}

}  // namespace kt::test
