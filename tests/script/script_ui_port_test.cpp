#include "frontends/script/script_ui_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/control_ids.h"

namespace kt::script {
namespace {

using std::chrono::milliseconds;

// Lines of the pane text, split at "\r\n" (the first, empty one dropped).
std::vector<std::string> PaneLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 2;
    }
    if (!lines.empty() && lines.front().empty()) lines.erase(lines.begin());
    return lines;
}

struct TextCase {
    int id;
    std::string text;
    std::string shown;
};

TEST(ScriptUiPort, KeepsTextAsTheControlsWould) {
    ScriptUiPort port;
    const TextCase cases[] = {
        {IDC_EDIT_IDN, "1f", "1F"},                                  // upper-case edit
        {IDC_EDIT_DME_REG, "0x0a zz", "0X0A ZZ"},                    // hidden, still upper case
        {IDC_EDIT_IDN, "\xE4\xB8\xAD-x", "\xE4\xB8\xAD-X"},          // UTF-8 bytes untouched
        {IDC_EDIT_LOG, "a\r\n\tb \r\nlower", "a\r\n\tb \r\nlower"},  // pane exactly
        {IDOK, "Refresh now", "Refresh now"},                        // a caption
        {IDC_STATIC_UFS_FEATURE, "group", "group"},                  // a group box caption
    };
    for (const TextCase& c : cases) {
        port.SetText(c.id, c.text);
        EXPECT_EQ(c.shown, port.GetText(c.id)) << c.id;
    }
    port.SetText(IDC_EDIT_VALUE, "a");
    port.AppendText(IDC_EDIT_VALUE, "b");
    EXPECT_EQ("AB", port.GetText(IDC_EDIT_VALUE));
}

TEST(ScriptUiPort, StartsWithTheTemplate) {
    ScriptUiPort port;
    EXPECT_EQ("Exit", port.GetText(IDCANCEL));
    EXPECT_TRUE(port.IsControlEnabled(IDC_BTN_DME_READ));  // hidden but enabled
    EXPECT_EQ((std::vector<std::string>{"DME_GET", "DME_PEER_GET"}), port.ListItems(IDC_COMBO_DME_TYPE));
    EXPECT_EQ(-1, port.ListSelection(IDC_COMBO_DME_TYPE));
    EXPECT_EQ(0, port.ListCount(IDC_COMBO_DEVICE));
    EXPECT_FALSE(port.TimerActive());
}

TEST(ScriptUiPort, IgnoresIdsWithoutAControl) {
    ScriptUiPort port;
    for (int id : {IDC_BTN_CFG_1_LUN_DISABLED, 4242, -1}) {
        port.SetText(id, "x");
        port.EnableControl(id, true);
        port.ListAppend(id, "x");
        EXPECT_FALSE(port.HasControl(id));
        EXPECT_EQ("", port.GetText(id));
        EXPECT_FALSE(port.IsControlEnabled(id));
        EXPECT_EQ(0, port.ListCount(id));
        EXPECT_EQ(-1, port.ListSelection(id));
    }
}

TEST(ScriptUiPort, ListOperations) {
    ScriptUiPort port;
    const int list = IDC_COMBO_DEVICE;
    for (const char* item : {"Dev0", "Dev1", "Dev2", "Dev3"}) port.ListAppend(list, item);
    port.ListSelect(list, 2);
    EXPECT_EQ("Dev2", port.GetText(list));  // a drop-down list shows its selection

    port.ListDelete(list, 0);  // before the selection: the selection moves with its item
    EXPECT_EQ(1, port.ListSelection(list));
    EXPECT_EQ("Dev2", port.GetText(list));
    port.ListDelete(list, 5);  // outside: nothing
    port.ListDelete(list, 1);  // the selected item: no selection
    EXPECT_EQ(-1, port.ListSelection(list));
    EXPECT_EQ("", port.GetText(list));
    EXPECT_EQ((std::vector<std::string>{"Dev1", "Dev3"}), port.ListItems(list));

    port.ListSelect(list, 1);
    port.ListSelect(list, 2);  // outside the list clears the selection
    EXPECT_EQ(-1, port.ListSelection(list));

    port.SetText(list, "typed");  // a drop-down list takes no typing
    port.ListAppend(IDC_EDIT_IDN, "item");
    EXPECT_EQ((std::vector<std::string>{"Dev1", "Dev3"}), port.ListItems(list));
    EXPECT_EQ(0, port.ListCount(IDC_EDIT_IDN));
}

