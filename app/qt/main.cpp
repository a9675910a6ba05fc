// The desktop program: one modal main dialog until the user ends it.
#include <QApplication>
#include <QCommandLineParser>
#include <QPixmap>

#include "app/qt/desktop.h"
#include "app/qt/template_widgets.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kt6200"));
    QApplication::setWindowIcon(kt::qt::ApplicationIcon());
    // The dialog's modal run decides when the program ends, not the last
    // window closing.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Save a PNG picture of the window after start-up and quit."), QStringLiteral("file"));
    parser.addOption(screenshot);
    parser.process(app);

    // The dialog is the program's only top-level window: its main window.
    kt::qt::Desktop desktop(QCoreApplication::applicationFilePath().toStdString());
    desktop.Start();
    if (parser.isSet(screenshot)) {
        QCoreApplication::processEvents();
        if (desktop.Dialog().grab().save(parser.value(screenshot), "PNG")) return 0;
        qCritical("kt6200: cannot write %s", qPrintable(parser.value(screenshot)));
        return 1;
    }
    (void)desktop.Run();  // the modal result means nothing to the program
    return 0;
}
