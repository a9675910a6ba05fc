// A user interface for tests: keeps every control's text, enabled state and
// list items, records each operation in order, and answers questions and
// file choosers from queues. Operations may come from any thread.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "handlers/base/ui_port.h"

namespace kt::test {

class FakeUiPort : public IUiPort {
public:
    FakeUiPort();  // every control of the main dialog, enabled, empty

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
    void StartTimer(int id, unsigned periodMs) override;
    void StopTimer(int id) override;
    void EndDialog(int result) override;
    void RunAboutBox(const std::string& versionLine) override;
    void Beep() override;

    // Answers for the next questions and choosers (default: no / cancel).
    void QueueAnswer(bool yes);
    void QueueFile(std::optional<std::string> path);

    // Test-side view.
    std::string Pane();    // the output pane's text
    int Progress(int id);  // a progress bar's position
    std::string Title();
    std::vector<std::string> ListItems(int id);
    std::vector<std::string> Log();  // every operation, e.g. "SetText 1001 ..."
    std::optional<int> EndResult();
    std::vector<std::string> AboutLines();
    std::map<int, unsigned> Timers();
    int Beeps();

private:
    struct Control {
        std::string text;
        bool enabled = true;
        std::vector<std::string> items;
        int selection = -1;
        int progress = 0;
    };
    Control& At(int id);  // throws std::out_of_range for an unknown id
    void Record(std::string entry);

    std::recursive_mutex mutex_;
    std::map<int, Control> controls_;
    std::string title_;
    std::vector<std::string> log_;
    std::deque<bool> answers_;
    std::deque<std::optional<std::string>> files_;
    std::optional<int> endResult_;
    std::vector<std::string> about_;
    std::map<int, unsigned> timers_;
    int beeps_ = 0;
};

}  // namespace kt::test
