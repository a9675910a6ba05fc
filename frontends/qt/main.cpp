// The desktop program: one modal main dialog until the user ends it.
#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QPixmap>
#include <QPoint>
#include <QSettings>
#include <memory>
#include <string>

#include "dialog/KT6200DemoDlg.h"
#include "frontends/qt/desktop.h"
#include "frontends/qt/template_widgets.h"
#include "frontends/qt/window_settings.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kt6200"));
    QApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(kt::kVersionMajor).arg(kt::kVersionMinor).arg(kt::kVersionPatch));
    QApplication::setWindowIcon(kt::qt::ApplicationIcon());
    // The dialog's modal run decides when the program ends, not the last
    // window closing.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Front end of KT6200 UFS programmers (man kt6200)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Save a PNG picture of the window after start-up and quit."), QStringLiteral("file"));
    parser.addOption(screenshot);
    parser.process(app);

    // The dialog is the program's only top-level window: its main window.
    kt::qt::Desktop desktop(QCoreApplication::applicationFilePath().toStdString());
    // The window opens where it was last closed, while that is on a screen
    // ($XDG_CONFIG_HOME/kt6200/kt6200.conf); pictures always at the default.
    std::string why;
    const std::unique_ptr<QSettings> settings = kt::qt::OpenWindowSettings(why);
    if (!settings) qWarning("kt6200: %s", why.c_str());
    const bool remember = settings && !parser.isSet(screenshot);
    const QPoint place = remember ? settings->value(QStringLiteral("window/position")).toPoint() : QPoint();
    if (remember && settings->contains(QStringLiteral("window/position")) && QGuiApplication::screenAt(place))
        desktop.Dialog().move(place);
    desktop.Start();
    if (parser.isSet(screenshot)) {
        QCoreApplication::processEvents();
        if (desktop.Dialog().grab().save(parser.value(screenshot), "PNG")) return 0;
        qCritical("kt6200: cannot write %s", qPrintable(parser.value(screenshot)));
        return 1;
    }
    (void)desktop.Run();  // the modal result means nothing to the program
    if (remember) settings->setValue(QStringLiteral("window/position"), desktop.Dialog().pos());
    return 0;
}
