// A test UI, usable from any thread: each control's state; questions and choosers answered from queues.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/text_format.h"
#include "dialog/dialog_template.h"
#include "handlers/base/ui_port.h"

namespace kt::test {

class FakeUiPort : public IUiPort {
public:
    FakeUiPort() {  // every control of the main dialog, enabled
        MainDialogTemplate().ForEachControl([this](const ControlEntry& c) {
            if (c.id != -1) controls_[c.id].text = c.caption;
        });
        for (const char* item : kDmeTypeItems) controls_[1024].items.emplace_back(item);
    }

    std::string GetText(int id) override { return Lock()->At(id).text; }
    void SetText(int id, const std::string& text) override { Lock()->At(id).text = text; }
    void AppendText(int id, const std::string& text) override {
        const Locked l = Lock();
        At(id).text += text;
        appended_.push_back(text);
    }
    void SetTitle(const std::string& /*title*/) override {}
    void EnableControl(int id, bool enable) override { Lock()->At(id).enabled = enable; }
    bool IsControlEnabled(int id) override { return Lock()->At(id).enabled; }
    void SetProgress(int id, int permille) override { Lock()->At(id).progress = permille; }
    int ListCount(int id) override { return static_cast<int>(Lock()->At(id).items.size()); }
    void ListDelete(int id, int position) override {
        const Locked l = Lock();
        Control& c = At(id);
        if (position < 0 || position >= static_cast<int>(c.items.size())) return;
        c.items.erase(c.items.begin() + position);
        if (c.selection == position) c.selection = -1;
        if (c.selection > position) --c.selection;
    }
    void ListAppend(int id, const std::string& item) override { Lock()->At(id).items.push_back(item); }
    int ListSelection(int id) override { return Lock()->At(id).selection; }
    void ListSelect(int id, int position) override {
        const Locked l = Lock();
        Control& c = At(id);
        c.selection = (position >= 0 && position < static_cast<int>(c.items.size())) ? position : -1;
    }
    bool AskYesNo(const std::string& /*text*/, const std::string& /*caption*/) override {
        const Locked l = Lock();
        const bool yes = !answers_.empty() && answers_.front();
        if (!answers_.empty()) answers_.pop_front();
        return yes;
    }
    std::optional<std::string> ChooseFile(FileChooserMode /*mode*/, const std::string& /*filter*/) override {
        const Locked l = Lock();
        std::optional<std::string> path;
        if (!files_.empty()) path = files_.front(), files_.pop_front();
        return path;
    }
    void StartTimer(int id, unsigned periodMs) override { Lock()->timers_[id] = periodMs; }
    void StopTimer(int id) override { Lock()->timers_.erase(id); }
    void EndDialog(int result) override { Lock()->endResult_ = result; }
    void RunAboutBox(const std::string& line) override { Lock()->about_.push_back(line); }
    void Beep() override { ++Lock()->beeps_; }

    void QueueAnswer(bool yes) { Lock()->answers_.push_back(yes); }  // unanswered: no, and cancel
    void QueueFile(std::optional<std::string> path) { Lock()->files_.push_back(std::move(path)); }

    std::string Pane() { return GetText(1001); }  // the output pane's text
    int Progress(int id) { return Lock()->At(id).progress; }
    std::vector<std::string> Appended() { return Lock()->appended_; }  // every AppendText's text
    std::optional<int> EndResult() { return Lock()->endResult_; }
    std::vector<std::string> AboutLines() { return Lock()->about_; }
    std::map<int, unsigned> Timers() { return Lock()->timers_; }
    int Beeps() { return Lock()->beeps_; }

private:
    // The port, locked until the end of the full expression that asked for it.
    struct Locked {
        std::unique_lock<std::recursive_mutex> lock;
        FakeUiPort* port;
        FakeUiPort* operator->() const { return port; }
    };
    Locked Lock() { return {std::unique_lock(mutex_), this}; }

    struct Control {
        std::string text;
        bool enabled = true;
        std::vector<std::string> items;
        int selection = -1;
        int progress = 0;
    };
    Control& At(int id) {
        auto it = controls_.find(id);
        if (it == controls_.end()) throw std::out_of_range(Format("no control %d", id));
        return it->second;
    }

    std::recursive_mutex mutex_;
    std::map<int, Control> controls_;
    std::vector<std::string> appended_;
    std::deque<bool> answers_;
    std::deque<std::optional<std::string>> files_;
    std::optional<int> endResult_;
    std::vector<std::string> about_;
    std::map<int, unsigned> timers_;
    int beeps_ = 0;
};

}  // namespace kt::test
