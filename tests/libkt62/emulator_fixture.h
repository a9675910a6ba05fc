// The black-box tests' set-up: a temporary folder and a profile there named by KT62_EMULATOR.
#pragma once

#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace kt62test {

class EmulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The built-in programmer keeps its state under XDG_DATA_HOME: never the real home.
        setenv("XDG_DATA_HOME", (dir_.Path() + "/xdg").c_str(), 1);
        unsetenv("KT62_EMULATOR");
        unsetenv("KT62_TRACE");
    }
    void TearDown() override {
        for (KT62_HANDLE h : opened_) kt62Close(h);
        unsetenv("KT62_EMULATOR");
        unsetenv("KT62_TRACE");
    }

    // Writes the profile and points the library at it; returns its path.
    std::string UseProfile(const std::string& json, const std::string& name = "profile.json") {
        const std::string path = dir_.Write(name, json);
        setenv("KT62_EMULATOR", path.c_str(), 1);
        return path;
    }
    // A profile of one programmer with these fault rules.
    std::string UseFaults(const std::string& rules) {
        return UseProfile(R"({"programmers":[{"faults":)" + rules + "}]}");
    }
    // Searches, opens position `position` and closes it at the end of the test.
    KT62_HANDLE OpenAfterSearch(int32_t position = 0) {
        kt62Search();
        KT62_HANDLE h = kt62Open(position);
        if (h != KT62_INVALID_HANDLE) opened_.push_back(h);
        return h;
    }
    static std::string Stderr(const std::function<void()>& f) {
        testing::internal::CaptureStderr();
        f();
        return testing::internal::GetCapturedStderr();
    }
    static int64_t Id(KT62_HANDLE h) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(h)); }

    kt::test::TempDir dir_;
    std::vector<KT62_HANDLE> opened_;
};

}  // namespace kt62test
