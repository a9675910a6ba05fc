// The desktop window over the dialog logic: the template layout, focus and
// keyboard rules, the output pane, the window close, and the About box, on
// emulated programmers described by temporary profiles.
#include <kt62/apiKT6200.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QtTest>
#include <cstdlib>
#include <memory>
#include <string>

#include "common/control_ids.h"
#include "dialog/dialog_template.h"
#include "frontends/qt/about_box.h"
#include "frontends/qt/decode_window.h"
#include "frontends/qt/desktop.h"
#include "tests/support/temp_dir.h"

using kt::DialogMessage;
using kt::qt::Desktop;

namespace {

constexpr const char* kNoProgrammer = R"({"programmers": []})";
constexpr const char* kOneProgrammer = R"({"programmers": [{"firmware_version": [1, 2, 3]}]})";

int CountLinesStartingWith(const std::string& text, const std::string& prefix) {
    int count = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        if (text.compare(at, prefix.size(), prefix) == 0) ++count;
        at = end + 1;
    }
    return count;
}

}  // namespace

class TestMainDialog : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<kt::test::TempDir> dir_;
    std::unique_ptr<Desktop> desktop_;
    std::string tracePath_;
    std::unique_ptr<kt::test::TempDir> traceDir_;

    // A started desktop program on the given profile.
    Desktop& Start(const char* profile) {
        const std::string path = dir_->Write("profile.json", profile);
        setenv("KT62_EMULATOR", path.c_str(), 1);
        desktop_ = std::make_unique<Desktop>(dir_->Path() + "/bin/kt6200");
        desktop_->Start();
        return *desktop_;
    }
    // The emulated programmers of profiles exist yet.
    bool EmulatorReady() {
        const std::string path = dir_->Write("probe.json", kOneProgrammer);
        setenv("KT62_EMULATOR", path.c_str(), 1);
        return kt62Search() == 1;
    }
    std::string Pane() { return desktop_->Port().GetText(kt::IDC_EDIT_LOG); }
    QWidget* Control(int id) { return desktop_->Dialog().Control(id); }
    std::size_t TraceSize() { return kt::test::TempDir::Read(tracePath_).size(); }

