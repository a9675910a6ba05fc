// What only the widgets show: the template, keys, focus and close rules, the UI port's thread rule.
#include <kt62/apiKT6200.h>

#include <QtTest>
#include <QtWidgets>
#include <thread>

#include "common/control_ids.h"
#include "dialog/dialog_template.h"
#include "frontends/qt/desktop.h"
#include "tests/support/temp_dir.h"

using kt::DialogMessage;
using Message = std::pair<DialogMessage, std::uintptr_t>;

class TestMainDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<kt::test::TempDir> dir_;
    std::unique_ptr<kt::qt::Desktop> desktop_;
    std::vector<Message> messages_;

    // The program on an emulated programmer; with record, the logic's messages are recorded, not handled.
    kt::qt::MainDialog& Start(bool record = false) {
        dir_ = std::make_unique<kt::test::TempDir>();
        const char* profile = R"({"programmers": [{"firmware_version": [1, 2, 3]}]})";
        setenv("KT62_EMULATOR", dir_->Write("profile.json", profile).c_str(), 1);
        desktop_ = std::make_unique<kt::qt::Desktop>(dir_->Path() + "/bin/kt6200");
        desktop_->Start();
        if (record)
            desktop_->Dialog().SetMessageSink(
                [this](DialogMessage m, std::uintptr_t w) { messages_.emplace_back(m, w); });
        return desktop_->Dialog();
    }
    kt::qt::QtUiPort& Port() { return desktop_->Port(); }
    std::string Pane() { return Port().GetText(kt::IDC_EDIT_LOG); }
    QWidget* Control(int id) { return desktop_->Dialog().Control(id); }

