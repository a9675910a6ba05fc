#include "diag.h"

#include <unistd.h>

#include <string>

#include "fileio/file_access.h"

namespace kt62 {

void Complain(std::string_view text, bool remember) {
    std::string line = "kt62: ";
    for (char c : text) line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    if (remember) RememberMessage(std::string_view(line).substr(6));
    line += '\n';
    // Standard error that takes no more has nobody left to tell.
    (void)kt::fileio::WriteAll(STDERR_FILENO, line.data(), line.size());
}

}  // namespace kt62
