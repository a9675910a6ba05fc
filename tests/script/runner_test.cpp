#include "frontends/script/runner.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/control_ids.h"

namespace kt::script {
namespace {

namespace fs = std::filesystem;

// The dialog initialises with no programmer attached, and nothing of the
// user's own emulator state is touched.
class RunnerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string pattern = (fs::temp_directory_path() / "kt-runner-XXXXXX").string();
        ASSERT_NE(nullptr, mkdtemp(pattern.data()));
        dir_ = pattern;
        std::ofstream(dir_ / "profile.json") << R"({"programmers": []})";
        setenv("KT62_EMULATOR", (dir_ / "profile.json").c_str(), 1);
        setenv("XDG_DATA_HOME", dir_.c_str(), 1);
        unsetenv("KT62_TRACE");
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    static std::string ExePath() { return (dir_ / "kt6200-script").string(); }
    static inline fs::path dir_;
};

// A runner on an initialised dialog, with the port open to the test.
struct Session {
    std::ostringstream out, err;
    Runner* runner = nullptr;
    ScriptUiPort port{[this](const std::string& line) { runner->WriteLine(line); }};
    CKT6200DemoDlg dlg;
    Runner run{port, dlg, out, err};

    explicit Session(const std::string& exePath) : dlg(port, exePath) {
        runner = &run;
        port.SetTimerHandler(
            [this](int id) { dlg.Dispatch(DialogMessage::Timer, static_cast<std::uintptr_t>(id)); });
        dlg.OnInitDialog();
    }
    int Run(const std::string& script) {
        std::istringstream in(script);
        return run.Run(in);
    }
};

struct ScriptCase {
    std::string script;
    std::string out;
    int status;
    std::string err;  // fragment of the error line; "" when none is expected
};

TEST_F(RunnerTest, ScriptsGiveTheirOutputAndStatus) {
    const ScriptCase cases[] = {
        {"print\n", "\"No device found.\"\n", 0, ""},
        {"set IDC_EDIT_LOG x\r\nprint\r\n", "\"x\"\n", 0, ""},  // CRLF script lines
        {"set IDC_EDIT_IDN  ab\ntext 1013\n", "\" AB\"\n", 0, ""},
        {"text IDC_EDIT_DME_REG\nselection 1024\n", "\"0100\"\n1\n", 0, ""},
        {"about\ntitle\n", "\"Varnel Software version: 1.0.8\"\n\"Varnel Software: 1.0.8\"\n", 0, ""},
        {"items IDC_COMBO_DEVICE\nenabled IDOK\n", "[]\ntrue\n", 0, ""},
        {"select IDC_COMBO_DME_TYPE 0\nselection IDC_COMBO_DME_TYPE\ntext IDC_COMBO_DME_TYPE\n",
         "0\n\"DME_GET\"\n", 0, ""},
        {"click 9999\nwait\nsleep 0\nanswer yes\nchoose cancel\n", "", 0, ""},
        {"set IDC_EDIT_LOG x\nkey enter IDC_EDIT_LOG\nprint\nkey enter IDC_EDIT_IDN\nprint\n",
         "\"x\"\n\"No device found.\"\n", 0, ""},
        {"key escape\n# fine\n\nprint\n", "ended 2\n", 2, "line 4: the dialog has ended"},
        {"close\nclose\n", "ended 2\n", 2, "line 2: the dialog has ended"},
        {"print\nbogus\nprint\n", "\"No device found.\"\n", 2, "line 2: unknown verb \"bogus\""},
        {"# comment\n\n   \nclick IDC_NOPE\n", "", 2, "line 4: unknown control \"IDC_NOPE\""},
        {"text 1037\n", "", 2, "line 1: unknown control \"1037\""},  // a command without a control
        {"enabled IDC_BTN_CFG_1_LUN_DISABLED\n", "", 2, "unknown control"},
        {"select IDC_COMBO_DME_TYPE 2\n", "", 2,
         "line 1: position 2 is outside IDC_COMBO_DME_TYPE (2 items)"},
        {"select IDC_COMBO_DEVICE 0\n", "", 2, "outside"},
        {"select IDC_EDIT_IDN 0\n", "", 2, "is not a list"},
        {"selection IDOK\n", "", 2, "is not a list"},
        {"set IDC_COMBO_DEVICE Dev0\n", "", 2, "is a list"},
        {"key enter IDC_BTN_CFG_1_LUN_DISABLED\n", "", 2, "unknown control"},
        {"sleep x\n", "", 2, "line 1: bad number of milliseconds"},
    };
    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(c.script);
        Session s(ExePath());
        EXPECT_EQ(c.status, s.Run(c.script));
        EXPECT_EQ(c.out, s.out.str());
        if (c.err.empty()) {
            EXPECT_EQ("", s.err.str());
        } else {
            EXPECT_NE(std::string::npos, s.err.str().find(c.err)) << s.err.str();
            const std::string err = s.err.str();
            EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << "one error line";
        }
    }
}

