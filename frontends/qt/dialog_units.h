// Dialog units of the dialog templates measured against a real font, the way
// the Windows dialog manager measures them, so a template lays out here with
// the proportions it was drawn with.
#pragma once

#include <QFont>

#include "dialog/dialog_template.h"

namespace kt::qt {

struct BaseUnits {
    int x;  // pixels per 4 horizontal dialog units
    int y;  // pixels per 8 vertical dialog units
    bool operator==(const BaseUnits&) const = default;
};

// alphabet_width: width in pixels of "A".."Z" followed by "a".."z";
// font_height: the font's cell height in pixels.
BaseUnits BaseUnitsFromMetrics(int alphabet_width, int font_height);

// The base units of a dialog whose template asks for this font.
BaseUnits DialogBaseUnits(const QFont& font);

// The font a template asks for; fontconfig substitutes an installed face.
QFont TemplateFont(const DialogLayout& spec);

inline PixelRect ToPixels(DluRect r, BaseUnits units) { return DluToPixels(r, units.x, units.y); }

}  // namespace kt::qt
