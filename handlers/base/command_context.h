// What a command handler is handed: the user interface, the open device, the program's folder and
// the output pane. The dialog implements it; a handler never sees the dialog itself, so a handler
// can be run and tested with nothing above it.
#pragma once

#include <kt62/apiKT6200.h>

#include <string>

#include "handlers/base/ui_port.h"

namespace kt {

class CommandContext {
public:
    virtual IUiPort& Ui() = 0;

    // The open programmer; KT62_INVALID_HANDLE when none is.
    virtual KT62_HANDLE Device() const = 0;
    // Puts h in its place and returns the one it held: opening another programmer, closing it.
    virtual KT62_HANDLE ExchangeDevice(KT62_HANDLE h) = 0;

    // The program's folder, ending in one separator.
    virtual const std::string& AppDir() const = 0;

    // The output pane: a new message, or a line added under the current one.
    virtual void ShowLog(const std::string& text) = 0;
    virtual void AppendLog(const std::string& line) = 0;
    // The status line: a reason the pane's texts do not carry. The next ShowLog clears it.
    virtual void ShowStatus(const std::string& text) = 0;
    // The library's reason for the last failure on this thread, into the status line; nothing
    // when it gave none.
    virtual void ShowLibraryReason() = 0;

    // Whether a sector transfer's worker is running on the open device.
    virtual bool TransferRunning() const = 0;

protected:
    ~CommandContext() = default;
};

}  // namespace kt
