// The last reason the library gave on standard error, kept for programs whose standard error
// nobody sees (a desktop session).
#include <kt62/apiKT6200.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "diag.h"

namespace kt62 {
namespace {

// Per thread: a reason belongs to the call that made it, not to another thread's call.
thread_local std::string last_message;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

}  // namespace

void RememberMessage(std::string_view text) { last_message.assign(text); }

}  // namespace kt62

extern "C" KT62_API int32_t kt62LastMessage(char* buffer, uint32_t size) {
    std::string message;
    message.swap(kt62::last_message);
    if (buffer != nullptr && size > 0) {
        const size_t n = std::min<size_t>(message.size(), size - 1);
        std::memcpy(buffer, message.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int32_t>(std::min<size_t>(message.size(), INT32_MAX));
}
