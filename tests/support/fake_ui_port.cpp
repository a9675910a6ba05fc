#include "tests/support/fake_ui_port.h"

#include <stdexcept>

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

void FakeUiPort::ListDelete(int id, int position) {
    const Locked l = Lock();
    Control& c = At(id);
    if (position < 0 || position >= static_cast<int>(c.items.size())) return;
    c.items.erase(c.items.begin() + position);
    if (c.selection == position) c.selection = -1;
    if (c.selection > position) --c.selection;
    log_.push_back(Format("ListDelete %d %d", id, position));
}

void FakeUiPort::ListSelect(int id, int position) {
    const Locked l = Rec(Format("ListSelect %d %d", id, position));
    Control& c = At(id);
    c.selection = (position >= 0 && position < static_cast<int>(c.items.size())) ? position : -1;
}

bool FakeUiPort::AskYesNo(const std::string& text, const std::string& caption) {
    const Locked l = Lock();
    const bool yes = !answers_.empty() && answers_.front();
    if (!answers_.empty()) answers_.pop_front();
    log_.push_back(Format("AskYesNo %s|%s -> %s", caption.c_str(), text.c_str(), yes ? "yes" : "no"));
    return yes;
}

std::optional<std::string> FakeUiPort::ChooseFile(FileChooserMode mode, const std::string& filter) {
    const Locked l = Lock();
    std::optional<std::string> path;
    if (!files_.empty()) path = files_.front();
    if (!files_.empty()) files_.pop_front();
    log_.push_back(Format("ChooseFile %s %s -> %s", mode == FileChooserMode::Open ? "open" : "save",
                          filter.c_str(), path ? path->c_str() : "cancel"));
    return path;
}

}  // namespace kt::test
