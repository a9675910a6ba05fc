#include "diag.h"

#include <unistd.h>

#include <string>

namespace kt62 {

void Complain(std::string_view text, bool remember) {
    std::string line = "kt62: ";
    for (char c : text) line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    if (remember) RememberMessage(std::string_view(line).substr(6));
    line += '\n';
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

}  // namespace kt62
