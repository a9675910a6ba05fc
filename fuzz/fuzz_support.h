// What the fuzz targets share: a scratch folder for the files a target
// writes, and a check that stops the run with a message when an invariant
// breaks (libFuzzer then saves the input that broke it).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/temp_dir.h"

namespace kt::fuzz {

// One folder per fuzzing process, removed at its normal end. On tmpfs when
// there is one: the code under test flushes every file it replaces, and
// that flush costs nothing there.
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

}  // namespace kt::fuzz

#define KT_FUZZ_CHECK(cond) ((cond) ? static_cast<void>(0) : ::kt::fuzz::Fail(__FILE__, __LINE__, #cond))
