// What only the widgets show: the template built into the window, keyboard,
// focus and close rules, the pane, the About box and Decode window, and the
// UI port's thread rule, on emulated programmers.
#include <kt62/apiKT6200.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QtTest>
#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "common/control_ids.h"
#include "common/settings_file.h"
#include "dialog/dialog_template.h"
#include "frontends/qt/about_box.h"
#include "frontends/qt/decode_window.h"
#include "frontends/qt/desktop.h"
#include "frontends/qt/dialog_units.h"
#include "frontends/qt/file_filter.h"
#include "frontends/qt/window_settings.h"
#include "tests/support/temp_dir.h"

using kt::DialogMessage;
using Message = std::pair<DialogMessage, std::uintptr_t>;

class TestMainDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<kt::test::TempDir> dir_;
    std::unique_ptr<kt::qt::Desktop> desktop_;
    std::vector<Message> messages_;

    // The started program on an emulator with no programmer or one; with
    // record, the logic's messages are recorded instead of handled.
    kt::qt::MainDialog& Start(bool programmer = false, bool record = false) {
        dir_ = std::make_unique<kt::test::TempDir>();
        const char* profile =
            programmer ? R"({"programmers": [{"firmware_version": [1, 2, 3]}]})" : "{\"programmers\": []}";
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
    // Runs fn while a popup or modal box is up, then closes it.
    template <class Fn>
    static void WhenShown(Fn fn) {
        QTimer::singleShot(0, [fn] {
            QWidget* up = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                            : QApplication::activeModalWidget();
            fn(up);
            if (up) up->close();
        });
    }

private slots:
    void cleanup() {
        const KT62_HANDLE h = desktop_ ? desktop_->Logic().DeviceHandle() : KT62_INVALID_HANDLE;
        desktop_.reset();
        if (h != KT62_INVALID_HANDLE) kt62Close(h);
        messages_.clear();
    }

    void pureHelpers() {
        // 52 letters: twice the average, plus one, halved.
        QCOMPARE(kt::qt::BaseUnitsFromMetrics(312, 13), (kt::qt::BaseUnits{6, 13}));
        QCOMPARE(kt::qt::BaseUnitsFromMetrics(390, 15), (kt::qt::BaseUnits{8, 15}));
        const std::pair<std::string, QString> filters[] = {
            {"Descriptor file|*.descr|All files(*.*)|*.*||", "Descriptor file (*.descr);;All files(*.*) (*)"},
            {"Any|*.bin; *.* ||", "Any (*.bin *)"},
            {"Bin|*.bin|Orphan", "Bin (*.bin)"},
            {"A|*.a||B|*.b||", "A (*.a)"},
            {"\xE9\x95\x9C|*.bin||", QString::fromUtf8("\xE9\x95\x9C (*.bin)")},
        };
        for (const auto& [windows, qt] : filters) QCOMPARE(kt::qt::ToQtFileFilter(windows), qt);
        // Without a CJK font the language button's caption is empty boxes.
        QVERIFY(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty());
    }

    // The window's settings file is checked before Qt opens it: a FIFO (whose open would block
    // until a writer came) and a file over the limit are refused with their reason, a regular
    // file is read. alarm() ends a run that blocks.
    void theWindowSettingsFileIsReadOnlyWhenRegularAndSmall() {
        const kt::test::TempDir home;
        setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
        const std::string path = home.Write("kt6200/kt6200.conf", "[window]\nposition=@Point(3 4)\n");
        QVERIFY(kt::qt::WindowSettingsPath() == path);
        std::string why;
        const auto settings = kt::qt::OpenWindowSettings(why);
        QVERIFY(settings && settings->value(QStringLiteral("window/position")).toPoint() == QPoint(3, 4));
        std::filesystem::resize_file(path, kt::kSettingsFileLimit + 1);
        QVERIFY(!kt::qt::OpenWindowSettings(why));
        QVERIFY2(why.starts_with(path + ": larger than 1 MiB"), why.c_str());
        QCOMPARE(unlink(path.c_str()), 0);
        QCOMPARE(mkfifo(path.c_str(), 0600), 0);
        alarm(10);
        QVERIFY(!kt::qt::OpenWindowSettings(why));
        alarm(0);
        QVERIFY2(why == path +
                            ": not a regular file (a FIFO); the window opens at its default place and its "
                            "place is not kept",
                 why.c_str());
        unsetenv("XDG_CONFIG_HOME");
    }

    void theTemplateIsBuiltOnceAtItsRectanglesInTabOrder() {
        kt::qt::MainDialog& dialog = Start();
        const kt::qt::BaseUnits u = dialog.Units();
        const kt::DialogSpec& spec = kt::MainDialogTemplate();
        QCOMPARE(dialog.size(), QSize(kt::MulDiv(spec.width, u.x, 4), kt::MulDiv(spec.FullHeight(), u.y, 8)));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        std::vector<QWidget*> tab_stops;
        for (std::size_t i = 0; i < spec.controls.size(); ++i) {
            const kt::ControlSpec& c = spec.controls[i];
            QWidget* w = dialog.TemplateControls()[i];
            const kt::PixelRect r = kt::DluToPixels(c.rect, u.x, u.y);
            QVERIFY2(w->geometry() == QRect(r.x, r.y, r.width, r.height) && w->isVisible() == c.shown,
                     c.caption);
            QCOMPARE(bool(w->focusPolicy() & Qt::TabFocus), c.TabStop());
            if (c.TabStop()) tab_stops.push_back(w);
            // Group boxes lie beneath what they enclose.
            QWidget* top = c.shown ? dialog.childAt(w->geometry().center()) : w;
            while (top && top->parentWidget() != &dialog) top = top->parentWidget();
            QVERIFY2(c.kind == kt::ControlKind::GroupBox || top == w, c.caption);
        }
        std::vector<QWidget*> chain{tab_stops.front()};
        for (QWidget* w = chain[0]->nextInFocusChain(); w != chain[0] && chain.size() <= tab_stops.size();
             w = w->nextInFocusChain())
            if (std::find(tab_stops.begin(), tab_stops.end(), w) != tab_stops.end()) chain.push_back(w);
        QCOMPARE(chain, tab_stops);
        QCOMPARE(dialog.HelpButton()->menu()->actions(), QList<QAction*>{dialog.AboutAction()});
    }

    void thePaneShowsTheLogicsTextExactlyFromTheBeginning() {
        Start();
        const kt::qt::OutputPane* pane = desktop_->Dialog().Pane();
        QVERIFY(pane->isReadOnly() && pane->lineWrapMode() == QPlainTextEdit::NoWrap);
        QVERIFY(QFontInfo(pane->font()).fixedPitch());
        Port().SetText(kt::IDC_EDIT_LOG, "\xE4\xB8\xAD\r");
        Port().AppendText(kt::IDC_EDIT_LOG, "\n\t1 \r\n");
        QCOMPARE(Pane(), std::string("\xE4\xB8\xAD\r\n\t1 \r\n"));
        QCOMPARE(pane->toPlainText(), QString::fromUtf8("\xE4\xB8\xAD\n\t1 \n"));
        for (int i = 0; i < 60; ++i) Port().AppendText(kt::IDC_EDIT_LOG, "\r\nline " + std::string(400, 'w'));
        QCoreApplication::processEvents();
        QVERIFY(pane->verticalScrollBar()->maximum() > 0 && pane->horizontalScrollBar()->maximum() > 0);
        QCOMPARE(pane->verticalScrollBar()->value() + pane->horizontalScrollBar()->value(), 0);
    }

    void keysTypeUpperCaseAndEnterRefreshesFromEveryControlButThePane() {
        Start(true);
        for (const kt::ControlSpec& c : kt::MainDialogTemplate().controls) {
            auto* edit = qobject_cast<QLineEdit*>(Control(c.id));
            if (!edit || !(c.style & kt::kStyleUpperCase)) continue;
            edit->setText("AB");
            edit->setCursorPosition(1);
            QTest::keyClicks(edit, "f0x");
            QVERIFY2(edit->text() == "AF0XB" && edit->cursorPosition() == 4, c.name);
        }
        for (const kt::ControlSpec& c : kt::MainDialogTemplate().controls) {
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
        QVERIFY(!desktop_->Dialog().HasEnded());
    }

    void buttonsAndListsSendOnlyWhatTheUserDoes() {
        Start(false, true);
        for (const kt::ControlSpec& c : kt::MainDialogTemplate().controls) {
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
        Port().ListSelect(kt::IDC_COMBO_DEVICE, 1);
        QVERIFY(messages_.empty());  // the code's selections are silent
        QTest::keyClick(Control(kt::IDC_COMBO_DEVICE), Qt::Key_Down);
        QCOMPARE(Port().ListSelection(kt::IDC_COMBO_DEVICE), 2);
        QCOMPARE(messages_, (std::vector<Message>{{DialogMessage::SelChange, kt::IDC_COMBO_DEVICE}}));
    }

    // A worker's call waits for the GUI thread and answers as it would there.
    void workersAreServedByTheGuiThread() {
        Start(false, true);
        Port().EnableControl(kt::IDC_BTN_INQUIRY, false);
        std::atomic<bool> done{false};
        bool inquiry_enabled = true;
        std::thread worker([&] {
            inquiry_enabled = Port().IsControlEnabled(kt::IDC_BTN_INQUIRY);
            for (int i = 0; i < 300; ++i) Port().AppendText(kt::IDC_EDIT_LOG, "\r\nW" + std::to_string(i));
            Port().SetTitle("from a worker");
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
        QCOMPARE(desktop_->Dialog().windowTitle(), QStringLiteral("from a worker"));
        const QStringList lines = QString::fromStdString(Pane()).split("\r\n");
        QCOMPARE(lines.size(), 1 + 300 + gui_lines);
        QCOMPARE(desktop_->Dialog().Pane()->document()->blockCount(), lines.size());
        QCOMPARE(lines.filter("W").last(), QStringLiteral("W299"));
        QTRY_VERIFY(messages_.size() >= 2);  // the timer ticks on the GUI thread
        QCOMPARE(messages_.front(), (Message{DialogMessage::Timer, 3}));
        Port().StopTimer(3);
        QVERIFY(!Port().TimerActive(3));
    }

    // A window close closes the programmer; Exit and Escape keep it open.
    void endingTheDialog() {
        for (int how : {0, 1, 2}) {
            kt::qt::MainDialog& dialog = Start(true);
            if (how == 0) {
                // A running transfer has Exit disabled: the close only beeps.
                Port().EnableControl(kt::IDCANCEL, false);
                QVERIFY(!dialog.close() && dialog.isVisible() && !dialog.HasEnded());
                Port().EnableControl(kt::IDCANCEL, true);
                QVERIFY(dialog.close());
            }
            if (how == 1) QTest::mouseClick(Control(kt::IDCANCEL), Qt::LeftButton);
            if (how == 2) QTest::keyClick(Control(kt::IDC_EDIT_IDN), Qt::Key_Escape);
            QVERIFY(dialog.HasEnded() && !dialog.isVisible());
            QCOMPARE(dialog.RunModal(), kt::IDCANCEL);
            QCOMPARE(desktop_->Logic().DeviceHandle() == KT62_INVALID_HANDLE, how == 0);
            cleanup();
        }
    }

    void aboutBoxFromF1AndTheBackgroundMenu() {
        kt::qt::MainDialog& dialog = Start();
        QCOMPARE(dialog.AboutAction()->text(), QStringLiteral("About KT6200Demo(&A)..."));
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QString shown;
        WhenShown([&](QWidget* up) {
            if (auto* box = qobject_cast<kt::qt::AboutBox*>(up))
                shown = box->windowTitle() + "|" + box->VersionLabel()->text();
        });
        QTest::keyClick(&dialog, Qt::Key_F1);
        QCOMPARE(shown, QStringLiteral("About Varnel Software|Varnel Software version: 1.0.8"));
        // On group boxes as on empty space, not on controls.
        const QPoint points[] = {Control(kt::IDC_STATIC_COMMON)->geometry().bottomLeft() + QPoint(3, -3),
                                 Control(kt::IDC_BTN_INQUIRY)->geometry().center()};
        for (const QPoint& at : points) {
            QStringList items;
            WhenShown([&](QWidget* up) {
                for (QAction* a : up ? up->actions() : QList<QAction*>{}) items << a->text();
            });
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, dialog.mapToGlobal(at));
            QCoreApplication::sendEvent(&dialog, &event);
            QCoreApplication::processEvents();
            QCOMPARE(items.size(), at == points[1] ? 0 : 1);
        }
    }

    void decodeOpensTheFieldsOfTheDescriptorJustRead() {
        Start(true);
        int decodes = 0;
        auto pane_menu = [&] {
            WhenShown([&](QWidget* up) {
                for (QAction* a : up ? up->actions() : QList<QAction*>{})
                    if (a->text() == QStringLiteral("Decode")) ++decodes, a->trigger();
            });
            emit desktop_->Dialog().Pane()->customContextMenuRequested(QPoint(5, 5));
        };
        pane_menu();  // nothing read yet
        Port().SetText(kt::IDC_EDIT_IDN, "0");
        desktop_->Dialog().Send(DialogMessage::Command, kt::IDC_BTN_DESC_READ);
        const std::string pane = Pane();
        pane_menu();
        QCOMPARE(decodes, 1);
        QCOMPARE(Pane(), pane);
        auto* window = desktop_->Dialog().findChild<kt::qt::DecodeWindow*>();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Decode: Device descriptor (IDN 0x00), index 0x00"));
        QCOMPARE(window->Table()->item(0, 1)->text(), QStringLiteral("bLength"));
        QCOMPARE(window->Table()->item(0, 2)->text().toStdString(), pane.substr(pane.find("\r\n") + 2, 2));
    }
};

QTEST_MAIN(TestMainDialog)
#include "tst_main_dialog.moc"
