#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using kt::test::TempDir;

std::string At(std::string text, const std::string& dir) {  // "@" stands for the case's folder
    for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, dir);
    return text;
}

// 137 when killed: a refusal takes milliseconds, so the limit only ends a run that blocks.
int Spawn(const std::vector<std::string>& words, const std::string& out, const std::string& stdout_path) {
    std::string command = "timeout -s KILL 90 env";
    for (const std::string& w : words) command += " '" + w + "'";
    command += " 2>>" + out + " >>" + (stdout_path.empty() ? out : stdout_path) + " </dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Case {
    const char* name;
    std::vector<std::string> args;  // kt6200-script SCRIPT when empty, else kt62emu ARGS
    const char* script;
    const char* env;          // more variables (blank between), or ""
    const char* stdout_path;  // "" for the output file
    int status;
    const char* says;
    const char* unchanged = "";  // a name that must keep its kind ("fifo", "null", "no" stays missing)
    bool as_root = false;        // needs links and folders of another user, which root makes
};

// clang-format off
const Case kCases[] = {
    {"sector read into a FIFO", {}, "set IDC_EDIT_SECTOR_COUNT 1\nchoose @/fifo\nanswer yes\nclick IDC_BTN_READ_SECTORS\nwait\ntext IDC_STATIC_STATUS\n", "", "", 0, "@/fifo: not a regular file (a FIFO)", "fifo"},
    {"sector write from a FIFO", {}, "choose @/fifo\nclick IDC_BTN_WRITE_SECTORS\nwait\ntext IDC_STATIC_STATUS\n", "", "", 0, "@/fifo: not a regular file (a FIFO)"},
    {"descriptor write from a FIFO", {}, "choose @/fifo\nclick IDC_BTN_DESC_WRITE\ntext IDC_STATIC_STATUS\n", "", "", 0, "@/fifo: not a regular file (a FIFO)"},
    {"firmware update from a FIFO", {}, "choose @/fifo\nclick IDC_BUTTON_UPDATE\ntext IDC_STATIC_STATUS\n", "", "", 0, "@/fifo: not a regular file (a FIFO)"},
    {"trace into a FIFO", {}, "print\n", "KT62_TRACE=@/fifo", "", 0, "KT62_TRACE=@/fifo: not a regular file (a FIFO); calls are not traced"},
    {"profile is a FIFO", {}, "print\ntext IDC_STATIC_STATUS\n", "KT62_EMULATOR=@/fifo", "", 0, "@/fifo: not a regular file"},
    {"script is a folder", {"@/folder"}, "", "", "", 2, "@/folder: Is a directory"},
    {"script output to /dev/full", {}, "print\n", "", "/dev/full", 1, "standard output: not all output was written"},
    {"script with a byte-order mark", {}, "\xEF\xBB\xBFprint\n", "", "", 0, "Firmware version"},
    {"show a FIFO profile", {"show", "--profile", "@/fifo"}, "", "", "", 1, "@/fifo: cannot be read: not a regular file (a FIFO)"},
    {"create on a FIFO profile", {"create", "--profile", "@/fifo"}, "", "", "", 1, "(a FIFO)", "fifo"},
    {"power-cycle a FIFO profile", {"power-cycle", "--profile", "@/fifo"}, "", "", "", 1, "(a FIFO)"},
    {"payload from a FIFO", {"firmware", "build", "--version", "1.0.0", "--payload", "@/fifo", "-o", "@/fw"}, "", "", "", 1, "(a FIFO)"},
    {"profile /dev/zero", {"show", "--profile", "/dev/zero"}, "", "", "", 1, "(a character device)"},
    {"image over a device node", {"firmware", "build", "--version", "1.0.0", "--payload", "@/p.json", "-o", "@/null"}, "", "", "", 1, "@/null: not a regular file (a character device); not replaced", "null"},
    {"create below missing folders", {"create", "--profile", "@/no/such/p.json", "--serial", "X"}, "", "", "", 1, "@/no/such: no such folder; nothing created", "no"},
    {"a unit the file system cannot hold", {"create", "--profile", "@/big.json", "--capacity", "1024T"}, "", "", "", 1, "cannot hold a unit of"},
    {"show to /dev/full", {"show", "--profile", "@/p.json"}, "", "", "/dev/full", 1, "standard output: not all output was written"},
    {"script that cannot be read", {"/proc/self/mem"}, "", "", "", 2, "kt6200-script: /proc/self/mem: line 1: cannot be read: Input/output error"},
    {"show below missing folders", {"show", "--profile", "@/missing.json"}, "", "", "", 1, "@/no/such: no such folder; nothing created", "no"},
    {"library below missing folders", {}, "print\n", "KT62_EMULATOR=@/missing.json", "", 0, "programmer 0 cannot be opened: @/no/such: no such folder; nothing created", "no"},
    {"state folder others may write to", {"show", "--profile", "@/open.json"}, "", "", "", 1, "@/open: other users may write to it (mode 777)"},
    {"lock file that is a link", {"power-cycle", "--profile", "@/linked.json"}, "", "", "", 1, "programmer0.lock: a symbolic link; a lock file is never opened through one"},
    {"state file's temporary that is a link", {"create", "--profile", "@/tmp.json"}, "", "", "", 0, "created a factory-fresh device"},
    {"state folder of another user", {"show", "--profile", "@/theirs.json"}, "", "", "", 1, "@/theirs: owned by uid 65534, another user", "", true},
    {"writes asked for with yes", {}, "print\n", "KT62_EMULATOR= KT62_BACKEND=linux KT62_LINUX_ROOT=@/folder KT62_LINUX_WRITE=yes", "", 0, "kt62: KT62_LINUX_WRITE=yes: only 1 turns writes on; the Linux hosts stay read-only"},
    {"KT62_SG with a slash after the node", {}, "print\n", "KT62_EMULATOR= KT62_BACKEND=linux KT62_LINUX_ROOT=@/root KT62_SG=/dev/sg2/", "", 0, "kt62: KT62_SG: /dev/sg2/: Not a directory; give a SCSI generic node"},
};
// clang-format on