private slots:
    void cleanup() {
        const KT62_HANDLE h = desktop_ ? desktop_->Logic().DeviceHandle() : KT62_INVALID_HANDLE;
        desktop_.reset();
        if (h != KT62_INVALID_HANDLE) kt62Close(h);
        messages_.clear();
    }

    // Controls at their rectangles, group boxes beneath what they enclose, tab stops in template order.
    void theTemplateIsBuiltAtItsRectanglesInTabOrder() {
        kt::qt::MainDialog& dialog = Start();
        const kt::qt::BaseUnits u = dialog.Units();
        const kt::DialogLayout& spec = kt::MainDialogTemplate();
        QCOMPARE(dialog.size(), QSize(kt::MulDiv(spec.width, u.x, 4), kt::MulDiv(spec.FullHeight(), u.y, 8)));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        std::vector<QWidget*> tab_stops;
        for (std::size_t i = 0; i < spec.controls.size(); ++i) {
            const kt::ControlEntry& c = spec.controls[i];
            QWidget* w = dialog.TemplateControls()[i];
            const kt::PixelRect r = kt::DluToPixels(c.rect, u.x, u.y);
            QCOMPARE(w->geometry(), QRect(r.x, r.y, r.width, r.height));
            QCOMPARE(w->isVisible(), c.shown);
            QCOMPARE(bool(w->focusPolicy() & Qt::TabFocus), c.TabStop());
            if (c.TabStop()) tab_stops.push_back(w);
            QWidget* top = c.shown ? dialog.childAt(w->geometry().center()) : w;
            while (top && top->parentWidget() != &dialog) top = top->parentWidget();
            QVERIFY2(c.kind == kt::ControlKind::GroupBox || top == w, c.caption);
        }
        std::vector<QWidget*> chain{tab_stops.front()};
        for (QWidget* w = chain[0]->nextInFocusChain(); w != chain[0] && chain.size() <= tab_stops.size();
             w = w->nextInFocusChain())
            if (std::find(tab_stops.begin(), tab_stops.end(), w) != tab_stops.end()) chain.push_back(w);
        QCOMPARE(chain, tab_stops);
    }

    // Upper-case fields type upper case; Enter is Refresh (while enabled) but in the pane; Escape is Exit.
    void keys() {
        kt::qt::MainDialog& dialog = Start();
        for (const kt::ControlEntry& c : kt::MainDialogTemplate().controls) {
            auto* edit = qobject_cast<QLineEdit*>(Control(c.id));
            if (!edit || !(c.style & kt::kStyleUpperCase)) continue;
            edit->setText("AB");
            edit->setCursorPosition(1);
            QTest::keyClicks(edit, "f0x");
            QCOMPARE(edit->text() + QString::number(edit->cursorPosition()), QStringLiteral("AF0XB4"));
        }
        for (const kt::ControlEntry& c : kt::MainDialogTemplate().controls) {
            if (!c.TabStop() || !c.shown) continue;
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
                Port().SetText(kt::IDC_EDIT_LOG, "");
                QTest::keyClick(Control(c.id), key);
                QVERIFY2(Pane() == (c.kind == kt::ControlKind::OutputPane ? "" : "Firmware version: 1.2.3"),
                         c.name);
            }
        }
        Port().EnableControl(kt::IDOK, false);
        Port().SetText(kt::IDC_EDIT_LOG, "");
        QTest::keyClick(Control(kt::IDC_EDIT_IDN), Qt::Key_Return);
        QCOMPARE(Pane(), std::string());
        QVERIFY(!dialog.HasEnded());
        QTest::keyClick(Control(kt::IDC_EDIT_IDN), Qt::Key_Escape);
        QVERIFY(dialog.HasEnded());
        QVERIFY(!dialog.isVisible());
        QVERIFY(desktop_->Logic().DeviceHandle() != KT62_INVALID_HANDLE);
    }

    void buttonsAndListsSendOnlyWhatTheUserDoes() {
        Start(true);
        for (const kt::ControlEntry& c : kt::MainDialogTemplate().controls) {
            auto* button = qobject_cast<QPushButton*>(Control(c.id));
            if (!button || !c.shown) continue;
            messages_.clear();
            Port().EnableControl(c.id, false);
            QTest::mouseClick(button, Qt::LeftButton);
            QTest::keyClick(button, Qt::Key_Space);
            Port().EnableControl(c.id, true);
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(messages_, (std::vector<Message>{{DialogMessage::Command, c.id}}));
        }
        messages_.clear();
        for (const char* item : {"Dev0", "Dev1", "Dev2"}) Port().ListAppend(kt::IDC_COMBO_DEVICE, item);
        Port().ListSelect(kt::IDC_COMBO_DEVICE, 1);  // silent: only the user's selections are sent
        QTest::keyClick(Control(kt::IDC_COMBO_DEVICE), Qt::Key_Down);
        QCOMPARE(Port().ListSelection(kt::IDC_COMBO_DEVICE), 2);
        QCOMPARE(messages_, (std::vector<Message>{{DialogMessage::SelChange, kt::IDC_COMBO_DEVICE}}));
    }

    // A worker's call waits for the GUI thread and answers as it would there.
    void workersAreServedByTheGuiThread() {
        Start(true);
        Port().EnableControl(kt::IDC_BTN_INQUIRY, false);
        std::atomic<bool> done{false};
        bool inquiry_enabled = true;
        std::thread worker([&] {
            inquiry_enabled = Port().IsControlEnabled(kt::IDC_BTN_INQUIRY);
            for (int i = 0; i < 300; ++i) Port().AppendText(kt::IDC_EDIT_LOG, "\r\nW" + std::to_string(i));
            Port().StartTimer(3, 5);
            done = true;
        });
        int gui_lines = 0;
        while (!done) {
            Port().AppendText(kt::IDC_EDIT_LOG, "\r\nG" + std::to_string(gui_lines++));
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        worker.join();
        QVERIFY(!inquiry_enabled);
        const QStringList lines = QString::fromStdString(Pane()).split("\r\n");
        QCOMPARE(lines.size(), 1 + 300 + gui_lines);
        QCOMPARE(desktop_->Dialog().Pane()->document()->blockCount(), lines.size());
        QCOMPARE(lines.filter("W").last(), QStringLiteral("W299"));
        QTRY_VERIFY(!messages_.empty());  // the timer ticks on the GUI thread
        QCOMPARE(messages_.front(), (Message{DialogMessage::Timer, 3}));
    }

    // A window close closes the programmer as it ends the dialog; while Exit is disabled it only beeps.
    void aWindowCloseClosesTheProgrammer() {
        kt::qt::MainDialog& dialog = Start();
        Port().EnableControl(kt::IDCANCEL, false);
        QVERIFY(!dialog.close());
        QVERIFY(!dialog.HasEnded());
        Port().EnableControl(kt::IDCANCEL, true);
        QVERIFY(dialog.close());
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.RunModal(), kt::IDCANCEL);
        QCOMPARE(desktop_->Logic().DeviceHandle(), KT62_INVALID_HANDLE);
    }
};

QTEST_MAIN(TestMainDialog)
#include "tst_main_dialog.moc"
