#include "config.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "diag.h"
#include "emu/emulator_backend.h"
#include "fileio/file_access.h"
#include "host/linux_backend.h"

namespace kt62 {
namespace {

namespace fs = std::filesystem;

std::string EnvOrEmpty(const char* name) {
    const char* v = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): nobody sets these during calls
    return v ? v : "";
}

std::shared_ptr<Emulation> MakeEmulation(const Profile& profile, const fs::path& state_dir) {
    auto e = std::make_shared<Emulation>(profile.faults);
    for (size_t i = 0; i < profile.programmers.size(); ++i)
        e->Add(emu::MakeEmulatorBackend(static_cast<int>(i), profile.programmers[i], state_dir),
               profile.programmers[i].faults);
    return e;
}

}  // namespace

std::string ProfileMessage(const std::string& file, const ProfileError& error) {
    return error.key.empty() ? file + ": " + error.reason : file + ": " + error.key + ": " + error.reason;
}

fs::path DefaultStateDir() {
    const std::string xdg = EnvOrEmpty("XDG_DATA_HOME");
    // Relative values are invalid by the XDG rules and are ignored like an unset one.
    if (!xdg.empty() && xdg.front() == '/') return fs::path(xdg) / "kt6200" / "emulator";
    std::string home = EnvOrEmpty("HOME");
    if (home.empty()) {
        struct passwd pw;
        struct passwd* found = nullptr;
        char buf[4096];
        if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
            home = found->pw_dir;
    }
    if (home.empty()) return {};
    return fs::path(home) / ".local" / "share" / "kt6200" / "emulator";
}

fs::path ProfileStateDir(const fs::path& profile_file, const std::optional<std::string>& state_dir) {
    std::error_code ec;
    fs::path file = fs::absolute(profile_file, ec);
    if (ec) file = profile_file;
    if (!state_dir) return file.parent_path() / (file.filename().string() + ".state");
    return file.parent_path() / *state_dir;  // an absolute state_dir replaces the folder
}

ConfigSource::Snapshot ConfigSource::Take() {
    Snapshot s;
    s.backend = EnvOrEmpty("KT62_BACKEND");
    if (s.backend.empty()) s.backend = "auto";
    s.env = EnvOrEmpty("KT62_EMULATOR");
    if (s.backend == "linux" || (s.backend == "auto" && s.env.empty())) {
        s.hosts = host::DiscoverHosts(EnvOrEmpty("KT62_LINUX_ROOT"), EnvOrEmpty("KT62_SG"));
        const std::string write = EnvOrEmpty("KT62_LINUX_WRITE");
        s.linux_write = write == "1";
        // "yes" or "true" reads as a wish to write that is not granted: say so, once per value.
        static std::string told;  // Take runs under the registry's lock
        if (!write.empty() && write != "1" && write != "0" && write != told)
            Complain("KT62_LINUX_WRITE=" + write + ": only 1 turns writes on; the Linux hosts stay read-only",
                     false);
        told = write;
    }
    if (s.env.empty()) {
        s.default_state_dir = DefaultStateDir();
        return s;
    }
    // Non-blocking, so that a FIFO named by mistake cannot hang the caller.
    const kt::fileio::File f(::open(s.env.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!f.IsOpen() || ::fstat(f.Get(), &st) != 0) {
        s.error = errno;
        return s;
    }
    s.regular = S_ISREG(st.st_mode);
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = static_cast<uint64_t>(st.st_size);
    s.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.ctime_ns = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    s.too_big = s.size > kMaxProfileBytes;
    if (s.regular && !s.too_big) {
        // Reading the bytes too catches a rewrite within one timestamp tick at the same size.
        const int error = kt::fileio::ReadToEnd(f.Get(), kMaxProfileBytes, s.content);
        s.too_big = error == EFBIG;
        if (error != 0) s.content.clear();
        if (!s.too_big) s.error = error;
    }
    return s;
}

std::shared_ptr<Emulation> ConfigSource::Build(const Snapshot& s) {
    if (s.backend != "auto" && s.backend != "emulator" && s.backend != "linux") {
        Complain("KT62_BACKEND: unknown value \"" + s.backend +
                 "\" (auto, emulator or linux); no programmers");
        return std::make_shared<Emulation>();
    }
    if (s.backend == "linux" || (s.backend == "auto" && s.env.empty() && !s.hosts.empty())) {
        auto e = std::make_shared<Emulation>();
        for (const host::HostNodes& h : s.hosts) e->Add(host::MakeLinuxBackend(h, s.linux_write));
        return e;
    }
    if (s.env.empty()) return MakeEmulation(DefaultProfile(), s.default_state_dir);
    ProfileError problem;
    if (s.error != 0) {
        problem.reason = "cannot be read: " + std::generic_category().message(s.error);
    } else if (!s.regular) {
        problem.reason = "not a regular file";
    } else if (s.too_big) {
        problem.reason = "larger than " + std::to_string(kMaxProfileBytes) + " bytes, not a profile";
    } else {
        ParsedProfile parsed = ParseProfile(s.content);
        if (!parsed.error)
            return MakeEmulation(parsed.profile, ProfileStateDir(s.env, parsed.profile.state_dir));
        problem = *parsed.error;
    }
    Complain(ProfileMessage(s.env, problem));
    return std::make_shared<Emulation>();
}

std::shared_ptr<Emulation> ConfigSource::Get(bool check_for_change) {
    if (current_ && !check_for_change) return current_;
    Snapshot now = Take();
    if (!current_ || !(now == last_)) {
        current_ = Build(now);
        last_ = std::move(now);
    }
    return current_;
}

}  // namespace kt62
