// Black-box tests through the C functions; DeviceTest's device runs over the linked device_backend_*.cpp.
#pragma once

#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "encoding/big_endian.h"
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

    std::string UseProfile(const std::string& json, const std::string& name = "profile.json") {
        const std::string path = dir_.Write(name, json);
        setenv("KT62_EMULATOR", path.c_str(), 1);
        return path;
    }
    std::string UseFaults(const std::string& rules) {
        return UseProfile(R"({"programmers":[{"faults":)" + rules + "}]}");
    }
    KT62_HANDLE OpenAfterSearch(int32_t position = 0) {  // closed at the end of the test
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

inline constexpr uint32_t kBlock = 4096;

// Makes the programmers of this profile the ones kt62Search finds; returns the profile's path.
std::string UseDeviceProfile(kt::test::TempDir& dir, const std::string& json, const std::string& name);
void EndDeviceProfiles();  // at the end of a test

class DeviceTest : public EmulatorTest {
protected:
    void TearDown() override {
        EmulatorTest::TearDown();
        EndDeviceProfiles();
    }
    std::string UseProfile(const std::string& json, const std::string& name = "profile.json") {
        return UseDeviceProfile(dir_, json, name);
    }
    KT62_HANDLE OpenDevice(const std::string& ufs_json = "{}") {
        UseProfile(R"({"programmers":[{"ufs":)" + ufs_json + "}]}");
        return h_ = OpenAfterSearch(0);
    }
    KT62_HANDLE Reopen() {  // the programmer powers the device down and up
        kt62Close(h_);
        return h_ = OpenAfterSearch(0);
    }

    std::vector<uint8_t> Descriptor(uint8_t idn, uint8_t index = 0) {
        std::vector<uint8_t> buf(255, 0);
        EXPECT_EQ(kt62UfsReadDescriptor(h_, idn, index, 0, buf.data(), 255), KT62_OK)
            << int(idn) << "/" << int(index);
        buf.resize(buf[0]);
        return buf;
    }
    uint32_t Attribute(uint8_t idn, uint8_t index = 0, uint8_t selector = 0) {
        uint32_t v = 0xDEADBEEF;
        EXPECT_EQ(kt62UfsReadAttribute(h_, idn, index, selector, &v), KT62_OK) << int(idn);
        return v;
    }
    uint64_t UnitBlocks(uint8_t lun) { return kt::BigEndian64(Descriptor(2, lun).data() + 0x0B); }
    int32_t WriteConfig(const std::vector<uint8_t>& c) {
        return kt62UfsWriteDescriptor(h_, 1, 0, 0, c.data(), static_cast<uint32_t>(c.size()));
    }
    std::vector<uint8_t> Read(uint32_t lba, uint32_t blocks) {
        std::vector<uint8_t> b(size_t{blocks} * kBlock);
        EXPECT_EQ(kt62ScsiRead10(h_, lba, kBlock, b.data(), blocks), KT62_OK);
        return b;
    }

    // Sets unit `lun`'s block of a configuration descriptor (2.x: 0x90 bytes, 3.1 and 4.0: 0xE6).
    static void SetUnit(std::vector<uint8_t>& c, int lun, uint8_t enable, uint8_t boot, uint8_t memory_type,
                        uint32_t alloc_units, uint8_t block_exponent = 12, uint8_t write_protect = 0) {
        uint8_t* p = c.data() + (c.size() == 0x90 ? 0x10 + 0x10 * lun : 0x16 + 0x1A * lun);
        p[0] = enable, p[1] = boot, p[2] = write_protect, p[3] = memory_type, p[9] = block_exponent;
        kt::PutBigEndian32(p + 4, alloc_units);
    }
    // The 144 bytes "CFG 1 LUN" writes: unit 0 over `alloc_units`, units 1-7 all zero.
    static std::vector<uint8_t> SingleUnitConfig(uint32_t alloc_units, uint8_t enable = 1) {
        std::vector<uint8_t> c(0x90, 0);
        c[0x00] = 0x90, c[0x01] = 0x01, c[0x05] = 0x01, c[0x06] = 0x7F;
        SetUnit(c, 0, enable, 0, 0, alloc_units);
        return c;
    }
    static std::vector<uint8_t> Pattern(uint32_t blocks, uint8_t seed) {
        std::vector<uint8_t> b(size_t{blocks} * kBlock);
        for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 12));
        return b;
    }

    KT62_HANDLE h_ = KT62_INVALID_HANDLE;
};

}  // namespace kt62test
