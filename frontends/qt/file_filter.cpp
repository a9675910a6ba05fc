#include "frontends/qt/file_filter.h"

#include <QStringList>

namespace kt::qt {

QString ToQtFileFilter(std::string_view filter) {
    // The list ends at the first empty part ("||").
    const QStringList parts =
        QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())).split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString& patterns = parts[i + 1];
        if (description.isEmpty() || patterns.isEmpty()) break;
        QStringList globs = patterns.split(u';', Qt::SkipEmptyParts);
        for (QString& glob : globs) {
            glob = glob.trimmed();
            // "*.*" means every file on Windows; here it would leave out names without a dot.
            if (glob == QStringLiteral("*.*")) glob = QStringLiteral("*");
        }
        entries << QStringLiteral("%1 (%2)").arg(description, globs.join(u' '));
    }
    return entries.join(QStringLiteral(";;"));
}

}  // namespace kt::qt
