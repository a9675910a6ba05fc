// Runs every case folder of tests/e2e/cases through kt6200-script (see
// cases/README.md for the layout of a case).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "line_diff.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr auto kTimeout = std::chrono::seconds(120);
// Stands for the case's temporary directory in expected outputs.
constexpr const char* kTmpMark = "@TMP@";

fs::path CasesDir() {
    if (const char* dir = std::getenv("KT_E2E_CASES_DIR")) return dir;
    return KT_E2E_CASES;
}

std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(CasesDir(), ec))
        if (entry.is_directory() && fs::exists(entry.path() / "script"))
            names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A fresh directory, removed at the end unless the case failed.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "kt-e2e-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!keep_ && !path_.empty()) fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& Path() const { return path_; }
    void Keep() { keep_ = true; }

private:
    fs::path path_;
    bool keep_ = false;
};

struct RunResult {
    int status = -1;  // exit status; -1 when the runner did not exit normally
    std::string error;
};

// Runs argv with env in cwd, standard output and error into files; kills
// the runner (only that process) if it outlives the time-out.
RunResult Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                const fs::path& cwd, const fs::path& stdoutPath, const fs::path& stderrPath) {
    RunResult result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.error = std::string("cannot start ") + argv[0] + ": " + std::strerror(rc);
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    int wstatus = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &wstatus, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            result.error = std::string("waitpid: ") + std::strerror(errno);
            return result;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            result.error = "the runner did not end within the time-out and was killed";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        result.error = std::string("the runner died of signal ") + strsignal(WTERMSIG(wstatus));
    return result;
}

// The environment of the runner: ours, less the variables the case sets.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& set) {
    static constexpr const char* kCaseVariables[] = {
        "KT62_EMULATOR=",    "KT62_TRACE=", "XDG_DATA_HOME=",    "KT62_BACKEND=", "KT62_LINUX_ROOT=",
        "KT62_LINUX_WRITE=", "KT62_SG=",    "KT62_FAKE_KERNEL=", "LD_PRELOAD="};
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        const bool owned = std::any_of(std::begin(kCaseVariables), std::end(kCaseVariables),
                                       [&](const char* v) { return entry.starts_with(v); }) ||
                           std::any_of(set.begin(), set.end(), [&](const std::string& v) {
                               return entry.starts_with(v.substr(0, v.find('=') + 1));
                           });
        if (!owned) env.emplace_back(entry);
    }
    env.insert(env.end(), set.begin(), set.end());
    return env;
}

class ScriptCase : public ::testing::TestWithParam<std::string> {};

TEST_P(ScriptCase, MatchesExpectedOutput) {
    const fs::path dir = CasesDir() / GetParam();
    if (const auto reason = ReadFile(dir / "pending")) GTEST_SKIP() << "pending: " << *reason;
    TempDir tmp;
    ASSERT_FALSE(tmp.Path().empty()) << "cannot create a temporary directory";
    const std::string tmpText = tmp.Path().string();

    std::vector<std::string> env{"XDG_DATA_HOME=" + tmpText + "/xdg"};
    if (fs::exists(dir / "profile.json")) {
        // A copy, so that the state directory beside it starts fresh.
        fs::copy_file(dir / "profile.json", tmp.Path() / "profile.json");
        env.push_back("KT62_EMULATOR=" + tmpText + "/profile.json");
    }
    if (fs::exists(dir / "fake_kernel.json")) {
        // The real library over the Linux backend, its kernel answered by the preloaded shim.
        fs::copy_file(dir / "fake_kernel.json", tmp.Path() / "fake_kernel.json");
        env.push_back("LD_PRELOAD=" KT_FAKE_KERNEL_SHIM);
        env.push_back("KT62_FAKE_KERNEL=" + tmpText + "/fake_kernel.json");
        env.push_back("KT62_BACKEND=linux");
        env.push_back("KT62_LINUX_ROOT=" + tmpText + "/root");
        // Sanitizer builds: the shim comes before the sanitizer's runtime.
        const char* asan = std::getenv("ASAN_OPTIONS");
        env.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
                      "verify_asan_link_order=0");
    }
    if (const auto extra = ReadFile(dir / "environment")) {
        std::istringstream lines(*extra);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && line[0] != '#') env.push_back(line);
    }
    const bool traced = fs::exists(dir / "expected_trace");
    if (traced) env.push_back("KT62_TRACE=" + tmpText + "/trace");
    fs::create_directory(tmp.Path() / "appdir");
    if (fs::exists(dir / "appdir"))
        fs::copy(dir / "appdir", tmp.Path() / "appdir", fs::copy_options::recursive);
    fs::create_directory(tmp.Path() / "work");
    if (fs::exists(dir / "files")) fs::copy(dir / "files", tmp.Path() / "work", fs::copy_options::recursive);

    const RunResult run =
        Spawn({KT_SCRIPT_EXE, "--appdir", tmpText + "/appdir", (dir / "script").string()},
              ChildEnvironment(env), tmp.Path() / "work", tmp.Path() / "stdout", tmp.Path() / "stderr");
    const std::string out = ReplaceAll(ReadFile(tmp.Path() / "stdout").value_or(""), tmpText, kTmpMark);
    const std::string err = ReadFile(tmp.Path() / "stderr").value_or("");
    ASSERT_TRUE(run.error.empty()) << run.error << "\nstdout:\n" << out << "stderr:\n" << err;

    int expectedStatus = 0;
    if (const auto text = ReadFile(dir / "exit")) expectedStatus = std::atoi(text->c_str());
    const auto expected = ReadFile(dir / "expected");
    EXPECT_TRUE(expected.has_value()) << "the case has no file \"expected\"; the runner wrote:\n" << out;
    if (expected) {
        EXPECT_TRUE(*expected == out) << "stdout differs (- expected, + actual):\n"
                                      << kt::e2e::LineDiff(*expected, out) << "stderr:\n"
                                      << err;
    }
    EXPECT_EQ(expectedStatus, run.status) << "stderr:\n" << err;

    if (traced) {
        const std::string wanted = ReadFile(dir / "expected_trace").value_or("");
        const std::string trace = ReplaceAll(ReadFile(tmp.Path() / "trace").value_or(""), tmpText, kTmpMark);
        EXPECT_TRUE(wanted == trace) << "trace differs (- expected, + actual):\n"
                                     << kt::e2e::LineDiff(wanted, trace);
    }
    if (fs::exists(dir / "expected_files")) {
        for (const auto& entry : fs::directory_iterator(dir / "expected_files")) {
            const auto name = entry.path().filename();
            EXPECT_TRUE(ReadFile(entry.path()) == ReadFile(tmp.Path() / "work" / name))
                << "work/" << name.string() << " differs from expected_files/" << name.string();
        }
    }
    if (fs::exists(dir / "expected_requests")) {
        const std::string wanted = ReadFile(dir / "expected_requests").value_or("");
        const std::string got = ReadFile(tmp.Path() / "requests").value_or("");
        EXPECT_TRUE(wanted == got) << "requests that reached the kernel differ (- expected, + actual):\n"
                                   << kt::e2e::LineDiff(wanted, got);
    }
    if (HasFailure()) {
        tmp.Keep();
        ADD_FAILURE() << "files of the run kept in " << tmpText;
    }
}

std::string CaseTestName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptCase, ::testing::ValuesIn(CaseNames()), CaseTestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ScriptCase);

}  // namespace
