// The script runner: builds the main dialog on a ScriptUiPort, initialises
// it as the desktop program does, executes a script line by line and
// writes results and events to an output stream.
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "dialog/KT6200DemoDlg.h"
#include "frontends/script/script_line.h"
#include "frontends/script/script_ui_port.h"

namespace kt::script {

// Exit status for a script line that cannot be run.
inline constexpr int kExitBadLine = 2;
// How long `wait` processes when the script gives no limit.
inline constexpr std::int64_t kDefaultWaitMs = 60'000;

// Executes script lines against an initialised dialog. Results and events go
// to `out`, one line each, flushed per line; a line that cannot be run gets
// one message on `err` naming its line number.
class Runner {
public:
    Runner(ScriptUiPort& port, CKT6200DemoDlg& dlg, std::ostream& out, std::ostream& err);

    // Runs every line; returns 0, or kExitBadLine at the first line that
    // cannot be read or run (messages put `name`, the script's, before the line number). Either way a
    // transfer still running at the end is cancelled and waited for, so that the worker never outlives the
    // run.
    int Run(std::istream& script, const std::string& name = "");

    // Writes one output line (used by the port's event sink too).
    void WriteLine(const std::string& line);

private:
    // Empty on success, else what is wrong with the line. Execute finds the
    // verb's entry in a table of the members below.
    std::string Execute(const Command& c);
    std::string Set(const Command& c);
    std::string Click(const Command& c);
    std::string Select(const Command& c);
    std::string KeyEnter(const Command& c);
    std::string KeyEscape(const Command& c);
    std::string Close(const Command& c);
    std::string Answer(const Command& c);
    std::string Choose(const Command& c);
    std::string Sleep(const Command& c);
    std::string Wait(const Command& c);
    std::string WaitCall(const Command& c);
    std::string Print(const Command& c);
    std::string Text(const Command& c);
    std::string Enabled(const Command& c);
    std::string Selection(const Command& c);
    std::string Items(const Command& c);
    std::string Title(const Command& c);
    std::string About(const Command& c);
    std::string ControlFor(const std::string& name, int& id);
    std::string ListFor(const std::string& name, int& id);
    void FinishTransfer();

    ScriptUiPort& port_;
    CKT6200DemoDlg& dlg_;
    std::ostream& out_;
    std::ostream& err_;
};

// The whole program after argument parsing: the port, the dialog (its
// program directory derived from exe_path), initialisation, the script.
// Returns the exit status.
int RunScript(std::istream& script, const std::string& exe_path, std::ostream& out, std::ostream& err,
              const std::string& name = "");

// The executable path the dialog is given for --appdir DIR.
std::string ExePathInDir(const std::string& dir);

}  // namespace kt::script
