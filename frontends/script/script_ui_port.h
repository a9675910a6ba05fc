// The user interface of the script runner: every control of the main dialog
// as plain state (text, enabled state, list items and selection), the title,
// answers for questions and file choosers queued by the script, and dialog
// timers.
//
// The thread that constructs the port is its user-interface thread. A call
// from any other thread (a transfer worker) is queued and the caller waits
// until the user-interface thread has run it, which happens only while that
// thread processes (Process, or a modal question or chooser it is showing),
// just as cross-thread window calls wait for the window's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "handlers/base/ui_port.h"

namespace kt::script {

class ScriptUiPort : public IUiPort {
public:
    // Receives each event line (question, chooser, end of the dialog), without
    // the line end, in the order the events happen.
    using EventSink = std::function<void(const std::string& line)>;
    // Receives each timer tick on the user-interface thread.
    using TimerHandler = std::function<void(int id)>;

    explicit ScriptUiPort(EventSink sink = {});
    ~ScriptUiPort() override;

    ScriptUiPort(const ScriptUiPort&) = delete;
    ScriptUiPort& operator=(const ScriptUiPort&) = delete;

    void SetTimerHandler(TimerHandler handler);

    // ---- IUiPort ----
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

    // ---- the script's side (user-interface thread) ----
    void QueueAnswer(bool yes);
    void QueueFile(std::optional<std::string> path);

    // Runs the calls other threads have queued, then returns.
    void RunPending();
    // Runs queued calls and timer ticks for at most `budget`. With `until`,
    // returns true as soon as it holds (tested after each round of work);
    // without it, processes for the whole budget and returns false.
    bool Process(std::chrono::milliseconds budget, const std::function<bool()>& until = {});
    // From now on calls from other threads run at once on the calling thread:
    // the user-interface thread no longer processes (the run is over).
    void Shutdown();

    // ---- state, readable from any thread ----
    bool HasControl(int id);
    std::vector<std::string> ListItems(int id);
    std::string Title();
    bool TimerActive();
    std::optional<int> EndResult();
    std::optional<std::string> AboutLine();  // version line of the last About box
    int Beeps();

private:
    struct Control {
        std::string text;
        bool enabled = true;
        bool upper_case = false;
        bool is_list = false;
        bool is_progress = false;
        int progress = 0;
        std::vector<std::string> items;
        int selection = -1;
    };
    struct Timer {
        std::chrono::milliseconds period;
        std::chrono::steady_clock::time_point due;
    };
    struct Call {
        explicit Call(std::function<void()> fn) : run(std::move(fn)) {}
        std::function<void()> run;
        bool done = false;
        std::exception_ptr error;
    };

    // Runs fn on the user-interface thread and returns its result.
    template <class F>
    auto OnUiThread(F fn) -> decltype(fn());
    void Post(Call& call);
    bool RunOneQueued();
    void FireDueTimers();
    void Emit(const std::string& line);
    // Takes the next queued answer (no when none) and reports the question.
    bool Answer(const std::string& text, const std::string& caption);
    Control* Find(int id);  // state_ held; nullptr for an id the dialog has no control for

    const std::thread::id ui_thread_;
    EventSink sink_;
    TimerHandler timer_handler_;

    std::mutex queue_mutex_;
    std::condition_variable queued_;  // a call was queued
    std::condition_variable ran_;     // a queued call was run
    std::deque<Call*> queue_;
    bool shutdown_ = false;

    std::recursive_mutex state_;
    std::map<int, Control> controls_;
    std::string title_;
    std::deque<bool> answers_;
    std::deque<std::optional<std::string>> files_;
    std::map<int, Timer> timers_;
    std::optional<int> end_result_;
    std::optional<std::string> about_line_;
    int beeps_ = 0;
};

}  // namespace kt::script
