// What the dialog logic needs from a user interface, addressed by control
// identifier. The dialog talks to nothing else of the window system, so the
// same handlers run behind the Qt widgets, the script runner and the tests.
//
// Thread rule: every operation may be called from the user-interface thread
// or from a transfer worker. An implementation runs the operation on its
// user-interface thread; a caller on another thread waits until it is done.
#pragma once

#include <optional>
#include <string>

namespace kt {

enum class FileChooserMode { Open, Save };

// The full scale of a progress bar.
inline constexpr int kProgressMax = 1000;

class IUiPort {
public:
    virtual ~IUiPort() = default;

    // Text of an edit field, a button or group box caption, or the pane (UTF-8).
    virtual std::string GetText(int id) = 0;
    virtual void SetText(int id, const std::string& text) = 0;
    // Appends to a control's text in one step (read, append, write back), so
    // two threads appending at once never lose a line.
    virtual void AppendText(int id, const std::string& text) = 0;
    virtual void SetTitle(const std::string& title) = 0;

    virtual void EnableControl(int id, bool enable) = 0;
    virtual bool IsControlEnabled(int id) = 0;

    // Position of a progress bar, 0 to kProgressMax (the whole).
    virtual void SetProgress(int id, int permille) = 0;

    // Lists. Selecting from code raises no selection-change command.
    virtual int ListCount(int id) = 0;
    virtual void ListDelete(int id, int position) = 0;
    virtual void ListAppend(int id, const std::string& item) = 0;
    virtual int ListSelection(int id) = 0;              // -1 = none
    virtual void ListSelect(int id, int position) = 0;  // -1 = none

    // Modal questions; the caller waits for the answer.
    virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
    // filter: description|pattern pairs separated by '|', ended by "||".
    // Returns the chosen full path, nullopt when cancelled. The save chooser
    // asks before an existing file is replaced.
    virtual std::optional<std::string> ChooseFile(FileChooserMode mode, const std::string& filter) = 0;

    // Dialog timer: ticks reach the dialog as OnTimer(id) on the UI thread.
    virtual void StartTimer(int id, unsigned period_ms) = 0;
    virtual void StopTimer(int id) = 0;

    // Ends the modal dialog with a result.
    virtual void EndDialog(int result) = 0;
    // Runs the About box modally; versionLine is its version text.
    virtual void RunAboutBox(const std::string& version_line) = 0;
    // The warning sound a disabled default action gives.
    virtual void Beep() = 0;
};

}  // namespace kt