TEST(ScriptUiPort, RunsAWorkersCallsOnTheUiThreadOnlyWhileProcessing) {
    std::vector<std::thread::id> eventThreads;
    ScriptUiPort port([&](const std::string&) { eventThreads.push_back(std::this_thread::get_id()); });
    port.QueueAnswer(true);
    std::atomic<bool> returned{false};
    bool answer = false;
    std::thread worker([&] {
        port.SetText(IDC_EDIT_LOG, "from the worker");
        answer = port.AskYesNo("Go on?", "Question");
        returned = true;
    });

    std::this_thread::sleep_for(milliseconds(50));  // not processing: the worker must wait
    EXPECT_FALSE(returned);
    EXPECT_EQ("", port.GetText(IDC_EDIT_LOG));

    EXPECT_TRUE(port.Process(milliseconds(10'000), [&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ("from the worker", port.GetText(IDC_EDIT_LOG));
    EXPECT_TRUE(answer);
    ASSERT_EQ(1u, eventThreads.size());
    EXPECT_EQ(std::this_thread::get_id(), eventThreads[0]);
}

TEST(ScriptUiPort, AppendsFromTwoThreadsLoseNoLine) {
    ScriptUiPort port;
    constexpr int kLines = 500;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kLines; ++i) port.AppendText(IDC_EDIT_LOG, "\r\nw" + std::to_string(i));
        done = true;
    });
    for (int i = 0; i < kLines; ++i) {
        port.AppendText(IDC_EDIT_LOG, "\r\nm" + std::to_string(i));
        port.Process(milliseconds(0));
    }
    EXPECT_TRUE(port.Process(milliseconds(30'000), [&] { return done.load(); }));
    worker.join();

    int nextWorker = 0, nextMain = 0;
    for (const std::string& line : PaneLines(port.GetText(IDC_EDIT_LOG))) {
        if (line == "w" + std::to_string(nextWorker))
            ++nextWorker;
        else if (line == "m" + std::to_string(nextMain))
            ++nextMain;
        else
            ADD_FAILURE() << "unexpected line " << line;
    }
    EXPECT_EQ(kLines, nextWorker);
    EXPECT_EQ(kLines, nextMain);
}

TEST(ScriptUiPort, TimerTicksArriveWhileProcessingUntilStopped) {
    ScriptUiPort port;
    std::vector<int> ticks;
    port.SetTimerHandler([&](int id) {
        ticks.push_back(id);
        if (ticks.size() == 3) port.StopTimer(id);
    });
    port.StartTimer(7, 10);
    EXPECT_TRUE(port.TimerActive());
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_TRUE(ticks.empty());  // ticks come only while processing
    EXPECT_TRUE(port.Process(milliseconds(10'000), [&] { return !port.TimerActive(); }));
    EXPECT_EQ((std::vector<int>{7, 7, 7}), ticks);
    port.Process(milliseconds(30));
    EXPECT_EQ(3u, ticks.size());
}

TEST(ScriptUiPort, TimerStartedByAWorkerTicksOnTheUiThread) {
    ScriptUiPort port;
    std::thread::id tickThread;
    port.SetTimerHandler([&](int id) {
        tickThread = std::this_thread::get_id();
        port.StopTimer(id);
    });
    std::thread worker([&] { port.StartTimer(0, 10); });
    EXPECT_TRUE(port.Process(milliseconds(10'000), [&] { return tickThread != std::thread::id(); }));
    worker.join();
    EXPECT_EQ(std::this_thread::get_id(), tickThread);
}

TEST(ScriptUiPort, QuestionsAndChoosersTakeQueuedAnswersThenDefaults) {
    std::vector<std::string> events;
    ScriptUiPort port([&](const std::string& line) { events.push_back(line); });
    port.QueueAnswer(true);
    port.QueueFile("out dir/a \"b\".bin");
    port.QueueFile(std::nullopt);
    EXPECT_TRUE(port.AskYesNo("Using test reading mode?", "Test read"));
    EXPECT_FALSE(port.AskYesNo("Again?", "Test read"));
    // The event shows the answer as queued; the dialog gets it as a full path.
    EXPECT_EQ(std::filesystem::current_path() / "out dir/a \"b\".bin",
              port.ChooseFile(FileChooserMode::Save, "Binary File(*.bin)|*.bin||"));
    EXPECT_EQ(std::nullopt, port.ChooseFile(FileChooserMode::Open, "All|*.*||"));
    EXPECT_EQ(std::nullopt, port.ChooseFile(FileChooserMode::Open, "All|*.*||"));
    const std::vector<std::string> expected{
        R"(? yesno "Test read" "Using test reading mode?" -> yes)",
        R"(? yesno "Test read" "Again?" -> no)",
        R"(? file save "Binary File(*.bin)|*.bin||" -> "out dir/a \"b\".bin")",
        R"(? file open "All|*.*||" -> cancel)",
        R"(? file open "All|*.*||" -> cancel)",
    };
    EXPECT_EQ(expected, events);
}

TEST(ScriptUiPort, TheDialogEndsOnce) {
    std::vector<std::string> events;
    ScriptUiPort port([&](const std::string& line) { events.push_back(line); });
    EXPECT_EQ(std::nullopt, port.EndResult());
    port.EndDialog(2);
    port.EndDialog(1);
    EXPECT_EQ(2, port.EndResult());
    EXPECT_EQ(std::vector<std::string>{"ended 2"}, events);
}

TEST(ScriptUiPort, AfterShutdownAWorkersCallsNeedNoProcessing) {
    ScriptUiPort port;
    std::atomic<bool> started{false};
    std::thread worker([&] {
        started = true;
        port.SetText(IDC_EDIT_LOG, "queued before the shutdown");
        port.AppendText(IDC_EDIT_LOG, "; run at once after it");
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(milliseconds(20));
    port.Shutdown();  // runs what is queued and releases the worker
    worker.join();
    EXPECT_EQ("queued before the shutdown; run at once after it", port.GetText(IDC_EDIT_LOG));
}

}  // namespace
}  // namespace kt::script

namespace kt::script {
namespace {

TEST(ScriptUiPort, SaveChooserConfirmsReplacingAnExistingFile) {
    const auto file = std::filesystem::temp_directory_path() / "kt-script-port-existing.bin";
    std::ofstream(file) << "data";
    const std::string path = file.string();
    const std::string question =
        R"(? yesno "Confirm Save As" ")" + path + R"( already exists.\nDo you want to replace it?" -> )";
    struct Case {
        FileChooserMode mode;
        std::optional<bool> answer;  // queued before the chooser
        bool chosen;
        bool asked;
    };
    const Case cases[] = {
        {FileChooserMode::Save, std::nullopt, false, true},  // nothing queued: the file is kept
        {FileChooserMode::Save, true, true, true},
        {FileChooserMode::Save, false, false, true},
        {FileChooserMode::Open, std::nullopt, true, false},  // opening asks nothing
    };
    for (const Case& c : cases) {
        std::vector<std::string> events;
        ScriptUiPort port([&](const std::string& line) { events.push_back(line); });
        port.QueueFile(path);
        if (c.answer) port.QueueAnswer(*c.answer);
        const auto chosen = port.ChooseFile(c.mode, "All|*.*||");
        EXPECT_EQ(c.chosen, chosen.has_value());
        ASSERT_EQ(c.asked ? 2u : 1u, events.size());
        if (c.asked) {
            EXPECT_EQ(question + (c.answer.value_or(false) ? "yes" : "no"), events[1]);
        }
    }
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace kt::script
