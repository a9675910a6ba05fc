// Messages for the user on standard error: one line each, prefixed "kt62: ".
#pragma once

#include <string_view>

namespace kt62 {

// Writes "kt62: <text>\n" in one piece; control characters in text become '?', so that a
// message stays on one line whatever file content or path it quotes.
// The text is also kept for kt62LastMessage, unless it is only a side note (a trace that cannot
// be written) that must not hide the reason of the call's own failure.
void Complain(std::string_view text, bool remember = true);

// Keeps text as the calling thread's last message (last_message.cpp).
void RememberMessage(std::string_view text);

}  // namespace kt62
