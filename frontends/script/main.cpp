// kt6200-script [--appdir DIR] [SCRIPT]: runs the main dialog behind a
// scripted user interface (docs/scripting.md).
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <exception>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "common/platform.h"
#include "dialog/KT6200DemoDlg.h"
#include "fileio/file_access.h"
#include "frontends/script/runner.h"

namespace {

constexpr const char* kUsage =
    "usage: kt6200-script [--appdir DIR] [SCRIPT]\n"
    "       kt6200-script --help | --version\n"
    "Runs the main dialog from SCRIPT (standard input without one; docs/scripting.md, man kt6200-script).\n"
    "Exit status: 0 every line ran, 1 internal error, 2 a line that cannot be read or run, or a bad command "
    "line.\n";

// A bad command line: main writes the message and the usage, and exits with status 2.
struct UsageFault {
    std::string message;
};

struct CommandLine {
    std::string app_dir;
    bool have_app_dir = false;
    std::string script_path = "-";
};

// Reads the command line with CLI11 and names a fault as the runner always has: the first in the
// order of the words, the word as it was typed. --help and --version end the reading with
// CLI::CallForHelp and CLI::CallForVersion.
class CommandLineReader {
public:
    explicit CommandLineReader(const std::vector<std::string>& words)
        : words_(words), left_(words.rbegin(), words.rend()) {
        app_.set_help_flag();  // the usage is the documented text, not CLI11's
        app_.allow_extras();   // SCRIPT and unknown options, in order: see TakeScripts
        app_.add_option_function<std::string>("--appdir", [this](const std::string& dir) { TakeAppDir(dir); })
            ->trigger_on_parse();
        app_.add_flag_callback("-h,--help",
                               [this] {
                                   Stop<CLI::CallForHelp>({"-h", "--help"});
                               })
            ->disable_flag_override()
            ->trigger_on_parse();
        app_.add_flag_callback("--version", [this] { Stop<CLI::CallForVersion>({"--version"}); })
            ->disable_flag_override()
            ->trigger_on_parse();
    }

    CommandLine Read() {
        try {
            app_.parse(left_);
        } catch (const CLI::Success&) {
            throw;
        } catch (const CLI::ParseError& e) {
            // --appdir last, or a flag given a value: CLI11's own text is not the runner's.
            TakeScripts();
            if (left_.size() >= words_.size()) throw UsageFault{e.what()};
            if (LastRead() == "--appdir") throw UsageFault{"--appdir needs a directory"};
            throw UsageFault{"unknown option " + LastRead()};
        }
        TakeScripts();
        return line_;
    }

private:
    // CLI11 takes the words from the back of left_; back = 1 is the one before the last it took.
    const std::string& LastRead(size_t back = 0) const {
        return words_[words_.size() - left_.size() - 1 - back];
    }

    // The words that are no option of ours, met so far: one script, and no option we do not know.
    void TakeScripts() {
        bool have_script = false;
        for (const std::string& word : app_.remaining()) {
            if (word.size() > 1 && word[0] == '-') throw UsageFault{"unknown option " + word};
            if (have_script) throw UsageFault{"only one script"};
            line_.script_path = word;
            have_script = true;
        }
    }

    // "--appdir DIR" only: "--appdir=DIR" was never an option here.
    void TakeAppDir(const std::string& dir) {
        TakeScripts();
        const std::string& word = LastRead() == dir ? LastRead(1) : LastRead();
        if (word != "--appdir") throw UsageFault{"unknown option " + word};
        line_.app_dir = dir;
        line_.have_app_dir = true;
    }

    // "-hx" and "--help=true" were never --help here, though CLI11 takes them for it.
    template <class Done>
    [[noreturn]] void Stop(std::initializer_list<const char*> names) {
        TakeScripts();
        if (std::find(names.begin(), names.end(), LastRead()) == names.end())
            throw UsageFault{"unknown option " + LastRead()};
        throw Done();
    }

    const std::vector<std::string>& words_;
    std::vector<std::string> left_;
    CLI::App app_;
    CommandLine line_;
};

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    try {
        line = CommandLineReader(std::vector<std::string>(argv + 1, argv + argc)).Read();
    } catch (const CLI::CallForHelp&) {
        std::cout << kUsage;
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::cout << "kt6200-script " << kt::kVersionMajor << '.' << kt::kVersionMinor << '.'
                  << kt::kVersionPatch << '\n';
        return 0;
    } catch (const UsageFault& fault) {
        std::cerr << "kt6200-script: " << fault.message << '\n' << kUsage;
        return kt::script::kExitBadLine;
    }
    std::string exe_path;
    if (line.have_app_dir) {
        exe_path = kt::script::ExePathInDir(line.app_dir);
    } else {
        exe_path = kt::ExecutablePath();
        if (exe_path.empty()) exe_path = argv[0];
    }

    std::ifstream file;
    std::istream* script = &std::cin;
    if (line.script_path != "-") {
        // A directory opens for reading and then reads as an empty script.
        struct stat st {};
        if (::stat(line.script_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::cerr << "kt6200-script: cannot open script " << line.script_path << ": "
                      << std::generic_category().message(EISDIR) << '\n';
            return kt::script::kExitBadLine;
        }
        file.open(line.script_path, std::ios::binary);
        if (!file) {
            const int err = errno;
            std::cerr << "kt6200-script: cannot open script " << line.script_path << ": "
                      << std::generic_category().message(err) << '\n';
            return kt::script::kExitBadLine;
        }
        script = &file;
    }

    int status = 1;
    try {
        status = kt::script::RunScript(*script, exe_path, std::cout, std::cerr,
                                       line.script_path == "-" ? "standard input" : line.script_path);
    } catch (const std::exception& e) {
        std::cerr << "kt6200-script: " << e.what() << '\n';
    }
    // Output that never arrived (a full disk, /dev/full) fails the run.
    if (const auto failed = kt::fileio::FlushStandardOutput()) {
        std::cerr << "kt6200-script: " << *failed << '\n';
        if (status == 0) status = 1;
    }
    return status;
}