class HostileInput : public testing::TestWithParam<Case> {};

void Prepare(const TempDir& dir, bool as_root) {
    const std::string& d = dir.Path();
    ASSERT_EQ(mkfifo((d + "/fifo").c_str(), 0644), 0);
    for (const char* sub : {"folder", "open", "linked", "tmp/device0", "root/sys/class/scsi_generic/sg2"})
        fs::create_directories(d + "/" + sub);
    fs::permissions(d + "/open", fs::perms::all);
    fs::create_symlink("../victim", d + "/linked/programmer0.lock");
    fs::create_symlink("../../victim", d + "/tmp/device0/state.json.tmp");
    dir.Write("root/dev/sg2", "");  // a test root takes a plain file for a node
    dir.Write("p.json", R"({"programmers": [{}]})");
    dir.Write("victim", "victim");
    for (const char* name : {"open", "linked", "tmp", "theirs"})
        dir.Write(name + std::string(".json"),
                  R"({"state_dir": ")" + std::string(name) + R"(", "programmers": [{}]})");
    dir.Write("missing.json", R"({"state_dir": "no/such/state", "programmers": [{}]})");
    if (as_root) {
        fs::create_directory(d + "/theirs");
        ASSERT_EQ(chown((d + "/theirs").c_str(), 65534, 65534), 0);
    }
}

