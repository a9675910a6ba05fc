// What the end-to-end cases cannot reach: a line of a megabyte, disabled controls, the port's threads.
#include "frontends/script/runner.h"

#include <gtest/gtest.h>

#include <atomic>
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

// The other refusals are end-to-end cases; a script file of a megabyte is not.
TEST(Runner, ALineLongerThanTheLimitEndsTheRunThere) {
    const test::TempDir dir;
    Session s(dir);
    EXPECT_EQ(s.Run("print\n" + std::string((1u << 20) + 1, 'x') + "\nprint\n"), 2);
    EXPECT_EQ(s.out.str(), "\"No device found.\"\n");
    EXPECT_EQ(s.err.str(), "kt6200-script: line 2: longer than 1048576 bytes, the limit for a line\n");
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

// A worker's texts, questions and timers run on the UI thread as it processes; after the shutdown, at once.
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

}  // namespace
}  // namespace kt::script
