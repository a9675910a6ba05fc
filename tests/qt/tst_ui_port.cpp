// The UI port over the Qt dialog: its operations from the GUI thread and
// from workers, lists, timers, and the pure helpers behind the window.
#include <QFontDatabase>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/control_ids.h"
#include "frontends/qt/dialog_units.h"
#include "frontends/qt/file_filter.h"
#include "frontends/qt/main_dialog.h"
#include "frontends/qt/qt_ui_port.h"

using kt::DialogMessage;
using kt::qt::MainDialog;
using kt::qt::QtUiPort;

namespace {

using Message = std::pair<DialogMessage, std::uintptr_t>;

// A worker thread joined only after the GUI thread has served all of its
// blocking requests, even when a check fails and the test returns early.
class Worker {
public:
    template <class F>
    explicit Worker(F body)
        : thread_([this, body = std::move(body)] {
              body();
              done_ = true;
          }) {}
    ~Worker() { Finish(); }
    void Finish() {
        while (!done_) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (thread_.joinable()) thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

class TestUiPort : public QObject {
    Q_OBJECT

private:
    MainDialog* dialog_ = nullptr;
    QtUiPort* port_ = nullptr;
    std::vector<Message> messages_;

private slots:
    void init() {
        dialog_ = new MainDialog;
        port_ = new QtUiPort(*dialog_);
        messages_.clear();
        dialog_->SetMessageSink([this](DialogMessage m, std::uintptr_t w) { messages_.emplace_back(m, w); });
        dialog_->show();
    }
    void cleanup() {
        delete port_;
        delete dialog_;
    }

    void baseUnitsFollowTheDialogManagersRounding_data() {
        QTest::addColumn<int>("alphabetWidth");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        // 52 letters; twice the average, plus one, halved: 6.5 rounds down
        // (truncated 13/26 first), 7.4 and 7.0 give 7.
        QTest::newRow("tahoma-like") << 312 << 13 << 6 << 13;
        QTest::newRow("dejavu 9pt") << 385 << 14 << 7 << 14;
        QTest::newRow("odd double average rounds up") << 390 << 15 << 8 << 15;
    }
    void baseUnitsFollowTheDialogManagersRounding() {
        QFETCH(int, alphabetWidth);
        QFETCH(int, height);
        QFETCH(int, x);
        QFETCH(int, y);
        QCOMPARE(kt::qt::BaseUnitsFromMetrics(alphabetWidth, height), (kt::qt::BaseUnits{x, y}));
    }

    void fileFilterConversion_data() {
        QTest::addColumn<QString>("windows");
        QTest::addColumn<QString>("qt");
        QTest::newRow("two pairs") << "Descriptor file|*.descr|All files(*.*)|*.*||"
                                   << "Descriptor file (*.descr);;All files(*.*) (*)";
        // Every file, with or without an extension.
        QTest::newRow("star dot star in a list") << "Any|*.bin; *.* ||"
                                                 << "Any (*.bin *)";
        QTest::newRow("pattern list") << "Images|*.bin;*.img||"
                                      << "Images (*.bin *.img)";
        QTest::newRow("no final bars") << "Bin|*.bin"
                                       << "Bin (*.bin)";
        QTest::newRow("description without pattern") << "Bin|*.bin|Orphan"
                                                     << "Bin (*.bin)";
        QTest::newRow("stops at the terminator") << "A|*.a||B|*.b||"
                                                 << "A (*.a)";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("utf-8 description")
            << "\xE9\x95\x9C\xE5\x83\x8F|*.bin||" << QString::fromUtf8("\xE9\x95\x9C\xE5\x83\x8F (*.bin)");
    }
    void fileFilterConversion() {
        QFETCH(QString, windows);
        QFETCH(QString, qt);
        const QByteArray utf8 = windows.toUtf8();
        QCOMPARE(kt::qt::ToQtFileFilter(std::string_view(utf8.constData(), utf8.size())), qt);
    }

    void aCjkFontIsInstalledForTheLanguageButton() {
        // Without one the caption is drawn as empty boxes and every text
        // comparison still passes.
        QVERIFY(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty());
        QCOMPARE(port_->GetText(kt::IDC_BUTTON_LANGUAGE), std::string("\xE4\xB8\xAD\xE6\x96\x87"));
    }

    void listsKeepTheirSelectionAndCodeSelectsSilently() {
        const int id = kt::IDC_COMBO_DEVICE;
        QCOMPARE(port_->ListSelection(id), -1);
        port_->ListAppend(id, "Dev0");
        port_->ListAppend(id, "Dev1");
        port_->ListAppend(id, "Dev2");
        QCOMPARE(port_->ListCount(id), 3);
        QCOMPARE(port_->ListSelection(id), -1);  // adding selects nothing
        port_->ListSelect(id, 2);
        QCOMPARE(port_->ListSelection(id), 2);
        QCOMPARE(port_->GetText(id), std::string("Dev2"));
        port_->ListDelete(id, 0);
        QCOMPARE(port_->ListSelection(id), 1);  // follows its item
        port_->ListDelete(id, 1);
        QCOMPARE(port_->ListSelection(id), -1);  // its item is gone
        port_->ListDelete(id, 5);                // out of range: nothing
        QCOMPARE(port_->ListCount(id), 1);
        port_->ListSelect(id, 0);
        port_->ListSelect(id, 7);
        QCOMPARE(port_->ListSelection(id), -1);
        QVERIFY(messages_.empty());
        // The DME type list comes with its items, none selected.
        QCOMPARE(port_->ListCount(kt::IDC_COMBO_DME_TYPE), 2);
        QCOMPARE(port_->ListSelection(kt::IDC_COMBO_DME_TYPE), -1);
        // Commands without a control have no list or state.
        port_->EnableControl(kt::IDC_BTN_CFG_1_LUN_DISABLED, false);
        QVERIFY(!port_->IsControlEnabled(kt::IDC_BTN_CFG_1_LUN_DISABLED));
        QCOMPARE(port_->ListCount(kt::IDC_BTN_CFG_1_LUN_DISABLED), 0);
    }

    void aUserPickRaisesSelectionChange() {
        port_->ListAppend(kt::IDC_COMBO_DEVICE, "Dev0");
        port_->ListAppend(kt::IDC_COMBO_DEVICE, "Dev1");
        port_->ListSelect(kt::IDC_COMBO_DEVICE, 0);
        QTest::keyClick(dialog_->Control(kt::IDC_COMBO_DEVICE), Qt::Key_Down);
        QCOMPARE(port_->ListSelection(kt::IDC_COMBO_DEVICE), 1);
        QCOMPARE(messages_, (std::vector<Message>{{DialogMessage::SelChange, kt::IDC_COMBO_DEVICE}}));
    }

    void buttonsSendTheirCommandOnlyWhileEnabled() {
        for (const kt::ControlSpec& c : kt::MainDialogTemplate().controls) {
            auto* button = qobject_cast<QPushButton*>(dialog_->Control(c.id));
            if (!button || !c.shown) continue;
            messages_.clear();
            port_->EnableControl(c.id, false);
            QVERIFY(!port_->IsControlEnabled(c.id));
            QTest::mouseClick(button, Qt::LeftButton);
            QTest::keyClick(button, Qt::Key_Space);
            QVERIFY2(messages_.empty(), c.name);
            port_->EnableControl(c.id, true);
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(messages_, (std::vector<Message>{{DialogMessage::Command, c.id}}));
        }
    }

    void timersTickAsDialogMessagesUntilStopped() {
        port_->StartTimer(0, 5);
        QTRY_VERIFY(messages_.size() >= 2);
        for (const Message& m : messages_) QCOMPARE(m, (Message{DialogMessage::Timer, 0}));
        port_->StopTimer(0);
        QVERIFY(!port_->TimerActive(0));
        messages_.clear();
        QTest::qWait(30);
        QVERIFY(messages_.empty());
    }

    void workersAppendWithoutLosingLines() {
        constexpr int kLines = 500;
        const int pane = kt::IDC_EDIT_LOG;
        port_->SetText(pane, "start");
        int guiLines = 0;
        {
            Worker worker([this] {
                for (int i = 0; i < kLines; ++i)
                    port_->AppendText(kt::IDC_EDIT_LOG, "\r\nW" + std::to_string(i));
            });
            // The GUI thread appends between serving the worker's requests.
            QTimer gui;
            QObject::connect(&gui, &QTimer::timeout, [&] {
                port_->AppendText(kt::IDC_EDIT_LOG, "\r\nG" + std::to_string(guiLines++));
            });
            gui.start(0);
            worker.Finish();
        }
        QVERIFY(guiLines > 0);
        const QStringList lines = QString::fromStdString(port_->GetText(pane)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 1 + kLines + guiLines);
        int nextW = 0;
        int nextG = 0;
        for (const QString& line : lines.mid(1)) {
            if (line.startsWith(u'W'))
                QCOMPARE(line, QStringLiteral("W%1").arg(nextW++));
            else
                QCOMPARE(line, QStringLiteral("G%1").arg(nextG++));
        }
        QCOMPARE(nextW, kLines);
        QCOMPARE(dialog_->Pane()->document()->blockCount(), lines.size());
    }

    void everyOperationAnswersAWorkerAsItAnswersTheGuiThread() {
        port_->SetText(kt::IDC_EDIT_IDN, "1F");
        port_->ListAppend(kt::IDC_COMBO_DEVICE, "Dev0");
        port_->ListSelect(kt::IDC_COMBO_DEVICE, 0);
        port_->EnableControl(kt::IDC_BTN_INQUIRY, false);
        std::string idn;
        int selection = -2;
        bool inquiryEnabled = true;
        {
            Worker worker([&] {
                idn = port_->GetText(kt::IDC_EDIT_IDN);
                selection = port_->ListSelection(kt::IDC_COMBO_DEVICE);
                inquiryEnabled = port_->IsControlEnabled(kt::IDC_BTN_INQUIRY);
                port_->SetText(kt::IDC_EDIT_VALUE, "AB");
                port_->EnableControl(kt::IDOK, false);
                port_->SetTitle("from a worker");
                port_->StartTimer(3, 5);
            });
        }
        QCOMPARE(idn, std::string("1F"));
        QCOMPARE(selection, 0);
        QVERIFY(!inquiryEnabled);
        QCOMPARE(port_->GetText(kt::IDC_EDIT_VALUE), std::string("AB"));
        QVERIFY(!dialog_->Control(kt::IDOK)->isEnabled());
        QCOMPARE(dialog_->windowTitle(), QStringLiteral("from a worker"));
        // The timer belongs to the GUI thread, so it ticks there.
        QTRY_VERIFY(!messages_.empty());
        QCOMPARE(messages_.front(), (Message{DialogMessage::Timer, 3}));
        port_->StopTimer(3);
    }

    void endingBeforeTheModalRunReturnsAtOnce() {
        port_->EndDialog(kt::IDCANCEL);
        QVERIFY(dialog_->HasEnded());
        QVERIFY(!dialog_->isVisible());
        QCOMPARE(dialog_->RunModal(), kt::IDCANCEL);
    }
};

QTEST_MAIN(TestUiPort)
#include "tst_ui_port.moc"
