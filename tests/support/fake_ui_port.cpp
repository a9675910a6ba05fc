#include "tests/support/fake_ui_port.h"

#include <stdexcept>

#include "common/text_format.h"
#include "dialog/dialog_template.h"

namespace kt::test {

FakeUiPort::FakeUiPort() {
    MainDialogTemplate().ForEachControl([this](const ControlSpec& c) {
        if (c.id != -1) controls_[c.id].text = c.caption;
    });
    for (const char* item : kDmeTypeItems) controls_[1024].items.emplace_back(item);
}

FakeUiPort::Control& FakeUiPort::At(int id) {
    auto it = controls_.find(id);
    if (it == controls_.end()) throw std::out_of_range(Format("no control %d", id));
    return it->second;
}

void FakeUiPort::Record(std::string entry) { log_.push_back(std::move(entry)); }

std::string FakeUiPort::GetText(int id) {
    std::lock_guard lock(mutex_);
    return At(id).text;
}
void FakeUiPort::SetText(int id, const std::string& text) {
    std::lock_guard lock(mutex_);
    At(id).text = text;
    Record(Format("SetText %d %s", id, text.c_str()));
}
void FakeUiPort::AppendText(int id, const std::string& text) {
    std::lock_guard lock(mutex_);
    At(id).text += text;
    Record(Format("AppendText %d %s", id, text.c_str()));
}
void FakeUiPort::SetTitle(const std::string& title) {
    std::lock_guard lock(mutex_);
    title_ = title;
    Record("SetTitle " + title);
}
void FakeUiPort::EnableControl(int id, bool enable) {
    std::lock_guard lock(mutex_);
    At(id).enabled = enable;
    Record(Format("Enable %d %d", id, enable ? 1 : 0));
}
bool FakeUiPort::IsControlEnabled(int id) {
    std::lock_guard lock(mutex_);
    return At(id).enabled;
}
void FakeUiPort::SetProgress(int id, int permille) {
    std::lock_guard lock(mutex_);
    At(id).progress = permille;
    Record(Format("SetProgress %d %d", id, permille));
}
int FakeUiPort::ListCount(int id) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(At(id).items.size());
}
void FakeUiPort::ListDelete(int id, int position) {
    std::lock_guard lock(mutex_);
    Control& c = At(id);
    if (position < 0 || position >= static_cast<int>(c.items.size())) return;
    c.items.erase(c.items.begin() + position);
    if (c.selection == position)
        c.selection = -1;
    else if (c.selection > position)
        --c.selection;
    Record(Format("ListDelete %d %d", id, position));
}
void FakeUiPort::ListAppend(int id, const std::string& item) {
    std::lock_guard lock(mutex_);
    At(id).items.push_back(item);
    Record(Format("ListAppend %d %s", id, item.c_str()));
}
int FakeUiPort::ListSelection(int id) {
    std::lock_guard lock(mutex_);
    return At(id).selection;
}
void FakeUiPort::ListSelect(int id, int position) {
    std::lock_guard lock(mutex_);
    Control& c = At(id);
    c.selection = (position >= 0 && position < static_cast<int>(c.items.size())) ? position : -1;
    Record(Format("ListSelect %d %d", id, position));
}
bool FakeUiPort::AskYesNo(const std::string& text, const std::string& caption) {
    std::lock_guard lock(mutex_);
    bool yes = false;
    if (!answers_.empty()) {
        yes = answers_.front();
        answers_.pop_front();
    }
    Record(Format("AskYesNo %s|%s -> %s", caption.c_str(), text.c_str(), yes ? "yes" : "no"));
    return yes;
}
std::optional<std::string> FakeUiPort::ChooseFile(FileChooserMode mode, const std::string& filter) {
    std::lock_guard lock(mutex_);
    std::optional<std::string> path;
    if (!files_.empty()) {
        path = files_.front();
        files_.pop_front();
    }
    Record(Format("ChooseFile %s %s -> %s", mode == FileChooserMode::Open ? "open" : "save", filter.c_str(),
                  path ? path->c_str() : "cancel"));
    return path;
}
void FakeUiPort::StartTimer(int id, unsigned periodMs) {
    std::lock_guard lock(mutex_);
    timers_[id] = periodMs;
    Record(Format("StartTimer %d %u", id, periodMs));
}
void FakeUiPort::StopTimer(int id) {
    std::lock_guard lock(mutex_);
    timers_.erase(id);
    Record(Format("StopTimer %d", id));
}
void FakeUiPort::EndDialog(int result) {
    std::lock_guard lock(mutex_);
    endResult_ = result;
    Record(Format("EndDialog %d", result));
}
void FakeUiPort::RunAboutBox(const std::string& versionLine) {
    std::lock_guard lock(mutex_);
    about_.push_back(versionLine);
    Record("RunAboutBox " + versionLine);
}
void FakeUiPort::Beep() {
    std::lock_guard lock(mutex_);
    ++beeps_;
    Record("Beep");
}

void FakeUiPort::QueueAnswer(bool yes) {
    std::lock_guard lock(mutex_);
    answers_.push_back(yes);
}
void FakeUiPort::QueueFile(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    files_.push_back(std::move(path));
}
std::string FakeUiPort::Pane() { return GetText(1001); }
int FakeUiPort::Progress(int id) {
    std::lock_guard lock(mutex_);
    return At(id).progress;
}
std::string FakeUiPort::Title() {
    std::lock_guard lock(mutex_);
    return title_;
}
std::vector<std::string> FakeUiPort::ListItems(int id) {
    std::lock_guard lock(mutex_);
    return At(id).items;
}
std::vector<std::string> FakeUiPort::Log() {
    std::lock_guard lock(mutex_);
    return log_;
}
std::optional<int> FakeUiPort::EndResult() {
    std::lock_guard lock(mutex_);
    return endResult_;
}
std::vector<std::string> FakeUiPort::AboutLines() {
    std::lock_guard lock(mutex_);
    return about_;
}
std::map<int, unsigned> FakeUiPort::Timers() {
    std::lock_guard lock(mutex_);
    return timers_;
}
int FakeUiPort::Beeps() {
    std::lock_guard lock(mutex_);
    return beeps_;
}

}  // namespace kt::test
