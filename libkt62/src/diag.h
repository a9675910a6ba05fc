// Messages for the user on standard error: one line each, prefixed "kt62: ".
#pragma once

#include <string_view>

namespace kt62 {

// Writes "kt62: <text>\n" in one piece; control characters in text become '?', so that a
// message stays on one line whatever file content or path it quotes.
void Complain(std::string_view text);

}  // namespace kt62
