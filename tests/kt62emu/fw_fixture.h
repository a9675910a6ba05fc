// Shared set-up of the firmware tests: a temporary folder, a profile named by KT62_EMULATOR,
// short restarts, and helpers to write images.
#pragma once

#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <chrono>
#include <cstdlib>
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

// Payload bytes that differ from position to position, so that a shifted byte shows.
inline std::vector<uint8_t> Payload(size_t size, uint8_t seed = 1) {
    std::vector<uint8_t> p(size);
    for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return p;
}

inline ImageRecipe Recipe(FirmwareVersion version, size_t payload_size = 1000) {
    ImageRecipe r;
    r.version = version;
    r.payload = Payload(payload_size, version[0]);
    return r;
}

inline std::string Bytes(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

inline std::string Build(const ImageRecipe& r) {
    std::string why;
    const auto image = kt62::emu::BuildFirmwareImage(r, why);
    EXPECT_TRUE(image) << why;
    return image ? Bytes(*image) : std::string();
}

// A UTF-8 path as the zero-terminated UTF-16 text kt62Update takes.
inline std::u16string Utf16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += static_cast<size_t>(extra) + 1;
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

inline const kt62_char16* Wide(const std::u16string& s) {
    return reinterpret_cast<const kt62_char16*>(s.c_str());
}

class FirmwareTest : public ::testing::Test {
public:
    kt::test::TempDir& Dir() { return dir_; }

protected:
    void SetUp() override {
        setenv("XDG_DATA_HOME", (dir_.Path() + "/xdg").c_str(), 1);
        unsetenv("KT62_TRACE");
        kt62::emu::Restarts::SetDuration(kShortRestart);
        UseProfile(R"({"programmers":[{"firmware_version":[1,2,3]}]})");
    }
    void TearDown() override {
        for (KT62_HANDLE h : opened_) kt62Close(h);
        // Nothing may stay detached for the next test.
        std::this_thread::sleep_for(kShortRestart);
        kt62::emu::Restarts::SetDuration(kt62::emu::kRestartTime);
        unsetenv("KT62_EMULATOR");
    }

    void UseProfile(const std::string& json) {
        setenv("KT62_EMULATOR", dir_.Write("profile.json", json).c_str(), 1);
    }
    fs::path StateFile(int position = 0) const {
        return kt62::emu::FirmwareStatePath(dir_.Path() + "/profile.json.state", position);
    }

    KT62_HANDLE Open(int32_t position = 0) {
        kt62Search();
        KT62_HANDLE h = kt62Open(position);
        if (h != KT62_INVALID_HANDLE) opened_.push_back(h);
        return h;
    }

    static std::vector<uint8_t> Version(KT62_HANDLE h) {
        uint8_t v[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        const int32_t r = kt62GetVersion(h, v);
        if (r != KT62_OK) return {static_cast<uint8_t>(r)};
        return {v[0], v[1], v[2], v[3]};
    }

    // Polls kt62Search until it counts `count` programmers; false after five seconds.
    static bool WaitForCount(int32_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (kt62Search() != count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    static constexpr std::chrono::milliseconds kShortRestart{60};
    kt::test::TempDir dir_;
    std::vector<KT62_HANDLE> opened_;
};

}  // namespace kt62emutest
