// The call trace: with KT62_TRACE=FILE every API call appends one line to FILE,
//   <function> <name>=<value> ... -> <result>
// so that tests can check which calls a program made and in what order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <kt62/apiKT6200.h>

namespace kt62 {

class TraceLine {
public:
    // Nothing is formatted unless KT62_TRACE is set when the call starts.
    explicit TraceLine(const char* function);

    TraceLine& Handle(KT62_HANDLE h);
    TraceLine& Arg(const char* name, int64_t value);
    // A text argument, quoted, with quotes, backslashes and control characters escaped.
    TraceLine& Quoted(const char* name, std::string_view text);
    // A zero-terminated UTF-16 text, written as Quoted in UTF-8; null pointers as name=null.
    TraceLine& Utf16(const char* name, const kt62_char16* text);

    // Appends the line with the call's result and returns the result.
    int32_t Finish(int32_t result);
    // The handle form of Finish for kt62Open.
    KT62_HANDLE Finish(KT62_HANDLE h);

    // The number a handle is written as: its small id, -1 for KT62_INVALID_HANDLE.
    static int64_t HandleNumber(KT62_HANDLE h);

private:
    std::string path_;
    std::string line_;
};

// Adds " <text>" to the trace line of the call running on this thread, before its result: what a
// backend learnt that the result cannot carry (the whole sense data of a failed SCSI command).
void NoteForTrace(std::string_view text);

}  // namespace kt62