TEST_F(RunnerTest, DisabledControlsSendNothing) {
    Session s(ExePath());
    s.port.EnableControl(IDOK, false);
    s.port.EnableControl(IDC_COMBO_DME_TYPE, false);
    EXPECT_EQ(0, s.Run("set IDC_EDIT_LOG x\n"
                       "click IDOK\n"
                       "key enter IDC_EDIT_IDN\n"
                       "select IDC_COMBO_DME_TYPE 0\n"
                       "print\n"
                       "selection IDC_COMBO_DME_TYPE\n"
                       "enabled IDOK\n"));
    EXPECT_EQ("\"x\"\n1\nfalse\n", s.out.str());
    EXPECT_EQ(1, s.port.Beeps());  // Enter without an enabled default button
}

TEST_F(RunnerTest, WaitTimesOutWhileADialogTimerRuns) {
    Session s(ExePath());
    s.port.StartTimer(5, 10);
    EXPECT_EQ(2, s.Run("wait 30\nprint\n"));
    EXPECT_EQ("", s.out.str());
    EXPECT_NE(std::string::npos, s.err.str().find("line 1: wait timed out after 30 ms")) << s.err.str();
}

// Stands in for a transfer worker: runs until the keep-going flag is
// cleared, reports through the port from its own thread, then ends as the
// real workers do (controls unlocked, handle cleared last).
class FakeWorker {
public:
    explicit FakeWorker(CKT6200DemoDlg& dlg) : dlg_(dlg) {
        dlg_.Transfer().m_hThread = 1;
        dlg_.Transfer().m_bRunning = 1;
        thread_ = std::thread([this] {
            dlg_.Ui().EnableControl(IDC_BTN_INQUIRY, false);
            while (dlg_.Transfer().m_bRunning.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            dlg_.AppendLog("Cancelled.");
            dlg_.Ui().EnableControl(IDC_BTN_INQUIRY, true);
            dlg_.Transfer().m_hThread = -1;
        });
    }
    ~FakeWorker() { thread_.join(); }

private:
    CKT6200DemoDlg& dlg_;
    std::thread thread_;
};

TEST_F(RunnerTest, ExitDuringATransferCancelsAndWaitRunsTheCancelTimer) {
    Session s(ExePath());
    FakeWorker worker(s.dlg);
    // The worker has locked the controls, not merely started.
    EXPECT_TRUE(s.port.Process(std::chrono::milliseconds(10'000),
                               [&] { return !s.port.IsControlEnabled(IDC_BTN_INQUIRY); }));
    EXPECT_EQ(0, s.Run("enabled IDC_BTN_INQUIRY\n"
                       "click IDC_BTN_INQUIRY\n"  // disabled: sends nothing
                       "key escape\n"             // Exit: the cancel request
                       "enabled IDCANCEL\n"
                       "wait 10000\n"
                       "enabled IDCANCEL\n"
                       "print\n"
                       "click IDCANCEL\n"));
    EXPECT_EQ("false\nfalse\ntrue\n\"No device found.\\r\\nCancelled.\"\nended 2\n", s.out.str());
    EXPECT_EQ("", s.err.str());
}

TEST_F(RunnerTest, EndOfScriptCancelsARunningTransferAndServesItToTheEnd) {
    for (const std::string script : {"print\n", "print\nbogus\n"}) {
        SCOPED_TRACE(script);
        Session s(ExePath());
        FakeWorker worker(s.dlg);
        const int status = s.Run(script);
        EXPECT_EQ(script == "print\n" ? 0 : 2, status);
        EXPECT_FALSE(s.dlg.TransferRunning());
        EXPECT_EQ("No device found.\r\nCancelled.", s.port.GetText(IDC_EDIT_LOG));
        EXPECT_TRUE(s.port.IsControlEnabled(IDC_BTN_INQUIRY));
    }
}

TEST(ExePathInDir, GivesTheDialogAPathInsideDir) {
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/kt", "/opt/kt/kt6200-script"},   {"/opt/kt/", "/opt/kt/kt6200-script"},
        {"/opt/kt//", "/opt/kt/kt6200-script"}, {"/", "/kt6200-script"},
        {"rel", "rel/kt6200-script"},           {"", "./kt6200-script"},
    };
    for (const auto& [dir, path] : cases) EXPECT_EQ(path, ExePathInDir(dir)) << dir;
}

}  // namespace
}  // namespace kt::script
