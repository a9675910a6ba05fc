// The desktop program's parts wired together: the main dialog's window, the
// UI port over it and the dialog logic behind the port.
#pragma once

#include <QPoint>
#include <QPointer>
#include <string>

#include "dialog/KT6200DemoDlg.h"
#include "frontends/qt/main_dialog.h"
#include "frontends/qt/production_window.h"
#include "frontends/qt/qt_ui_port.h"

namespace kt::qt {

class Desktop {
public:
    // exe_path: the running executable (the program directory comes from it).
    explicit Desktop(std::string exe_path);
    ~Desktop();

    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // Shows the window and runs the dialog's initialisation (title, field
    // defaults, language, device discovery).
    void Start();
    // Runs modally until the logic ends the dialog; returns its result.
    int Run();

    MainDialog& Dialog() { return dialog_; }
    QtUiPort& Port() { return port_; }
    CKT6200DemoDlg& Logic() { return logic_; }
    // The Production window (Help menu), made on first use and kept with its job while hidden.
    ProductionWindow& OpenProductionWindow();

private:
    // The pane's own menu, with Decode after a descriptor read.
    void ShowPaneMenu(const QPoint& at);
    void OpenDecodeWindow();

    MainDialog dialog_;
    QtUiPort port_{dialog_};
    CKT6200DemoDlg logic_;
    QPointer<ProductionWindow> production_;
};

}  // namespace kt::qt