private slots:
    void initTestCase() {
        // The library opens its trace once per process; every test reads
        // what its own actions appended.
        traceDir_ = std::make_unique<kt::test::TempDir>();
        tracePath_ = traceDir_->Path() + "/trace.txt";
        setenv("KT62_TRACE", tracePath_.c_str(), 1);
    }
    void init() { dir_ = std::make_unique<kt::test::TempDir>(); }
    void cleanup() {
        if (desktop_) {
            const KT62_HANDLE h = desktop_->Logic().DeviceHandle();
            desktop_.reset();
            if (h != KT62_INVALID_HANDLE) kt62Close(h);
        }
        unsetenv("KT62_EMULATOR");
        dir_.reset();
    }

    void controlsSitAtTheirTemplateRectanglesAndOnlyTheDmeGroupIsHidden() {
        Start(kNoProgrammer);
        const kt::qt::MainDialog& dialog = desktop_->Dialog();
        const kt::qt::BaseUnits units = dialog.Units();
        const kt::DialogSpec& spec = kt::MainDialogTemplate();
        QCOMPARE(dialog.TemplateControls().size(), std::size_t{42});
        QCOMPARE(dialog.size(),
                 QSize(kt::MulDiv(spec.width, units.x, 4), kt::MulDiv(spec.FullHeight(), units.y, 8)));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        for (std::size_t i = 0; i < spec.controls.size(); ++i) {
            const kt::PixelRect r = kt::DluToPixels(spec.controls[i].rect, units.x, units.y);
            QWidget* w = dialog.TemplateControls()[i];
            QCOMPARE(w->parentWidget(), &dialog);
            QVERIFY2(w->geometry() == QRect(r.x, r.y, r.width, r.height), spec.controls[i].caption);
            QCOMPARE(w->isVisible(), spec.controls[i].shown);  // the DME group is hidden
        }
    }

    void groupBoxesLieBeneathWhatTheyEnclose() {
        Start(kNoProgrammer);
        // What is drawn on top at a control's centre is the control itself.
        const auto controls = kt::MainDialogTemplate().controls;
        for (std::size_t i = 0; i < controls.size(); ++i) {
            QWidget* w = desktop_->Dialog().TemplateControls()[i];
            if (!controls[i].shown || controls[i].kind == kt::ControlKind::GroupBox) continue;
            QWidget* top = desktop_->Dialog().childAt(w->geometry().center());
            while (top && top->parentWidget() != &desktop_->Dialog()) top = top->parentWidget();
            QVERIFY2(top == w, controls[i].caption);
        }
    }

    void tabOrderIsTemplateOrder() {
        Start(kNoProgrammer);
        kt::qt::MainDialog& dialog = desktop_->Dialog();
        const auto controls = kt::MainDialogTemplate().controls;
        std::vector<QWidget*> expected;
        for (std::size_t i = 0; i < controls.size(); ++i) {
            QWidget* w = dialog.TemplateControls()[i];
            QCOMPARE(bool(w->focusPolicy() & Qt::TabFocus), controls[i].TabStop());
            if (controls[i].TabStop()) expected.push_back(w);
        }
        std::vector<QWidget*> chain;
        QWidget* w = expected.front();
        do {
            if (std::find(expected.begin(), expected.end(), w) != expected.end()) chain.push_back(w);
            w = w->nextInFocusChain();
        } while (w != expected.front() && chain.size() <= expected.size());
        QCOMPARE(chain, expected);
    }

    void paneIsAReadOnlyFixedPitchTextWithoutWrapping() {
        Start(kNoProgrammer);
        const QPlainTextEdit* pane = desktop_->Dialog().Pane();
        QCOMPARE(pane, qobject_cast<QPlainTextEdit*>(Control(kt::IDC_EDIT_LOG)));
        QVERIFY(pane->isReadOnly());
        QCOMPARE(pane->lineWrapMode(), QPlainTextEdit::NoWrap);
        QVERIFY(QFontInfo(pane->font()).fixedPitch());
        const int lineHeight = QFontMetrics(pane->font()).height();
        QVERIFY2(lineHeight >= 11 && lineHeight <= 13, qPrintable(QString::number(lineHeight)));
    }

    void paneKeepsTheLogicsTextExactly_data() {
        QTest::addColumn<QByteArray>("set");
        QTest::addColumn<QByteArray>("appended");
        QTest::addColumn<QString>("shown");
        QTest::newRow("append starts a line") << QByteArray("X") << QByteArray("\r\nA\r\nB") << "X\nA\nB";
        QTest::newRow("empty pane, empty first line") << QByteArray() << QByteArray("\r\nA") << "\nA";
        QTest::newRow("trailing break") << QByteArray("A\r\n") << QByteArray() << "A\n";
        QTest::newRow("break split across appends") << QByteArray("A\r") << QByteArray("\nB") << "A\nB";
        QTest::newRow("utf-8 and blanks")
            << QByteArray("\xE4\xB8\xAD\xE6\x96\x87  ") << QByteArray("\r\n\t1 ")
            << QString::fromUtf8("\xE4\xB8\xAD\xE6\x96\x87  \n\t1 ");
    }
    void paneKeepsTheLogicsTextExactly() {
        QFETCH(QByteArray, set);
        QFETCH(QByteArray, appended);
        QFETCH(QString, shown);
        Start(kNoProgrammer);
        kt::qt::QtUiPort& port = desktop_->Port();
        port.SetText(kt::IDC_EDIT_LOG, set.toStdString());
        port.AppendText(kt::IDC_EDIT_LOG, appended.toStdString());
        QCOMPARE(Pane(), (set + appended).toStdString());
        QCOMPARE(desktop_->Dialog().Pane()->toPlainText(), shown);
    }

    void paneShowsTheBeginningAfterEveryChange() {
        Start(kNoProgrammer);
        kt::qt::OutputPane* pane = desktop_->Dialog().Pane();
        std::string wide(400, 'w');
        desktop_->Port().SetText(kt::IDC_EDIT_LOG, "top " + wide);
        for (int i = 0; i < 60; ++i) desktop_->Port().AppendText(kt::IDC_EDIT_LOG, "\r\nline " + wide);
        QCoreApplication::processEvents();
        QVERIFY(pane->verticalScrollBar()->maximum() > 0);
        QVERIFY(pane->horizontalScrollBar()->maximum() > 0);
        QCOMPARE(pane->verticalScrollBar()->value(), 0);
        QCOMPARE(pane->horizontalScrollBar()->value(), 0);
    }

    void typedLettersBecomeUpperCase() {
        Start(kNoProgrammer);
        for (const kt::ControlSpec& c : kt::MainDialogTemplate().controls) {
            if (!(c.style & kt::kStyleUpperCase)) continue;
            auto* edit = qobject_cast<QLineEdit*>(Control(c.id));
            QVERIFY2(edit, c.name);
            edit->setText(QStringLiteral("AB"));
            edit->setCursorPosition(1);
            QTest::keyClicks(edit, QStringLiteral("f0x"));
            QCOMPARE(edit->text(), QStringLiteral("AF0XB"));
            QCOMPARE(edit->cursorPosition(), 4);
        }
    }

    void enterRunsRefreshFromEveryControlButThePane_data() {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QString>("report");
        QTest::newRow("no programmer") << QByteArray(kNoProgrammer) << "No device found.";
        QTest::newRow("one programmer") << QByteArray(kOneProgrammer) << "Firmware version: 1.2.3";
    }
    void enterRunsRefreshFromEveryControlButThePane() {
        QFETCH(QByteArray, profile);
        QFETCH(QString, report);
        if (profile != kNoProgrammer && !EmulatorReady()) QSKIP("the emulator does not read profiles yet");
        Start(profile.constData());
        QCOMPARE(QString::fromStdString(Pane()), report);
        const auto controls = kt::MainDialogTemplate().controls;
        for (std::size_t i = 0; i < controls.size(); ++i) {
            if (!controls[i].TabStop() || !controls[i].shown) continue;
            QWidget* w = desktop_->Dialog().TemplateControls()[i];
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
                desktop_->Port().SetText(kt::IDC_EDIT_LOG, "");
                QTest::keyClick(w, key);
                const std::string expected =
                    controls[i].kind == kt::ControlKind::OutputPane ? "" : report.toStdString();
                QVERIFY2(Pane() == expected, controls[i].name);
            }
        }
        QVERIFY(desktop_->Dialog().isVisible());
        QVERIFY(!desktop_->Dialog().HasEnded());
    }

    void enterDoesNothingWhileRefreshIsDisabled() {
        Start(kNoProgrammer);
        desktop_->Port().EnableControl(kt::IDOK, false);
        desktop_->Port().SetText(kt::IDC_EDIT_LOG, "");
        QTest::keyClick(Control(kt::IDC_EDIT_IDN), Qt::Key_Return);
        QCOMPARE(Pane(), std::string());
    }

    void endingTheDialog_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("closeCalls");
        QTest::newRow("window close") << "close" << 1;
        QTest::newRow("Exit button") << "exit" << 0;
        QTest::newRow("Escape") << "escape" << 0;
    }
    void endingTheDialog() {
        QFETCH(QString, how);
        QFETCH(int, closeCalls);
        const bool ready = EmulatorReady();
        Start(ready ? kOneProgrammer : kNoProgrammer);
        const std::size_t traceStart = TraceSize();
        kt::qt::MainDialog& dialog = desktop_->Dialog();
        if (how == "close")
            dialog.close();
        else if (how == "exit")
            QTest::mouseClick(Control(kt::IDCANCEL), Qt::LeftButton);
        else
            QTest::keyClick(Control(kt::IDC_EDIT_IDN), Qt::Key_Escape);
        QVERIFY(dialog.HasEnded());
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.RunModal(), kt::IDCANCEL);
        if (!ready) QSKIP("the emulator does not open programmers yet");
        // A window close drops the handle it closed; Exit and Escape keep it open.
        QCOMPARE(desktop_->Logic().DeviceHandle() == KT62_INVALID_HANDLE, closeCalls == 1);
        const std::string trace = kt::test::TempDir::Read(tracePath_).substr(traceStart);
        QCOMPARE(CountLinesStartingWith(trace, "kt62Close"), closeCalls);
    }

    void aCloseTheLogicRefusesLeavesTheWindowOpen() {
        Start(kNoProgrammer);
        // A running transfer has Exit disabled: the close only beeps.
        desktop_->Port().EnableControl(kt::IDCANCEL, false);
        QVERIFY(!desktop_->Dialog().close());
        QVERIFY(desktop_->Dialog().isVisible());
        QVERIFY(!desktop_->Dialog().HasEnded());
        desktop_->Port().EnableControl(kt::IDCANCEL, true);
        QVERIFY(desktop_->Dialog().close());
        QVERIFY(desktop_->Dialog().HasEnded());
    }

    void aboutBoxShowsTheVersionLine() {
        Start(kNoProgrammer);
        QCOMPARE(desktop_->Dialog().windowTitle(), QStringLiteral("Varnel Software: 1.0.8"));
        QAction* about = desktop_->Dialog().AboutAction();
        QCOMPARE(about->text(), QStringLiteral("About KT6200Demo(&A)..."));
        QCOMPARE(about->shortcut(), QKeySequence(Qt::Key_F1));
        // The shortcut reaches the active window.
        desktop_->Dialog().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&desktop_->Dialog()));
        QString title;
        QString line;
        QTimer::singleShot(0, [&] {
            // Whatever is modal now is closed, so a wrong box cannot hang the test.
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<kt::qt::AboutBox*>(modal)) {
                title = box->windowTitle();
                line = box->VersionLabel()->text();
            }
            if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        });
        QTest::keyClick(&desktop_->Dialog(), Qt::Key_F1);
        QCOMPARE(title, QStringLiteral("About Varnel Software"));
        QCOMPARE(line, QStringLiteral("Varnel Software version: 1.0.8"));
    }

    void contextMenuOffersAboutOnTheBackgroundOnly_data() {
        QTest::addColumn<int>("id");  // control under the click; 0 = empty space
        QTest::addColumn<bool>("menu");
        QTest::newRow("empty space") << 0 << true;
        QTest::newRow("group box") << int(kt::IDC_STATIC_COMMON) << true;
        QTest::newRow("button") << int(kt::IDC_BTN_INQUIRY) << false;
    }
    void contextMenuOffersAboutOnTheBackgroundOnly() {
        QFETCH(int, id);
        QFETCH(bool, menu);
        Start(kNoProgrammer);
        kt::qt::MainDialog& dialog = desktop_->Dialog();
        QPoint at(dialog.width() - 3, dialog.height() - 3);
        if (id == kt::IDC_STATIC_COMMON) at = Control(id)->geometry().bottomLeft() + QPoint(3, -3);
        if (id == kt::IDC_BTN_INQUIRY) at = Control(id)->geometry().center();
        QCOMPARE(id == 0, dialog.childAt(at) == nullptr);
        QStringList items;
        QTimer::singleShot(0, [&] {
            if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* a : popup->actions()) items << a->text();
                popup->close();
            }
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, dialog.mapToGlobal(at));
        QCoreApplication::sendEvent(&dialog, &event);
        // Without a menu the timer is still pending: it must not outlive items.
        QCoreApplication::processEvents();
        QCOMPARE(items, menu ? QStringList{QStringLiteral("About KT6200Demo(&A)...")} : QStringList{});
    }

    void helpButtonOffersAboutBesideEveryControl() {
        Start(kNoProgrammer);
        const kt::qt::MainDialog& dialog = desktop_->Dialog();
        QPushButton* help = dialog.HelpButton();
        QVERIFY(help->isVisible());
        QCOMPARE(help->menu()->actions(), QList<QAction*>{dialog.AboutAction()});
        for (QWidget* w : dialog.TemplateControls()) QVERIFY(!w->geometry().intersects(help->geometry()));
        for (QWidget* w : dialog.ExtensionControls()) QVERIFY(!w->geometry().intersects(help->geometry()));
    }

    void decodeOpensTheFieldsOfTheDescriptorJustRead() {
        if (!EmulatorReady()) QSKIP("no emulated programmer");
        Start(kOneProgrammer);
        int decodes = 0;  // Decode entries of the pane's menu
        auto paneMenu = [&] {
            QTimer::singleShot(0, [&] {
                auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                for (QAction* a : popup ? popup->actions() : QList<QAction*>{})
                    if (a->text() == QStringLiteral("Decode")) ++decodes, a->trigger();
                if (popup) popup->close();
            });
            emit desktop_->Dialog().Pane()->customContextMenuRequested(QPoint(5, 5));
        };
        paneMenu();  // nothing read yet
        desktop_->Port().SetText(kt::IDC_EDIT_IDN, "0");
        desktop_->Dialog().Send(DialogMessage::Command, kt::IDC_BTN_DESC_READ);
        const std::string pane = Pane();
        paneMenu();
        QCOMPARE(decodes, 1);
        QCOMPARE(Pane(), pane);
        kt::qt::DecodeWindow* window = desktop_->Dialog().findChild<kt::qt::DecodeWindow*>();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Decode: Device descriptor (IDN 0x00), index 0x00"));
        QCOMPARE(window->Table()->item(0, 1)->text(), QStringLiteral("bLength"));
        // bLength's raw byte is the dump's first.
        const std::size_t dump = pane.find("\r\n") + 2;
        QCOMPARE(window->Table()->item(0, 2)->text().toStdString(), pane.substr(dump, 2));
    }
};

QTEST_MAIN(TestMainDialog)
#include "tst_main_dialog.moc"
