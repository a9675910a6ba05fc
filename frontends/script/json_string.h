// JSON string literals for the runner's output, so that a test can compare
// pane text byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace kt::script {

// The text as a JSON string literal, quotes included: '"' and '\\' are
// escaped, every control character (below 0x20) too (\r \n \t by name,
// the others as \u00XX); every other byte, DEL and UTF-8 included, is
// written as it is.
std::string JsonString(std::string_view text);

}  // namespace kt::script
