// File chooser filters: the dialog logic writes them as
// "Description|*.pat;*.alt|All files|*.*||"; Qt's file dialogs take
// "Description (*.pat *.alt);;All files (*.*)".
#pragma once

#include <QString>
#include <string_view>

namespace kt::qt {

// A description without a pattern (an odd last part) is dropped, as the
// Windows chooser ignores it; an empty filter gives an empty string (every
// file). "*.*" becomes "*": every file, with or without an extension.
QString ToQtFileFilter(std::string_view filter);

}  // namespace kt::qt
