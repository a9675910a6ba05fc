// What the fuzz targets share: the input reader, a scratch folder for the
// files a target writes, and a check that stops the run with a message when
// an invariant breaks (libFuzzer then saves the input that broke it).
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/text_format.h"
#include "encoding/utf16.h"
#include "tests/support/temp_dir.h"

namespace kt::fuzz {

// One folder per fuzzing process, removed at its normal end. On tmpfs when
// there is one: the code under test flushes every file it replaces.
inline const std::string& ScratchDir() {
    static kt::test::TempDir* dir = [] {
        if (std::getenv("TMPDIR") == nullptr && access("/dev/shm", W_OK) == 0)
            setenv("TMPDIR", "/dev/shm", 1);
        static kt::test::TempDir made;
        return &made;
    }();
    return dir->Path();
}

[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}

inline bool ValidUtf8(const std::string& s) { return kt::Utf16ToUtf8(kt::Utf8ToUtf16(s)) == s; }

}  // namespace kt::fuzz

#define KT_FUZZ_CHECK(cond) ((cond) ? static_cast<void>(0) : ::kt::fuzz::Fail(__FILE__, __LINE__, #cond))
// Opens the body of a target's entry, a void function of the input.
#define KT_FUZZ_TARGET(data, size)                                                                           \
    static void FuzzOne(const std::uint8_t* data, std::size_t size);                                         \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* d, std::size_t n) { return FuzzOne(d, n), 0; } \
    static void FuzzOne(const std::uint8_t* data, std::size_t size)
