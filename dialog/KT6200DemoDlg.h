// The main dialog: owns the run-time state and routes every command to its
// handler. The device, panel and feature handlers are free functions under
// handlers/ that see the dialog only as a CommandContext.
#pragma once

#include <kt62/apiKT6200.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "handlers/base/command_context.h"
#include "handlers/base/ui_port.h"
#include "handlers/transfer/sector_transfer.h"
#include "handlers/ufs/panel.h"

namespace kt {

// How a message reaches the dialog.
enum class DialogMessage {
    SysCommand,  // wparam = command identifier
    Paint,
    QueryDragIcon,
    SelChange,  // wparam = list identifier
    Command,    // wparam = command identifier (button click, keyboard, platform)
    Timer,      // wparam = timer identifier
    Close,      // window close: close box, Alt+F4
};

class CKT6200DemoDlg;

// One entry of the command table.
struct CommandEntry {
    DialogMessage message;
    int id;  // control or command identifier; 0 when the message has none
    const char* handler_name;
    void (*invoke)(CKT6200DemoDlg& dlg, std::uintptr_t wparam, std::intptr_t lparam);
};

// The dialog's command table, in the program's order.
std::span<const CommandEntry> DialogCommandTable();

// The program's version, shown in the title and the About box.
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionPatch = 8;

// The About box: its version line.
class CAboutDlg {
public:
    static std::string VersionLine();
};

// The context a handler is handed is the dialog itself, privately: only
// the dialog passes it down.
class CKT6200DemoDlg : private CommandContext {
public:
    // exePath: the running executable's full path; the program directory is
    // its folder.
    CKT6200DemoDlg(IUiPort& ui, std::string exe_path);
    ~CKT6200DemoDlg();

    CKT6200DemoDlg(const CKT6200DemoDlg&) = delete;
    CKT6200DemoDlg& operator=(const CKT6200DemoDlg&) = delete;

    // Runs after the front end has created the controls.
    bool OnInitDialog();

    // Routes a message through the command table; false when no entry takes it.
    bool Dispatch(DialogMessage message, std::uintptr_t wparam = 0, std::intptr_t lparam = 0);

    // ---- handlers (command table order) ----
    void OnSysCommand(unsigned command_id, std::intptr_t lparam);
    void OnPaint();
    int OnQueryDragIcon();
    void OnSelChangeDevice();
    void OnRefresh();
    void OnInquiry();
    void OnGetCapacity();
    void OnReadSectors();
    void OnWriteSectors();
    void OnFlagRead();
    void OnFlagClear();
    void OnFlagSet();
    void OnFlagToggle();
    void OnAttributeRead();
    void OnAttributeWrite();
    void OnDescriptorRead();
    void OnDescriptorWrite();
    void OnExit();
    void OnTimer(std::uintptr_t timer_id);
    void OnDmeRead();
    void OnBnClickedBtnIcInfo();
    void OnBnClickedBtnLunInfo();
    void OnBnClickedBtnCfg1Lun();
    void OnBnClickedBtnWorkMode();
    void OnLanguage();
    void OnBnClickedButtonReset();
    void OnBnClickedButtonUpdate();
    void OnClose();
    void OnBnClickedBtnCfg1LunDisabled();

    // ---- the descriptor just read, for its decoded view ----
    using DescriptorRead = panel::ShownDescriptor;
    // nullopt until a descriptor read shows bytes; a failed read clears it.
    const std::optional<DescriptorRead>& LastDescriptorRead() const { return panel_.last_descriptor; }
    // wSpecVersion of the open device, asked of it (during a transfer: from
    // the last device descriptor read); 0 when not known.
    std::uint16_t DeviceSpecVersion();

    // ---- interface language ----
    void ApplyLanguage(int n);
    // Says in the status line that Config.ini could not take the language.
    void NotSaved(const std::string& path, const std::string& why);
    // Says in the status line that a Config.ini is too large to be read (its languages are then
    // left out as those of a missing one).
    void ShowConfigRefusal();
    std::string GetConfigPath() const;

    // ---- the sector transfers ----
    // The one context operation front ends need too: they wait for a transfer's end.
    bool TransferRunning() const override { return transfer_.Running(); }
    // Whether the running transfer's worker is inside a sector read or write call now.
    bool TransferInDeviceCall() const { return transfer_.InDeviceCall(); }
    // The cancel request of Exit: the running transfer stops after its
    // device call in progress.
    void CancelTransfer() { transfer_.CancelTransfer(); }
    using ThreadStarter = SectorTransfer::ThreadStarter;
    void SetThreadStarter(ThreadStarter starter) { transfer_.SetThreadStarter(std::move(starter)); }
    const SectorTransfer& Transfer() const { return transfer_; }

    // ---- state, readable by front ends and tests ----
    KT62_HANDLE DeviceHandle() const { return m_hDevice.load(); }
    // Hands the dialog a programmer opened elsewhere (tests, benchmarks);
    // the caller closes it.
    void SetDeviceHandle(KT62_HANDLE h) { m_hDevice = h; }

private:
    // ---- the rest of the handlers' context ----
    const std::string& AppDir() const override { return m_strAppDir; }
    IUiPort& Ui() override { return m_ui; }
    // The output pane: a new message clears the status line, an added line starts with a break.
    void ShowLog(const std::string& text) override;
    void AppendLog(const std::string& line) override;
    void ShowStatus(const std::string& text) override;
    // At most a buffer's worth of the library's reason, without its terminating zero.
    void ShowLibraryReason() override;
    KT62_HANDLE Device() const override { return m_hDevice.load(); }
    KT62_HANDLE ExchangeDevice(KT62_HANDLE h) override { return m_hDevice.exchange(h); }

    IUiPort& m_ui;
    std::string m_exePath;

    // Members in the dialog's declaration order.
    int m_hIcon;  // resource identifier of the application icon
    std::string m_strAppDir;
    std::atomic<KT62_HANDLE> m_hDevice{KT62_INVALID_HANDLE};
    std::atomic<bool> m_statusShown{false};
    panel::PanelState panel_;
    // Last, so that its worker is joined while everything it uses still exists.
    SectorTransfer transfer_{*this};
};

}  // namespace kt
