#include "common/user_files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "fileio/file_access.h"

namespace kt {
namespace {

// The environment and the password database are read on the user-interface
// thread only; nothing changes them while the program runs.
std::string HomeDir() {
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') return pw->pw_dir;
    return {};
}

std::string XdgDir(const char* variable, const char* fallback) {
    std::string base;
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    if (const char* v = std::getenv(variable); v && v[0] == '/') {
        base = v;
    } else {
        const std::string home = HomeDir();
        if (home.empty()) return {};
        base = home + "/" + fallback;
    }
    if (base.back() != '/') base += '/';
    return base + kUserFolderName + "/";
}

}  // namespace

std::string ShippedFile(const std::string& app_dir, std::string_view name) {
    const std::string beside = app_dir + std::string(name);
    const std::string installed = app_dir + "../share/" + kUserFolderName + "/" + std::string(name);
    return access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0 ? installed : beside;
}

std::string WritableFileFolder(const std::string& app_dir, const std::string& user_dir,
                               std::string_view name) {
    if (user_dir.empty()) return app_dir;
    if (ShippedFile(app_dir, "Config.ini") != app_dir + "Config.ini") return user_dir;
    if (access(app_dir.empty() ? "." : app_dir.c_str(), W_OK) == 0) return app_dir;
    const std::string file = app_dir + std::string(name);
    if (access(file.c_str(), W_OK) == 0) return app_dir;
    return user_dir;
}

std::string UserConfigDir() { return XdgDir("XDG_CONFIG_HOME", ".config"); }
std::string UserDataDir() { return XdgDir("XDG_DATA_HOME", ".local/share"); }

bool MakeUserFolders(const std::string& dir) {
    if (dir.empty()) return false;
    const int error = fileio::MakeFolders(dir, 0700);
    if (error != 0) errno = error;
    return error == 0;
}

}  // namespace kt
