#include "frontends/qt/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace kt::qt {

BaseUnits BaseUnitsFromMetrics(int alphabetWidth, int fontHeight) {
    // Average of the 52 letters, rounded half up (integer arithmetic).
    return {(alphabetWidth / 26 + 1) / 2, fontHeight};
}

BaseUnits DialogBaseUnits(const QFont& font) {
    static const QString kAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    return BaseUnitsFromMetrics(metrics.horizontalAdvance(kAlphabet), metrics.height());
}

QFont TemplateFont(const DialogSpec& spec) {
    QFont font(QString::fromUtf8(spec.fontFace), spec.fontPoints);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace kt::qt
