#include "app/user_files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

int PutAll(int fd, std::string_view bytes) {
    off_t at = 0;
    while (!bytes.empty()) {
        const ssize_t n = pwrite(fd, bytes.data(), bytes.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        bytes.remove_prefix(static_cast<std::size_t>(n));
        at += n;
    }
    return 0;
}

}  // namespace

std::string ShippedFile(const std::string& appDir, std::string_view name) {
    const std::string beside = appDir + std::string(name);
    const std::string installed = appDir + "../share/" + kUserFolderName + "/" + std::string(name);
    return access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0 ? installed : beside;
}

std::string WritableFileFolder(const std::string& appDir, const std::string& userDir, std::string_view name) {
    if (userDir.empty()) return appDir;
    if (ShippedFile(appDir, "Config.ini") != appDir + "Config.ini") return userDir;
    if (access(appDir.empty() ? "." : appDir.c_str(), W_OK) == 0) return appDir;
    const std::string file = appDir + std::string(name);
    if (access(file.c_str(), W_OK) == 0) return appDir;
    return userDir;
}

std::string UserConfigDir() { return XdgDir("XDG_CONFIG_HOME", ".config"); }
std::string UserDataDir() { return XdgDir("XDG_DATA_HOME", ".local/share"); }

bool MakeUserFolders(const std::string& dir) {
    if (dir.empty()) return false;
    for (std::size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int OverwriteInPlace(const std::string& path, std::string_view bytes) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    struct stat st {};
    int err = fstat(fd, &st) != 0 ? errno : (S_ISREG(st.st_mode) ? 0 : EINVAL);
    std::string old;
    if (err == 0) {
        old.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (err == 0 && got < old.size()) {
            const ssize_t n = pread(fd, old.data() + got, old.size() - got, static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) err = n < 0 ? errno : EIO;
            got += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
    }
    const bool haveOld = err == 0;
    // Claim the blocks first: a disk too full for the new content refuses
    // here, before the old content is touched. A file system that cannot
    // claim ahead is written all the same.
    if (err == 0 && bytes.size() > old.size()) {
        const int r = posix_fallocate(fd, 0, static_cast<off_t>(bytes.size()));
        if (r != 0 && r != EOPNOTSUPP && r != EINVAL) err = r;
    }
    if (err == 0) err = PutAll(fd, bytes);
    if (err == 0 && ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) err = errno;
    if (err == 0 && fsync(fd) != 0) err = errno;
    if (err != 0 && haveOld) {
        (void)PutAll(fd, old);
        (void)!ftruncate(fd, static_cast<off_t>(old.size()));
    }
    if (close(fd) != 0 && err == 0) err = errno;
    return err;
}

}  // namespace kt
