// A line diff for failure messages: the shortest edit between two texts,
// one line per entry, prefixed "  " (same), "- " (expected only) or
// "+ " (actual only).
#pragma once

#include <string>
#include <string_view>

namespace kt::e2e {

std::string LineDiff(std::string_view expected, std::string_view actual);

}  // namespace kt::e2e
