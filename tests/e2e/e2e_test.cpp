// Runs every case folder of tests/e2e/cases (cases/README.md) through kt6200-script; built with
// KT_GUEST_SCRIPT, those with a `guest` file in a guest whose real kernel drives QEMU's UFS controller.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr const char* kTmpMark = "@TMP@";  // the case's temporary directory in expected outputs

fs::path CasesDir() {
    const char* dir = std::getenv("KT_E2E_CASES_DIR");
    return dir ? dir : KT_E2E_CASES;
}

#ifdef KT_GUEST_SCRIPT
constexpr bool kGuest = true;
#else
constexpr bool kGuest = false;
#endif

// A guest build runs the cases with a guest file; this one the others and those with a fake kernel.
std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(CasesDir(), ec)) {
        const fs::path& p = entry.path();
        const bool guest = fs::exists(p / "guest");
        if (fs::exists(p / "script") && (kGuest ? guest : !guest || fs::exists(p / "fake_kernel.json")))
            names.push_back(p.filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> ReadFile(const fs::path& path) {
    return fs::exists(path) ? std::optional(kt::test::TempDir::Read(path)) : std::nullopt;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string Quoted(const std::string& word) { return "'" + ReplaceAll(word, "'", "'\\''") + "'"; }

// Runs argv in cwd with our environment less the variables a case sets, then the case's; the exit
// status (137: killed after two minutes, ten in a guest that boots under emulation), or -1.
int Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& set, const fs::path& cwd) {
    std::string command = "cd " + Quoted(cwd) + " && exec env -i";
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e), name = entry.substr(0, entry.find('=') + 1);
        const bool owned =
            name.starts_with("KT62_") || name == "XDG_DATA_HOME=" || name == "LD_PRELOAD=" ||
            std::any_of(set.begin(), set.end(), [&](const std::string& v) { return v.starts_with(name); });
        if (!owned) command += " " + Quoted(entry);
    }
    for (const std::string& word : set) command += " " + Quoted(word);
    command += std::string(" timeout -s KILL ") + (kGuest ? "600" : "120");
    for (const std::string& word : argv) command += " " + Quoted(word);
    const int status = std::system((command + " </dev/null >../stdout 2>../stderr").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ScriptCase : public ::testing::TestWithParam<std::string> {};

TEST_P(ScriptCase, MatchesExpectedOutput) {
    const fs::path dir = CasesDir() / GetParam();
    std::string tmp = (fs::temp_directory_path() / "kt-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmp.data()), nullptr);
    const fs::path at(tmp);

    std::vector<std::string> env{"XDG_DATA_HOME=" + tmp + "/xdg"};
    if (kGuest) {
        env.push_back("KT62_BACKEND=linux");
    } else if (fs::exists(dir / "profile.json")) {
        // A copy, so that the state directory beside it starts fresh.
        fs::copy_file(dir / "profile.json", at / "profile.json");
        env.push_back("KT62_EMULATOR=" + tmp + "/profile.json");
    }
    if (!kGuest && fs::exists(dir / "fake_kernel.json")) {
        // The real library over the Linux backend, its kernel answered by the preloaded shim.
        fs::copy_file(dir / "fake_kernel.json", at / "fake_kernel.json");
        const char* asan = std::getenv("ASAN_OPTIONS");  // the shim comes before the sanitizer's runtime
        env.insert(env.end(),
                   {"LD_PRELOAD=" KT_FAKE_KERNEL_SHIM, "KT62_FAKE_KERNEL=" + tmp + "/fake_kernel.json",
                    "KT62_BACKEND=linux", "KT62_LINUX_ROOT=" + tmp + "/root",
                    std::string("ASAN_OPTIONS=") + (asan ? asan + std::string(":") : "") +
                        "verify_asan_link_order=0"});
    }
    std::istringstream extra(ReadFile(dir / "environment").value_or(""));
    for (std::string line; std::getline(extra, line);)
        if (!line.empty() && line[0] != '#') env.push_back(line);
    const bool traced = fs::exists(dir / "expected_trace");
    if (traced) env.push_back("KT62_TRACE=" + tmp + "/trace");
    fs::create_directory(at / "appdir");
    if (fs::exists(dir / "appdir")) fs::copy(dir / "appdir", at / "appdir", fs::copy_options::recursive);
    fs::create_directory(at / "work");
    if (fs::exists(dir / "files")) fs::copy(dir / "files", at / "work", fs::copy_options::recursive);

    std::vector<std::string> argv{KT_SCRIPT_EXE, "--appdir", tmp + "/appdir", (dir / "script").string()};
#ifdef KT_GUEST_SCRIPT
    // The guest's own options (hosts, units, user), then its preparation, sourced so that what it
    // exports reaches the program; the folders writable by a user the guest runs the case as.
    std::istringstream options(ReadFile(dir / "guest").value_or(""));
    std::vector<std::string> boot{KT_GUEST_SCRIPT, "run", "--dir", tmp};
    for (std::string word; options >> word;) boot.push_back(word);
    boot.insert(boot.end(),
                {"--", "bash", "-c",
                 "umask 000; if [ -f ../guest_setup ]; then . ../guest_setup >../setup.log 2>&1 || "
                 "{ cat ../setup.log >&2; exit 97; }; fi; exec \"$@\"",
                 "bash"});
    if (fs::exists(dir / "guest_setup")) fs::copy_file(dir / "guest_setup", at / "guest_setup");
    for (const fs::path& p : {at, at / "appdir", at / "work"})
        fs::permissions(p, fs::perms::all, fs::perm_options::add);
    argv.insert(argv.begin(), boot.begin(), boot.end());
#endif
    const int status = Spawn(argv, env, at / "work");
    const std::string out = ReplaceAll(ReadFile(at / "stdout").value_or(""), tmp, kTmpMark);
    const std::string err = ReadFile(at / "stderr").value_or("");

    // In the guest a file's ".guest" form stands in for it where QEMU's device answers otherwise.
    const auto expected = [&](const std::string& name) {
        const auto guest = kGuest ? ReadFile(dir / (name + ".guest")) : std::nullopt;
        return guest ? guest : ReadFile(dir / name);
    };
    const std::pair<const char*, std::string> compared[] = {
        {"expected", out},
        {"expected_trace", traced ? ReplaceAll(ReadFile(at / "trace").value_or(""), tmp, kTmpMark) : ""},
        {"expected_requests", ReadFile(at / "requests").value_or("")},
        {"expected_stderr", ReplaceAll(err, tmp, kTmpMark)},
    };
    for (const auto& [name, got] : compared) {
        if (kGuest && std::string(name) == "expected_requests") continue;
        const auto wanted = expected(name);
        if (wanted) {
            EXPECT_EQ(*wanted, got) << name << " differs; stderr:\n" << err;
        } else if (std::string(name) == "expected") {
            ADD_FAILURE() << "the case has no expected file";
        }
    }
    EXPECT_EQ(status, std::atoi(expected("exit").value_or("0").c_str())) << "stderr:\n" << err;
    if (kGuest && fs::exists(dir / "guest_check")) {
        // What the guest left in its units' images (../ufsH-luU.img), checked from the host.
        const int check = Spawn({"bash", (dir / "guest_check").string()}, {}, at / "work");
        EXPECT_EQ(check, 0) << "guest_check failed:\n"
                            << ReadFile(at / "stdout").value_or("") << ReadFile(at / "stderr").value_or("");
    }
    std::error_code none;  // no expected_files: nothing to compare
    for (const auto& entry : fs::directory_iterator(dir / "expected_files", none)) {
        EXPECT_TRUE(ReadFile(entry.path()) == ReadFile(at / "work" / entry.path().filename()))
            << "work/" << entry.path().filename().string() << " differs from expected_files/";
    }
    if (HasFailure())
        ADD_FAILURE() << "files of the run kept in " << tmp;
    else
        fs::remove_all(at);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptCase, ::testing::ValuesIn(CaseNames()), [](const auto& p) {
    std::string name = p.param;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

// A harness that finds no case would pass having checked nothing.
TEST(Harness, FindsCases) { EXPECT_FALSE(CaseNames().empty()) << "no case under " << CasesDir(); }

}  // namespace
