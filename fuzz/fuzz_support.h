#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "common/text_format.h"
#include "encoding/utf16.h"
#include "tests/support/temp_dir.h"

namespace kt::fuzz {

// One folder per process, on tmpfs where there is one: the code under test flushes what it replaces.
inline const std::string& ScratchDir() {
    if (std::getenv("TMPDIR") == nullptr && access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 0);
    static const kt::test::TempDir dir;
    return dir.Path();
}

inline bool ValidUtf8(const std::string& s) { return kt::Utf16ToUtf8(kt::Utf8ToUtf16(s)) == s; }

}  // namespace kt::fuzz

#define KT_FUZZ_CHECK(cond) \
    ((cond) ? void() : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #cond), std::abort()))
#define KT_FUZZ_TARGET(data, size)                                                                           \
    static void FuzzOne(const std::uint8_t* data, std::size_t size);                                         \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* d, std::size_t n) { return FuzzOne(d, n), 0; } \
    static void FuzzOne(const std::uint8_t* data, std::size_t size)
