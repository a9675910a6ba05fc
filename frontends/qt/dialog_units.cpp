#include "frontends/qt/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace kt::qt {

BaseUnits BaseUnitsFromMetrics(int alphabet_width, int font_height) {
    // Average of the 52 letters, rounded half up (integer arithmetic).
    return {(alphabet_width / 26 + 1) / 2, font_height};
}

BaseUnits DialogBaseUnits(const QFont& font) {
    static const QString kAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    return BaseUnitsFromMetrics(metrics.horizontalAdvance(kAlphabet), metrics.height());
}

QFont TemplateFont(const DialogLayout& spec) {
    QFont font(QString::fromUtf8(spec.font_face), spec.font_points);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace kt::qt
