// The dialog logic's user interface over the Qt main dialog.
//
// Every operation runs on the GUI thread: called there, it runs at once;
// called from a worker, it is handed to the GUI thread and the worker waits
// until it has run (a blocking queued call), so a worker reading a field or
// asking a question gets the answer it would get on the GUI thread. Each
// operation is one step on the GUI thread, which makes AppendText's
// read-append-write atomic against appends from any other thread.
#pragma once

#include <QPointer>
#include <QString>
#include <QTimer>
#include <map>
#include <string>
#include <utility>

#include "frontends/qt/main_dialog.h"
#include "handlers/base/ui_port.h"

namespace kt::qt {

class QtUiPort : public IUiPort {
public:
    explicit QtUiPort(MainDialog& dialog);
    ~QtUiPort() override;

    QtUiPort(const QtUiPort&) = delete;
    QtUiPort& operator=(const QtUiPort&) = delete;

    std::string GetText(int id) override;
    void SetText(int id, const std::string& text) override;
    void AppendText(int id, const std::string& text) override;
    void SetTitle(const std::string& title) override;
    void EnableControl(int id, bool enable) override;
    bool IsControlEnabled(int id) override;
    void SetProgress(int id, int permille) override;
    int ListCount(int id) override;
    void ListDelete(int id, int position) override;
    void ListAppend(int id, const std::string& item) override;
    int ListSelection(int id) override;
    void ListSelect(int id, int position) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    std::optional<std::string> ChooseFile(FileChooserMode mode, const std::string& filter) override;
    void StartTimer(int id, unsigned period_ms) override;
    void StopTimer(int id) override;
    void EndDialog(int result) override;
    void RunAboutBox(const std::string& version_line) override;
    void Beep() override;

    // Whether timer id is running (GUI thread).
    bool TimerActive(int id) const;

private:
    template <class F>
    auto OnGuiThread(F&& operation);

    MainDialog& dialog_;
    std::map<int, QPointer<QTimer>> timers_;  // GUI thread only; children of the dialog
    // The folder each chooser (mode, filter) last returned a file in, for this run.
    std::map<std::pair<int, std::string>, QString> last_folders_;
};

}  // namespace kt::qt
