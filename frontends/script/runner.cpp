#include "frontends/script/runner.h"

#include <chrono>
#include <cstdio>
#include <ios>
#include <iostream>
#include <system_error>

#include "common/control_ids.h"
#include "dialog/dialog_template.h"
#include "frontends/script/json_string.h"
#include "frontends/script/script_line.h"

namespace kt::script {
namespace {

constexpr const char* kProgramName = "kt6200-script";

// Far beyond any command, and short of what memory holds.
constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

enum class LineRead { Line, End, Failed };

// One line, without its '\n'. A read error (thrown by a file's buffer, or kept by standard
// input's C stream) and a line past the limit fail with the reason in `why`: a script cut
// short must not pass for one that ran to its end.
LineRead ReadLine(std::istream& in, std::string& line, std::string& why) {
    line.clear();
    std::streambuf* const buf = in.rdbuf();
    try {
        for (bool any = false;; any = true) {
            const int c = buf->sbumpc();
            if (c == std::char_traits<char>::eof()) {
                if (&in == &std::cin && std::ferror(stdin) != 0) {
                    why = "cannot be read: " + std::generic_category().message(errno);
                    return LineRead::Failed;
                }
                return any ? LineRead::Line : LineRead::End;
            }
            if (c == '\n') return LineRead::Line;
            if (line.size() == kMaxLineBytes) {
                why = "longer than " + std::to_string(kMaxLineBytes) + " bytes, the limit for a line";
                return LineRead::Failed;
            }
            line.push_back(static_cast<char>(c));
        }
    } catch (const std::ios_base::failure& e) {
        why = "cannot be read: " + e.code().message();
    } catch (const std::bad_alloc&) {
        why = "cannot be read: out of memory";
    }
    return LineRead::Failed;
}

}  // namespace

Runner::Runner(ScriptUiPort& port, CKT6200DemoDlg& dlg, std::ostream& out, std::ostream& err)
    : port_(port), dlg_(dlg), out_(out), err_(err) {}

void Runner::WriteLine(const std::string& line) { out_ << line << '\n' << std::flush; }

// A name that must denote a control of the dialog (by name or by number).
std::string Runner::ControlFor(const std::string& name, int& id) {
    const auto resolved = ResolveCommandId(name);
    if (!resolved || !port_.HasControl(*resolved)) return "unknown control " + Quoted(name);
    id = *resolved;
    return {};
}

std::string Runner::ListFor(const std::string& name, int& id) {
    if (std::string error = ControlFor(name, id); !error.empty()) return error;
    const ControlEntry* spec = FindControl(id);
    if (!spec || spec->kind != ControlKind::DropDownList) return Quoted(name) + " is not a list";
    return {};
}

std::string Runner::Execute(const Command& c) {
    using Handler = std::string (Runner::*)(const Command&);
    struct Entry {
        Verb verb;
        Handler handler;
    };
    static constexpr Entry kVerbs[] = {
        {Verb::Set, &Runner::Set},
        {Verb::Click, &Runner::Click},
        {Verb::Select, &Runner::Select},
        {Verb::KeyEnter, &Runner::KeyEnter},
        {Verb::KeyEscape, &Runner::KeyEscape},
        {Verb::Close, &Runner::Close},
        {Verb::Answer, &Runner::Answer},
        {Verb::Choose, &Runner::Choose},
        {Verb::Sleep, &Runner::Sleep},
        {Verb::Wait, &Runner::Wait},
        {Verb::WaitCall, &Runner::WaitCall},
        {Verb::Print, &Runner::Print},
        {Verb::Text, &Runner::Text},
        {Verb::Enabled, &Runner::Enabled},
        {Verb::Selection, &Runner::Selection},
        {Verb::Items, &Runner::Items},
        {Verb::Title, &Runner::Title},
        {Verb::About, &Runner::About},
    };
    for (const Entry& e : kVerbs)
        if (e.verb == c.verb) return (this->*e.handler)(c);
    return "verb not handled";
}

std::string Runner::Set(const Command& c) {
    int id = 0;
    if (std::string error = ControlFor(c.name, id); !error.empty()) return error;
    const ControlEntry* spec = FindControl(id);
    if (spec && spec->kind == ControlKind::DropDownList)
        return Quoted(c.name) + " is a list: pick an item with select";
    port_.SetText(id, c.text);
    return {};
}

std::string Runner::Click(const Command& c) {
    const auto resolved = ResolveCommandId(c.name);
    if (!resolved) return "unknown control " + Quoted(c.name);
    // A disabled control sends nothing; commands without a visible
    // control are sent as the platform would send them.
    if (port_.HasControl(*resolved) && !port_.IsControlEnabled(*resolved)) return {};
    dlg_.Dispatch(DialogMessage::Command, static_cast<std::uintptr_t>(*resolved));
    return {};
}

std::string Runner::Select(const Command& c) {
    int id = 0;
    if (std::string error = ListFor(c.name, id); !error.empty()) return error;
    const int count = port_.ListCount(id);
    if (c.number < 0 || c.number >= count)
        return "position " + std::to_string(c.number) + " is outside " + c.name + " (" +
               std::to_string(count) + " items)";
    if (!port_.IsControlEnabled(id)) return {};
    port_.ListSelect(id, static_cast<int>(c.number));
    dlg_.Dispatch(DialogMessage::SelChange, static_cast<std::uintptr_t>(id));
    return {};
}

std::string Runner::KeyEnter(const Command& c) {
    int id = 0;
    if (std::string error = ControlFor(c.name, id); !error.empty()) return error;
    const ControlEntry* spec = FindControl(id);
    // The output pane takes Enter itself.
    if (spec && spec->kind == ControlKind::OutputPane) return {};
    // The dialog manager sends the default button's command only
    // while that button is enabled.
    if (port_.IsControlEnabled(IDOK))
        dlg_.Dispatch(DialogMessage::Command, IDOK);
    else
        port_.Beep();
    return {};
}

std::string Runner::KeyEscape(const Command& /*c*/) {
    dlg_.Dispatch(DialogMessage::Command, IDCANCEL);
    return {};
}

std::string Runner::Close(const Command& /*c*/) {
    dlg_.Dispatch(DialogMessage::Close);
    return {};
}

std::string Runner::Answer(const Command& c) {
    port_.QueueAnswer(c.flag);
    return {};
}

std::string Runner::Choose(const Command& c) {
    port_.QueueFile(c.flag ? std::nullopt : std::optional<std::string>(c.text));
    return {};
}

std::string Runner::Sleep(const Command& c) {
    port_.Process(std::chrono::milliseconds(c.number));
    return {};
}

std::string Runner::Wait(const Command& c) {
    const std::int64_t limit = c.flag ? c.number : kDefaultWaitMs;
    const bool idle = port_.Process(std::chrono::milliseconds(limit),
                                    [&] { return !dlg_.TransferRunning() && !port_.TimerActive(); });
    if (!idle) return "wait timed out after " + std::to_string(limit) + " ms";
    return {};
}

std::string Runner::WaitCall(const Command& c) {
    const std::int64_t limit = c.flag ? c.number : kDefaultWaitMs;
    const bool in_call =
        port_.Process(std::chrono::milliseconds(limit), [&] { return dlg_.TransferInDeviceCall(); });
    if (!in_call) return "wait call timed out after " + std::to_string(limit) + " ms";
    return {};
}

std::string Runner::Print(const Command& /*c*/) {
    WriteLine(JsonString(port_.GetText(IDC_EDIT_LOG)));
    return {};
}

std::string Runner::Text(const Command& c) {
    int id = 0;
    if (std::string error = ControlFor(c.name, id); !error.empty()) return error;
    WriteLine(JsonString(port_.GetText(id)));
    return {};
}

std::string Runner::Enabled(const Command& c) {
    int id = 0;
    if (std::string error = ControlFor(c.name, id); !error.empty()) return error;
    WriteLine(port_.IsControlEnabled(id) ? "true" : "false");
    return {};
}

std::string Runner::Selection(const Command& c) {
    int id = 0;
    if (std::string error = ListFor(c.name, id); !error.empty()) return error;
    WriteLine(std::to_string(port_.ListSelection(id)));
    return {};
}

std::string Runner::Items(const Command& c) {
    int id = 0;
    if (std::string error = ListFor(c.name, id); !error.empty()) return error;
    std::string line = "[";
    for (const std::string& item : port_.ListItems(id)) {
        if (line.size() > 1) line += ',';
        line += JsonString(item);
    }
    WriteLine(line + "]");
    return {};
}

std::string Runner::Title(const Command& /*c*/) {
    WriteLine(JsonString(port_.Title()));
    return {};
}

std::string Runner::About(const Command& /*c*/) {
    dlg_.Dispatch(DialogMessage::SysCommand, IDM_ABOUTBOX);
    const auto line = port_.AboutLine();
    WriteLine(line ? JsonString(*line) : std::string("null"));
    return {};
}

void Runner::FinishTransfer() {
    if (dlg_.TransferRunning()) {
        // The cancel request Exit makes; the worker stops after the device
        // call in progress. Its requests are served meanwhile.
        dlg_.CancelTransfer();
        while (!port_.Process(std::chrono::hours(1), [&] { return !dlg_.TransferRunning(); })) {
        }
    }
    port_.Shutdown();
}

int Runner::Run(std::istream& script, const std::string& name) {
    int status = 0;
    std::string line;
    std::string why;
    for (int number = 1;; ++number) {
        const LineRead read = ReadLine(script, line, why);
        if (read == LineRead::End) break;
        if (read == LineRead::Failed) {
            err_ << kProgramName << ": " << (name.empty() ? "" : name + ": ") << "line " << number << ": "
                 << why << std::endl;
            status = kExitBadLine;
            break;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // Editors that save "UTF-8 with BOM" put one before the first verb.
        if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        const ParsedLine parsed = ParseLine(line);
        if (parsed.kind == ParsedLine::Kind::Skip) continue;
        std::string error = parsed.error;
        if (error.empty() && port_.EndResult()) error = "the dialog has ended";
        if (error.empty()) error = Execute(parsed.command);
        if (!error.empty()) {
            err_ << kProgramName << ": line " << number << ": " << error << std::endl;
            status = kExitBadLine;
            break;
        }
    }
    FinishTransfer();
    return status;
}

int RunScript(std::istream& script, const std::string& exe_path, std::ostream& out, std::ostream& err,
              const std::string& name) {
    Runner* runner = nullptr;
    ScriptUiPort port([&](const std::string& line) {
        if (runner) runner->WriteLine(line);
    });
    CKT6200DemoDlg dlg(port, exe_path);
    Runner r(port, dlg, out, err);
    runner = &r;
    port.SetTimerHandler(
        [&](int id) { dlg.Dispatch(DialogMessage::Timer, static_cast<std::uintptr_t>(id)); });
    dlg.OnInitDialog();
    return r.Run(script, name);
}

std::string ExePathInDir(const std::string& dir) {
    std::string d = dir.empty() ? std::string(".") : dir;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    if (d == "/") return "/" + std::string(kProgramName);
    return d + "/" + kProgramName;
}

}  // namespace kt::script
