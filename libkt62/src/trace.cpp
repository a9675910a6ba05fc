#include "trace.h"

#include "diag.h"
#include "encoding/utf16.h"
#include "fileio/file_access.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace kt62 {
namespace {

std::mutex& TraceMutex() {
    static std::mutex m;
    return m;
}

// One open-append-close per line: the file may be removed or replaced between calls (tests
// start a fresh trace per case), and O_APPEND keeps lines of several processes whole.
void AppendLine(const std::string& path, const std::string& line) {
    std::lock_guard lock(TraceMutex());
    std::string why;
    const kt::fileio::File file = kt::fileio::OpenForWriting(path, kt::fileio::WriteMode::Append, why);
    if (!file.IsOpen()) {
        // Said once per name, not once per call: a FIFO or a folder named by mistake.
        static std::string refused;  // under TraceMutex
        if (refused != path) Complain("KT62_TRACE=" + path + ": " + why + "; calls are not traced", false);
        refused = path;
        return;
    }
    // A trace that fills its disk loses lines; the calls it traces go on all the same.
    (void)kt::fileio::WriteAll(file.Get(), line.data(), line.size());
}

// The notes of the call running on this thread: calls do not nest, and each runs on its caller's
// thread.
thread_local std::string call_notes;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

}  // namespace

void NoteForTrace(std::string_view text) {
    call_notes += ' ';
    call_notes += text;
}

TraceLine::TraceLine(const char* function) {
    call_notes.clear();
    // Read at every call on purpose: tests switch traces between calls.
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing sets it while calls run
    const char* path = std::getenv("KT62_TRACE");
    if (path == nullptr || *path == '\0') return;
    path_ = path;
    line_ = function;
}

int64_t TraceLine::HandleNumber(KT62_HANDLE h) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(h)); }

TraceLine& TraceLine::Handle(KT62_HANDLE h) { return Arg("h", HandleNumber(h)); }

TraceLine& TraceLine::Arg(const char* name, int64_t value) {
    if (path_.empty()) return *this;
    line_ += ' ';
    line_ += name;
    line_ += '=';
    line_ += std::to_string(value);
    return *this;
}

TraceLine& TraceLine::Quoted(const char* name, std::string_view text) {
    if (path_.empty()) return *this;
    static const char kHex[] = "0123456789abcdef";
    line_ += ' ';
    line_ += name;
    line_ += "=\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            line_ += '\\';
            line_ += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            line_ += "\\x";
            line_ += kHex[c >> 4];
            line_ += kHex[c & 0xF];
        } else {
            line_ += static_cast<char>(c);
        }
    }
    line_ += '"';
    return *this;
}

TraceLine& TraceLine::Utf16(const char* name, const kt62_char16* text) {
    if (path_.empty()) return *this;
    if (text == nullptr) {
        line_ += std::string(" ") + name + "=null";
        return *this;
    }
    return Quoted(name, *kt::Utf16ToUtf8(text, kt::Unpaired::Replace));
}

int32_t TraceLine::Finish(int32_t result) {
    if (path_.empty()) return result;
    AppendLine(path_, line_ + call_notes + " -> " + std::to_string(result) + "\n");
    return result;
}

KT62_HANDLE TraceLine::Finish(KT62_HANDLE h) {
    if (path_.empty()) return h;
    AppendLine(path_, line_ + " -> " + std::to_string(HandleNumber(h)) + "\n");
    return h;
}

}  // namespace kt62
