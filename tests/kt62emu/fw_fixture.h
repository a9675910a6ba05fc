// The firmware tests' folder, the profile KT62_EMULATOR names, short restarts and images.
#pragma once

#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "emu/firmware.h"
#include "emu/programmer_state.h"
#include "tests/support/temp_dir.h"

namespace kt62emutest {

namespace fs = std::filesystem;
using kt62::emu::FirmwareVersion;
using kt62::emu::ImageRecipe;

// Bytes that differ from position to position, so that a shifted byte shows.
inline std::vector<uint8_t> Payload(size_t size, uint8_t seed = 1) {
    std::vector<uint8_t> p(size);
    for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return p;
}

inline std::string Build(FirmwareVersion version, size_t size = 1000,
                         void (*change)(ImageRecipe&) = nullptr) {
    ImageRecipe r{.version = version, .payload = Payload(size, version[0])};
    if (change) change(r);
    std::string why;
    const auto image = kt62::emu::BuildFirmwareImage(r, why);
    EXPECT_TRUE(image) << why;
    return image ? std::string(image->begin(), image->end()) : std::string();
}

// A restart is keyed by its programmer's state file, in this test's own folder: one still running
// cannot reach the next test.
class FirmwareTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_DATA_HOME", (dir_.Path() + "/xdg").c_str(), 1);
        unsetenv("KT62_TRACE");
        kt62::emu::Restarts::SetDuration(std::chrono::milliseconds(60));
        UseProfile(R"({"programmers":[{"firmware_version":[1,2,3]}]})");
    }
    void TearDown() override {
        for (KT62_HANDLE h : opened_) kt62Close(h);
        kt62::emu::Restarts::SetDuration(kt62::emu::kRestartTime);
    }

    void UseProfile(const std::string& json) {
        setenv("KT62_EMULATOR", dir_.Write("profile.json", json).c_str(), 1);
    }
    KT62_HANDLE Open(int32_t position = 0) { return kt62Search(), opened_.emplace_back(kt62Open(position)); }
    // Whether the list shows `count` programmers again within a bound no restart comes near.
    static bool Listed(int32_t count) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (kt62Search() != count && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return kt62Search() == count;
    }

    kt::test::TempDir dir_;
    std::vector<KT62_HANDLE> opened_;
};

}  // namespace kt62emutest