TEST_P(HostileInput, RefusesAndSaysWhy) {
    const Case& c = GetParam();
    const TempDir dir;
    const std::string& d = dir.Path();
    if (c.as_root && geteuid() != 0) GTEST_SKIP() << "needs root: folders of another user";
    const bool node = mknod((d + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // /dev/null's
    if (!node && std::string(c.unchanged) == "null") GTEST_SKIP() << "needs root: a device node";
    Prepare(dir, c.as_root);
    if (HasFatalFailure()) return;
    struct stat before {};
    const bool existed = lstat((d + "/" + c.unchanged).c_str(), &before) == 0;
    const bool script = c.args.empty() || c.args[0][0] == '@' || c.args[0][0] == '/';
    std::vector<std::string> argv = {"XDG_DATA_HOME=" + d + "/data", "KT62_EMULATOR=" + d + "/p.json"};
    std::istringstream more(At(*c.env ? c.env : "KT62_TRACE=", d));
    for (std::string word; more >> word;) argv.push_back(word);
    argv.push_back(script ? KT_SCRIPT_EXE : KT62EMU_EXE);
    if (script)
        argv.insert(argv.end(), {"--appdir", d + "/folder",
                                 c.args.empty() ? dir.Write("s", At(c.script, d)) : At(c.args[0], d)});
    else
        for (const std::string& a : c.args) argv.push_back(At(a, d));
    const int status = Spawn(argv, d + "/out.txt", c.stdout_path);
    const std::string out = TempDir::Read(d + "/out.txt");
    ASSERT_NE(status, 137) << "killed, still running after 90 s: " << out;
    EXPECT_EQ(status, c.status) << out;
    EXPECT_NE(out.find(At(c.says, d)), std::string::npos) << out;
    struct stat after {};
    EXPECT_EQ(lstat((d + "/" + c.unchanged).c_str(), &after) == 0, existed);
    if (existed && *c.unchanged) {
        EXPECT_EQ(after.st_mode, before.st_mode);
    }
    EXPECT_EQ(TempDir::Read(d + "/victim"), "victim") << "written through a link";
}

// A bad command line is named as it always was, whatever the option parser says: the first fault in
// the order of the words, the option as typed; and an empty value after "=" takes no next word.
TEST(CommandLine, FaultsAreNamedInTheirOrder) {
    const struct {
        const char* exe;
        const char* words;
        int status;
        const char* says;  // the start of the output
    } kLines[] = {
        {KT62EMU_EXE, "create --bogus=1 --capacity", 2,
         "kt62emu: unknown option --bogus\nRun \"kt62emu help\""},
        {KT62EMU_EXE, "firmware build --output a -o", 2, "kt62emu: -o needs a value\n"},
        {KT62EMU_EXE, "firmware build -o a --output=b", 2, "kt62emu: --output given twice\n"},
        {KT62EMU_EXE, "show --json=true", 2, "kt62emu: --json takes no value\n"},
        {KT62EMU_EXE, "create --profile= --lock", 2, "kt62emu: --profile: empty file name\n"},
        {KT62EMU_EXE, "power-cycle x -- --position 1", 2, "kt62emu: power-cycle: unexpected \"x\"\n"},
        {KT_SCRIPT_EXE, "--bogus --help", 2, "kt6200-script: unknown option --bogus\nusage: kt6200-script"},
        {KT_SCRIPT_EXE, "a b --help", 2, "kt6200-script: only one script\n"},
        {KT_SCRIPT_EXE, "--appdir=x", 2, "kt6200-script: unknown option --appdir=x\n"},
        {KT_SCRIPT_EXE, "x --appdir", 2, "kt6200-script: --appdir needs a directory\n"},
        {KT_SCRIPT_EXE, "x --help", 0, "usage: kt6200-script [--appdir DIR] [SCRIPT]\n"}};
    const TempDir dir;
    for (const auto& line : kLines) {
        std::vector<std::string> words = {"XDG_DATA_HOME=" + dir.Path(), line.exe};
        std::istringstream more(line.words);
        for (std::string word; more >> word;) words.push_back(word);
        const std::string out = dir.Path() + "/out.txt";
        fs::remove(out);
        EXPECT_EQ(Spawn(words, out, ""), line.status) << line.words;
        EXPECT_EQ(TempDir::Read(out).rfind(line.says, 0), 0U) << line.words << ": " << TempDir::Read(out);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileInput, testing::ValuesIn(kCases), [](const auto& p) {
    std::string name = p.param.name;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

}  // namespace
