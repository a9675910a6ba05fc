// Hostile names given to the programs as a user would give them: a FIFO, a device, a folder, a
// link, a full standard output. Each run must end within seconds with its refusal and the exit
// status that says so; a run that blocks is killed and fails the case.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using kt::test::TempDir;

constexpr auto kTimeout = std::chrono::seconds(5);

struct Outcome {
    int status = -1;     // -1: killed after kTimeout
    std::string output;  // standard output, then standard error
};

// "@" in every argument, value and line stands for the case's folder.
std::string At(const std::string& text, const std::string& dir) {
    std::string out;
    for (char c : text) out += c == '@' ? dir : std::string(1, c);
    return out;
}

Outcome Start(std::vector<std::string> argv, const std::vector<std::string>& env, const std::string& dir,
              const std::string& stdout_path) {
    const std::string out = dir + "/out.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));  // the child's own copy
        const int o = open(stdout_path.empty() ? out.c_str() : stdout_path.c_str(),
                           O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int e = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    Outcome r;
    const auto end = std::chrono::steady_clock::now() + kTimeout;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            r.output = TempDir::Read(out);
            return r;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    r.output = TempDir::Read(out);
    return r;
}

struct Case {
    const char* name;
    bool script;  // kt6200-script with `input` as its script file; else kt62emu with `args`
    std::vector<std::string> args;
    std::string input;
    std::vector<std::string> env;
    const char* stdout_path;  // "" for a file of the test's
    int status;
    const char* says;
    std::function<void(const std::string& dir)> check = nullptr;  // files as they must be after
};

const std::string kSectorRead =
    "set IDC_EDIT_SECTOR_COUNT 1\nchoose @/fifo\nanswer yes\nclick IDC_BTN_READ_SECTORS\nwait\ntext "
    "IDC_STATIC_STATUS\n";

void StillFifo(const std::string& dir) {
    struct stat st {};
    ASSERT_EQ(lstat((dir + "/fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

const Case kCases[] = {
    {"sector read into a FIFO",
     true,
     {},
     kSectorRead,
     {},
     "",
     0,
     "@/fifo: not a regular file (a FIFO)",
     StillFifo},
    {"sector write from a FIFO",
     true,
     {},
     "choose @/fifo\nclick IDC_BTN_WRITE_SECTORS\nwait\ntext IDC_STATIC_STATUS\n",
     {},
     "",
     0,
     "@/fifo: not a regular file (a FIFO)"},
    {"descriptor write from a FIFO",
     true,
     {},
     "choose @/fifo\nclick IDC_BTN_DESC_WRITE\ntext IDC_STATIC_STATUS\n",
     {},
     "",
     0,
     "@/fifo: not a regular file (a FIFO)"},
    {"firmware update from a FIFO",
     true,
     {},
     "choose @/fifo\nclick IDC_BUTTON_UPDATE\ntext IDC_STATIC_STATUS\n",
     {},
     "",
     0,
     "@/fifo: not a regular file (a FIFO)"},
    {"trace into a FIFO", true, {}, "print\n", {"KT62_TRACE=@/fifo"}, "", 0, "Firmware version"},
    {"profile is a FIFO",
     true,
     {},
     "print\ntext IDC_STATIC_STATUS\n",
     {"KT62_EMULATOR=@/fifo"},
     "",
     0,
     "@/fifo: not a regular file"},
    {"script is a folder", true, {"@/folder"}, "", {}, "", 2, "@/folder: Is a directory"},
    {"script output to /dev/full",
     true,
     {},
     "print\n",
     {},
     "/dev/full",
     1,
     "standard output: not all output was written"},
    {"script with a byte-order mark", true, {}, "\xEF\xBB\xBFprint\n", {}, "", 0, "Firmware version"},
    {"show a FIFO profile",
     false,
     {"show", "--profile", "@/fifo"},
     "",
     {},
     "",
     1,
     "not a regular file (a FIFO)"},
    {"create on a FIFO profile",
     false,
     {"create", "--profile", "@/fifo"},
     "",
     {},
     "",
     1,
     "(a FIFO)",
     StillFifo},
    {"power-cycle a FIFO profile", false, {"power-cycle", "--profile", "@/fifo"}, "", {}, "", 1, "(a FIFO)"},
    {"payload from a FIFO",
     false,
     {"firmware", "build", "--version", "1.0.0", "--payload", "@/fifo", "-o", "@/fw"},
     "",
     {},
     "",
     1,
     "(a FIFO)"},
    {"profile /dev/zero", false, {"show", "--profile", "/dev/zero"}, "", {}, "", 1, "(a character device)"},
    {"payload /dev/zero",
     false,
     {"firmware", "build", "--version", "1.0.0", "--payload", "/dev/zero", "-o", "@/fw"},
     "",
     {},
     "",
     1,
     "(a character device)"},
    {"image over a device node",
     false,
     {"firmware", "build", "--version", "1.0.0", "--payload", "@/profile.json", "-o", "@/null"},
     "",
     {},
     "",
     1,
     "not a regular file (a character device); not replaced",
     [](const std::string& dir) {
         struct stat st {};
         ASSERT_EQ(lstat((dir + "/null").c_str(), &st), 0);
         EXPECT_TRUE(S_ISCHR(st.st_mode));
     }},
    {"image over a folder",
     false,
     {"firmware", "build", "--version", "1.0.0", "--payload", "@/profile.json", "-o", "@/folder"},
     "",
     {},
     "",
     1,
     "(a directory); not replaced"},
    {"create through a link",
     false,
     {"create", "--profile", "@/link.json"},
     "",
     {},
     "",
     0,
     "created",
     [](const std::string& dir) {
         EXPECT_TRUE(fs::is_symlink(dir + "/link.json"));
         EXPECT_NE(TempDir::Read(dir + "/profile.json").find("programmers"), std::string::npos);
     }},
    {"create below missing folders",
     false,
     {"create", "--profile", "@/no/such/p.json", "--serial", "X"},
     "",
     {},
     "",
     1,
     "no such folder",
     [](const std::string& dir) { EXPECT_FALSE(fs::exists(dir + "/no")); }},
    {"show to /dev/full",
     false,
     {"show", "--profile", "@/profile.json"},
     "",
     {},
     "/dev/full",
     1,
     "standard output: not all output was written"},
};

TEST(HostileInput, EachEntryPointRefusesWithinSecondsAndSaysWhy) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const TempDir dir;
        const std::string& d = dir.Path();
        ASSERT_EQ(mkfifo((d + "/fifo").c_str(), 0644), 0);
        ASSERT_EQ(mkdir((d + "/folder").c_str(), 0755), 0);
        dir.Write("profile.json", R"({"programmers": [{}]})");
        ASSERT_EQ(symlink("profile.json", (d + "/link.json").c_str()), 0);
        const bool node = mknod((d + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
        if (!node && std::string(c.name) == "image over a device node") continue;  // not root
        std::vector<std::string> env = {"XDG_DATA_HOME=" + d + "/data",
                                        "KT62_EMULATOR=" + d + "/profile.json"};
        for (const std::string& e : c.env) env.push_back(At(e, d));
        std::vector<std::string> argv;
        if (c.script) {
            argv = {KT_SCRIPT_EXE, "--appdir", d + "/folder"};
            argv.push_back(c.args.empty() ? dir.Write("script", At(c.input, d)) : At(c.args[0], d));
        } else {
            argv = {KT62EMU_EXE};
            for (const std::string& a : c.args) argv.push_back(At(a, d));
        }
        const Outcome r = Start(argv, env, d, c.stdout_path);
        ASSERT_NE(r.status, -1) << "still running after " << kTimeout.count() << " s: " << r.output;
        EXPECT_EQ(r.status, c.status) << r.output;
        EXPECT_NE(r.output.find(At(c.says, d)), std::string::npos) << r.output;
        if (c.check) c.check(d);
    }
}

}  // namespace
