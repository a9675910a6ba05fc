#include "frontends/script/script_ui_port.h"

#include <algorithm>
#include <filesystem>
#include <type_traits>

#include "common/control_ids.h"
#include "dialog/dialog_template.h"
#include "frontends/script/json_string.h"

namespace kt::script {
namespace {

using Clock = std::chrono::steady_clock;

// The platform's shortest timer period; a shorter one would spin.
constexpr std::chrono::milliseconds kMinTimerPeriod{10};
// How often Process re-tests its condition when no work arrives: the
// condition may change on another thread without a port call (a worker
// clearing its handle as its last action).
constexpr std::chrono::milliseconds kPollPeriod{2};

void ToUpperAscii(std::string& text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

}  // namespace

ScriptUiPort::ScriptUiPort(EventSink sink) : ui_thread_(std::this_thread::get_id()), sink_(std::move(sink)) {
    MainDialogTemplate().ForEachControl([this](const ControlEntry& c) {
        if (c.id == IDC_STATIC) return;
        Control& control = controls_[c.id];
        control.text = c.caption;
        control.upper_case = (c.style & kStyleUpperCase) != 0;
        control.is_list = c.kind == ControlKind::DropDownList;
        control.is_progress = c.kind == ControlKind::ProgressBar;
    });
    // The template's initial list data, filled when the dialog is created.
    if (const ControlEntry* dme = FindControl("IDC_COMBO_DME_TYPE"))
        for (const char* item : kDmeTypeItems) controls_[dme->id].items.emplace_back(item);
}

ScriptUiPort::~ScriptUiPort() { Shutdown(); }

void ScriptUiPort::SetTimerHandler(TimerHandler handler) { timer_handler_ = std::move(handler); }

// ---- cross-thread calls ----

template <class F>
auto ScriptUiPort::OnUiThread(F fn) -> decltype(fn()) {
    using R = decltype(fn());
    if (std::this_thread::get_id() == ui_thread_) return fn();
    if constexpr (std::is_void_v<R>) {
        Call call([&] { fn(); });
        Post(call);
    } else {
        std::optional<R> result;
        Call call([&] { result.emplace(fn()); });
        Post(call);
        return std::move(*result);
    }
}

void ScriptUiPort::Post(Call& call) {
    std::unique_lock lock(queue_mutex_);
    if (shutdown_) {
        lock.unlock();
        call.run();
        return;
    }
    queue_.push_back(&call);
    queued_.notify_all();
    ran_.wait(lock, [&] { return call.done; });
    if (call.error) std::rethrow_exception(call.error);
}

bool ScriptUiPort::RunOneQueued() {
    Call* call = nullptr;
    {
        std::lock_guard lock(queue_mutex_);
        if (queue_.empty()) return false;
        call = queue_.front();
        queue_.pop_front();
    }
    try {
        call->run();
    } catch (...) {
        call->error = std::current_exception();
    }
    std::lock_guard lock(queue_mutex_);
    call->done = true;
    ran_.notify_all();
    return true;
}

void ScriptUiPort::RunPending() {
    while (RunOneQueued()) {
    }
}

void ScriptUiPort::FireDueTimers() {
    const auto now = Clock::now();
    std::vector<int> due;
    {
        std::lock_guard lock(state_);
        for (auto& [id, timer] : timers_) {
            if (timer.due > now) continue;
            due.push_back(id);
            // Ticks that were missed are not made up for, as with the platform.
            timer.due = now + timer.period;
        }
    }
    for (int id : due) {
        {
            std::lock_guard lock(state_);
            if (!timers_.contains(id)) continue;  // stopped by an earlier tick
        }
        if (timer_handler_) timer_handler_(id);
    }
}

bool ScriptUiPort::Process(std::chrono::milliseconds budget, const std::function<bool()>& until) {
    const auto deadline = Clock::now() + budget;
    for (;;) {
        RunPending();
        FireDueTimers();
        RunPending();
        if (until && until()) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        auto wake_at = deadline;
        {
            std::lock_guard lock(state_);
            for (const auto& [id, timer] : timers_) wake_at = std::min(wake_at, timer.due);
        }
        if (until) wake_at = std::min(wake_at, now + kPollPeriod);
        std::unique_lock lock(queue_mutex_);
        queued_.wait_until(lock, wake_at, [&] { return !queue_.empty(); });
    }
}

void ScriptUiPort::Shutdown() {
    {
        std::lock_guard lock(queue_mutex_);
        shutdown_ = true;
    }
    RunPending();  // release the callers already waiting
}

void ScriptUiPort::Emit(const std::string& line) {
    if (sink_) sink_(line);
}

ScriptUiPort::Control* ScriptUiPort::Find(int id) {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

// ---- IUiPort ----
// An id the dialog has no control for is ignored, as the platform ignores a
// missing child window: writes do nothing, reads give empty values.

std::string ScriptUiPort::GetText(int id) {
    return OnUiThread([&]() -> std::string {
        std::lock_guard lock(state_);
        const Control* c = Find(id);
        if (!c) return {};
        // A progress bar reads as its position, 0 to 1000.
        if (c->is_progress) return std::to_string(c->progress);
        // A drop-down list shows its selected item.
        if (c->is_list)
            return c->selection >= 0 && c->selection < static_cast<int>(c->items.size())
                       ? c->items[c->selection]
                       : std::string();
        return c->text;
    });
}

void ScriptUiPort::SetText(int id, const std::string& text) {
    OnUiThread([&] {
        std::lock_guard lock(state_);
        Control* c = Find(id);
        if (!c || c->is_list || c->is_progress) return;
        c->text = text;
        if (c->upper_case) ToUpperAscii(c->text);
    });
}

void ScriptUiPort::AppendText(int id, const std::string& text) {
    // One step on the user-interface thread: concurrent appends never lose a line.
    OnUiThread([&] {
        std::lock_guard lock(state_);
        Control* c = Find(id);
        if (!c || c->is_list || c->is_progress) return;
        std::string tail = text;
        if (c->upper_case) ToUpperAscii(tail);
        c->text += tail;
    });
}

void ScriptUiPort::SetTitle(const std::string& title) {
    OnUiThread([&] {
        std::lock_guard lock(state_);
        title_ = title;
    });
}

void ScriptUiPort::EnableControl(int id, bool enable) {
    OnUiThread([&] {
        std::lock_guard lock(state_);
        if (Control* c = Find(id)) c->enabled = enable;
    });
}

bool ScriptUiPort::IsControlEnabled(int id) {
    return OnUiThread([&] {
        std::lock_guard lock(state_);
        const Control* c = Find(id);
        return c != nullptr && c->enabled;
    });
}

void ScriptUiPort::SetProgress(int id, int permille) {
    OnUiThread([&] {
        std::lock_guard lock(state_);
        Control* c = Find(id);
        if (c && c->is_progress) c->progress = permille;
    });
}

int ScriptUiPort::ListCount(int id) {
    return OnUiThread([&] {
        std::lock_guard lock(state_);
        const Control* c = Find(id);
        return c ? static_cast<int>(c->items.size()) : 0;
    });
}

void ScriptUiPort::ListDelete(int id, int position) {
    OnUiThread([&] {
        std::lock_guard lock(state_);
        Control* c = Find(id);
        if (!c || position < 0 || position >= static_cast<int>(c->items.size())) return;
        c->items.erase(c->items.begin() + position);
        if (c->selection == position)
            c->selection = -1;
        else if (c->selection > position)
            --c->selection;
    });
}

void ScriptUiPort::ListAppend(int id, const std::string& item) {
    OnUiThread([&] {
        std::lock_guard lock(state_);
        Control* c = Find(id);
        if (c && c->is_list) c->items.push_back(item);
    });
}

int ScriptUiPort::ListSelection(int id) {
    return OnUiThread([&] {
        std::lock_guard lock(state_);
        const Control* c = Find(id);
        return c ? c->selection : -1;
    });
}

void ScriptUiPort::ListSelect(int id, int position) {
    OnUiThread([&] {
        std::lock_guard lock(state_);
        Control* c = Find(id);
        if (!c || !c->is_list) return;
        // A position outside the list clears the selection.
        c->selection = position >= 0 && position < static_cast<int>(c->items.size()) ? position : -1;
    });
}

bool ScriptUiPort::Answer(const std::string& text, const std::string& caption) {
    bool yes = false;
    {
        std::lock_guard lock(state_);
        if (!answers_.empty()) {
            yes = answers_.front();
            answers_.pop_front();
        }
    }
    Emit("? yesno " + JsonString(caption) + " " + JsonString(text) + " -> " + (yes ? "yes" : "no"));
    return yes;
}

bool ScriptUiPort::AskYesNo(const std::string& text, const std::string& caption) {
    return OnUiThread([&] {
        const bool yes = Answer(text, caption);
        RunPending();  // a modal box keeps serving other threads' calls
        return yes;
    });
}

std::optional<std::string> ScriptUiPort::ChooseFile(FileChooserMode mode, const std::string& filter) {
    return OnUiThread([&] {
        std::optional<std::string> path;
        {
            std::lock_guard lock(state_);
            if (!files_.empty()) {
                path = files_.front();
                files_.pop_front();
            }
        }
        Emit(std::string("? file ") + (mode == FileChooserMode::Open ? "open " : "save ") +
             JsonString(filter) + " -> " + (path ? JsonString(*path) : std::string("cancel")));
        // The save chooser confirms replacing an existing file, as the
        // platform's does; with no queued answer the file is kept.
        std::error_code ec;
        if (path && mode == FileChooserMode::Save && std::filesystem::exists(*path, ec) &&
            !Answer(*path + " already exists.\nDo you want to replace it?", "Confirm Save As"))
            path.reset();
        RunPending();
        // A chooser answers with a full path; the dialog passes it on to the
        // library, whose working directory need not be the script's.
        if (path) {
            const std::filesystem::path full = std::filesystem::absolute(*path, ec);
            if (!ec) path = full.string();
        }
        return path;
    });
}

void ScriptUiPort::StartTimer(int id, unsigned period_ms) {
    OnUiThread([&] {
        std::lock_guard lock(state_);
        const auto period = std::max(std::chrono::milliseconds(period_ms), kMinTimerPeriod);
        // Starting a running timer again restarts it with the new period.
        timers_[id] = Timer{period, Clock::now() + period};
    });
}

void ScriptUiPort::StopTimer(int id) {
    OnUiThread([&] {
        std::lock_guard lock(state_);
        timers_.erase(id);
    });
}

void ScriptUiPort::EndDialog(int result) {
    OnUiThread([&] {
        {
            std::lock_guard lock(state_);
            if (end_result_) return;  // the dialog ends once
            end_result_ = result;
        }
        Emit("ended " + std::to_string(result));
    });
}

void ScriptUiPort::RunAboutBox(const std::string& version_line) {
    OnUiThread([&] {
        {
            std::lock_guard lock(state_);
            about_line_ = version_line;
        }
        RunPending();
    });
}

void ScriptUiPort::Beep() {
    OnUiThread([&] {
        std::lock_guard lock(state_);
        ++beeps_;
    });
}

// ---- the script's side ----

void ScriptUiPort::QueueAnswer(bool yes) {
    std::lock_guard lock(state_);
    answers_.push_back(yes);
}

void ScriptUiPort::QueueFile(std::optional<std::string> path) {
    std::lock_guard lock(state_);
    files_.push_back(std::move(path));
}

bool ScriptUiPort::HasControl(int id) {
    std::lock_guard lock(state_);
    return Find(id) != nullptr;
}

std::vector<std::string> ScriptUiPort::ListItems(int id) {
    std::lock_guard lock(state_);
    const Control* c = Find(id);
    return c ? c->items : std::vector<std::string>();
}

std::string ScriptUiPort::Title() {
    std::lock_guard lock(state_);
    return title_;
}

bool ScriptUiPort::TimerActive() {
    std::lock_guard lock(state_);
    return !timers_.empty();
}

std::optional<int> ScriptUiPort::EndResult() {
    std::lock_guard lock(state_);
    return end_result_;
}

std::optional<std::string> ScriptUiPort::AboutLine() {
    std::lock_guard lock(state_);
    return about_line_;
}

int ScriptUiPort::Beeps() {
    std::lock_guard lock(state_);
    return beeps_;
}

}  // namespace kt::script
