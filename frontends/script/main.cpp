// kt6200-script [--appdir DIR] [SCRIPT]: runs the main dialog behind a
// scripted user interface (docs/scripting.md).
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>

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

int UsageError(const std::string& message) {
    std::cerr << "kt6200-script: " << message << '\n' << kUsage;
    return kt::script::kExitBadLine;
}

}  // namespace

int main(int argc, char** argv) {
    std::string app_dir;
    bool have_app_dir = false;
    std::string script_path = "-";
    bool have_script = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--appdir") {
            if (i + 1 >= argc) return UsageError("--appdir needs a directory");
            app_dir = argv[++i];
            have_app_dir = true;
        } else if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--version") {
            std::cout << "kt6200-script " << kt::kVersionMajor << '.' << kt::kVersionMinor << '.'
                      << kt::kVersionPatch << '\n';
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else if (have_script) {
            return UsageError("only one script");
        } else {
            script_path = arg;
            have_script = true;
        }
    }

    std::string exe_path;
    if (have_app_dir) {
        exe_path = kt::script::ExePathInDir(app_dir);
    } else {
        exe_path = kt::ExecutablePath();
        if (exe_path.empty()) exe_path = argv[0];
    }

    std::ifstream file;
    std::istream* script = &std::cin;
    if (script_path != "-") {
        // A directory opens for reading and then reads as an empty script.
        struct stat st {};
        if (::stat(script_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::cerr << "kt6200-script: cannot open script " << script_path << ": "
                      << std::generic_category().message(EISDIR) << '\n';
            return kt::script::kExitBadLine;
        }
        file.open(script_path, std::ios::binary);
        if (!file) {
            const int err = errno;
            std::cerr << "kt6200-script: cannot open script " << script_path << ": "
                      << std::generic_category().message(err) << '\n';
            return kt::script::kExitBadLine;
        }
        script = &file;
    }

    int status = 1;
    try {
        status = kt::script::RunScript(*script, exe_path, std::cout, std::cerr,
                                       script_path == "-" ? "standard input" : script_path);
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
