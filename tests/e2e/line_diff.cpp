#include "line_diff.h"

#include <vector>

namespace kt::e2e {
namespace {

// Lines with their ends kept, so that a missing final line end or a CR
// shows up as a difference.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::size_t n = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(0, n));
        text.remove_prefix(n);
    }
    return lines;
}

// A line as shown in the diff: control characters made visible.
std::string Visible(std::string_view line) {
    std::string out;
    for (char c : line) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string LineDiff(std::string_view expected, std::string_view actual) {
    const auto a = SplitLines(expected);
    const auto b = SplitLines(actual);
    // Longest common subsequence table, from the ends.
    std::vector<std::vector<int>> lcs(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (std::size_t i = a.size(); i-- > 0;)
        for (std::size_t j = b.size(); j-- > 0;)
            lcs[i][j] = a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    std::string out;
    std::size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        if (i < a.size() && j < b.size() && a[i] == b[j]) {
            out += "  " + Visible(a[i++]) + "\n";
            ++j;
        } else if (j < b.size() && (i == a.size() || lcs[i][j + 1] >= lcs[i + 1][j])) {
            out += "+ " + Visible(b[j++]) + "\n";
        } else {
            out += "- " + Visible(a[i++]) + "\n";
        }
    }
    return out;
}

}  // namespace kt::e2e
