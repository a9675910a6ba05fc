// The runner on an initialised dialog with no programmer, and the thread,
// timer and chooser rules of its UI port. Whole runs on emulated devices
// are the end-to-end cases.
#include "frontends/script/runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>

#include "common/control_ids.h"
#include "tests/support/temp_dir.h"

namespace kt::script {
namespace {

using std::chrono::milliseconds;

struct Session {
    explicit Session(const test::TempDir& dir) : dlg(port, dir.Path() + "/kt6200-script") {
        setenv("KT62_EMULATOR", dir.Write("none.json", R"({"programmers": []})").c_str(), 1);
        setenv("XDG_DATA_HOME", dir.Path().c_str(), 1);
        port.SetTimerHandler(
            [this](int id) { dlg.Dispatch(DialogMessage::Timer, static_cast<std::uintptr_t>(id)); });
        dlg.OnInitDialog();
    }
    int Run(const std::string& script) {
        std::istringstream in(script);
        return run.Run(in);
    }
    std::ostringstream out, err;
    ScriptUiPort port{[this](const std::string& line) { run.WriteLine(line); }};
    CKT6200DemoDlg dlg;
    Runner run{port, dlg, out, err};
};

TEST(Runner, ScriptsGiveTheirOutputStatusAndOneErrorLine) {
    const std::string too_long = "print\n" + std::string((1u << 20) + 1, 'x') + "\nprint\n";
    const struct {
        const char *script, *out;
        int status;
        const char* err;
    } cases[] = {
        {"set IDC_EDIT_LOG x\r\nprint\r\n", "\"x\"\n", 0, ""},
        {"set IDC_EDIT_IDN  ab\ntext 1013\n", "\" AB\"\n", 0, ""},
        {"select IDC_COMBO_DME_TYPE 0\nselection 1024\ntext IDC_COMBO_DME_TYPE\n", "0\n\"DME_GET\"\n", 0, ""},
        {"click 9999\nwait\nsleep 0\nanswer yes\nchoose cancel\n", "", 0, ""},
        {"close\n# fine\n\nclose\n", "ended 2\n", 2, "line 4: the dialog has ended"},
        {"print\nbogus\nprint\n", "\"No device found.\"\n", 2, "line 2: unknown verb \"bogus\""},
        {"text 1037\n", "", 2, "line 1: unknown control \"1037\""},            // a command without a control
        {"wait call 20\n", "", 2, "line 1: wait call timed out after 20 ms"},  // no transfer runs
        {"key enter IDC_BTN_CFG_1_LUN_DISABLED\n", "", 2,
         "line 1: unknown control \"IDC_BTN_CFG_1_LUN_DISABLED\""},
        {"select IDC_COMBO_DME_TYPE 2\n", "", 2,
         "line 1: position 2 is outside IDC_COMBO_DME_TYPE (2 items)"},
        {"select IDC_EDIT_IDN 0\n", "", 2, "line 1: \"IDC_EDIT_IDN\" is not a list"},
        {"set IDC_COMBO_DEVICE Dev0\n", "", 2,
         "line 1: \"IDC_COMBO_DEVICE\" is a list: pick an item with select"},
        {too_long.c_str(), "\"No device found.\"\n", 2,
         "line 2: longer than 1048576 bytes, the limit for a line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.script).substr(0, 80));
        const test::TempDir dir;
        Session s(dir);
        EXPECT_EQ(s.Run(c.script), c.status);
        EXPECT_EQ(s.out.str(), c.out);
        EXPECT_EQ(s.err.str(), *c.err ? "kt6200-script: " + std::string(c.err) + "\n" : "");
    }
}

TEST(Runner, DisabledControlsTakeNothingAndWaitTimesOutOnARunningTimer) {
    const test::TempDir dir;
    Session s(dir);
    s.port.EnableControl(IDOK, false);
    s.port.EnableControl(IDC_COMBO_DME_TYPE, false);
    s.port.StartTimer(5, 10);
    EXPECT_EQ(s.Run("set IDC_EDIT_LOG x\nclick IDOK\nkey enter IDC_EDIT_IDN\nselect IDC_COMBO_DME_TYPE 0\n"
                    "print\nselection IDC_COMBO_DME_TYPE\nwait 30\n"),
              2);
    EXPECT_EQ(s.out.str(), "\"x\"\n1\n");
    EXPECT_EQ(s.port.Beeps(), 1);  // Enter without an enabled default button
    EXPECT_EQ(s.err.str(), "kt6200-script: line 7: wait timed out after 30 ms\n");
}

// A worker's calls run on the UI thread, interleaved with its own, as it processes: its texts, its
// questions, the timers it starts; after the shutdown they run at once on the caller's.
TEST(ScriptUiPort, WorkersCallsRunOnTheUiThreadWhileItProcesses) {
    std::vector<std::thread::id> threads;
    ScriptUiPort port([&](const std::string&) { threads.push_back(std::this_thread::get_id()); });
    port.SetTimerHandler([&](int id) {
        threads.push_back(std::this_thread::get_id());
        if (threads.size() == 4) port.StopTimer(id);
    });
    port.QueueAnswer(true);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) port.AppendText(IDC_EDIT_LOG, "w");
        EXPECT_TRUE(port.AskYesNo("Go on?", "Question"));
        port.StartTimer(7, 10);
        returned = true;
    });
    for (int i = 0; i < 200; ++i) port.AppendText(IDC_EDIT_LOG, "m"), port.Process(milliseconds(0));
    EXPECT_TRUE(port.Process(milliseconds(60'000), [&] { return returned && !port.TimerActive(); }));
    worker.join();
    EXPECT_EQ(port.GetText(IDC_EDIT_LOG).size(), 400u);
    EXPECT_EQ(threads, std::vector<std::thread::id>(4, std::this_thread::get_id()));  // question, 3 ticks
    port.Shutdown();
    std::thread([&] { port.SetText(IDC_EDIT_LOG, "after"); }).join();
    EXPECT_EQ(port.GetText(IDC_EDIT_LOG), "after");
}

// Without a queued answer a chooser cancels and a question says no, so
// saving over an existing file keeps it.
TEST(ScriptUiPort, UnansweredChoosersCancelAndSaveAsksBeforeReplacing) {
    const test::TempDir dir;
    const std::string existing = dir.Write("existing.bin", "data");
    std::vector<std::string> events;
    ScriptUiPort port([&](const std::string& line) { events.push_back(line); });
    EXPECT_EQ(port.ChooseFile(FileChooserMode::Open, "F|*.*||"), std::nullopt);
    port.QueueFile(existing);
    EXPECT_EQ(port.ChooseFile(FileChooserMode::Save, "F|*.*||"), std::nullopt);
    EXPECT_EQ(events,
              (std::vector<std::string>{R"(? file open "F|*.*||" -> cancel)",
                                        "? file save \"F|*.*||\" -> \"" + existing + "\"",
                                        "? yesno \"Confirm Save As\" \"" + existing +
                                            " already exists.\\nDo you want to replace it?\" -> no"}));
}

}  // namespace
}  // namespace kt::script
