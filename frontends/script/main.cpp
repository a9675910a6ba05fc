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
    "Exit status: 0 every line ran, 1 internal error, 2 a line that cannot run or a bad command line.\n";

int UsageError(const std::string& message) {
    std::cerr << "kt6200-script: " << message << '\n' << kUsage;
    return kt::script::kExitBadLine;
}

}  // namespace

int main(int argc, char** argv) {
    std::string appDir;
    bool haveAppDir = false;
    std::string scriptPath = "-";
    bool haveScript = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--appdir") {
            if (i + 1 >= argc) return UsageError("--appdir needs a directory");
            appDir = argv[++i];
            haveAppDir = true;
        } else if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--version") {
            std::cout << "kt6200-script " << kt::kVersionMajor << '.' << kt::kVersionMinor << '.'
                      << kt::kVersionPatch << '\n';
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else if (haveScript) {
            return UsageError("only one script");
        } else {
            scriptPath = arg;
            haveScript = true;
        }
    }

    std::string exePath;
    if (haveAppDir) {
        exePath = kt::script::ExePathInDir(appDir);
    } else {
        exePath = kt::ExecutablePath();
        if (exePath.empty()) exePath = argv[0];
    }

    std::ifstream file;
    std::istream* script = &std::cin;
    if (scriptPath != "-") {
        // A directory opens for reading and then reads as an empty script.
        struct stat st {};
        if (::stat(scriptPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::cerr << "kt6200-script: cannot open script " << scriptPath << ": "
                      << std::generic_category().message(EISDIR) << '\n';
            return kt::script::kExitBadLine;
        }
        file.open(scriptPath, std::ios::binary);
        if (!file) {
            const int err = errno;
            std::cerr << "kt6200-script: cannot open script " << scriptPath << ": "
                      << std::generic_category().message(err) << '\n';
            return kt::script::kExitBadLine;
        }
        script = &file;
    }

    int status = 1;
    try {
        status = kt::script::RunScript(*script, exePath, std::cout, std::cerr);
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
