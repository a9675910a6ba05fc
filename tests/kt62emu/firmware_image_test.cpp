// Every way an image can fail the check has its own result; the programmer state file refuses
// anything but a whole, consistent file.
#include <sys/stat.h>

#include "fw_fixture.h"

namespace kt62emutest {
namespace {

using kt62::emu::Crc32;
using kt62::emu::FirmwareSlot;
using kt62::emu::ProgrammerState;

// A header field rewritten and the header checksum made to fit again, so that only the field is wrong.
std::string Patched(std::string image, size_t offset, uint32_t value, size_t bytes = 4) {
    for (size_t i = 0; i < bytes; ++i) image[offset + i] = static_cast<char>(value >> (8 * i));
    const uint32_t crc = Crc32({reinterpret_cast<const uint8_t*>(image.data()), 44});
    for (size_t i = 0; i < 4; ++i) image[44 + i] = static_cast<char>(crc >> (8 * i));
    return image;
}

TEST(FirmwareImage, EachFaultHasItsOwnResult) {
    const std::string good = Build({2, 0, 1}, 300);
    const std::tuple<const char*, std::string, int32_t> cases[] = {
        {"good", good, KT62_OK},
        {"empty file", "", KT62_E_FW_TRUNCATED},
        {"bad magic", Build({2, 0, 1}, 300, [](ImageRecipe& r) { r.bad_magic = true; }), KT62_E_FW_FORMAT},
        {"header cut", good.substr(0, 47), KT62_E_FW_TRUNCATED},
        {"payload cut by one", good.substr(0, good.size() - 1), KT62_E_FW_TRUNCATED},
        {"byte after the payload", good + "x", KT62_E_FW_FORMAT},
        {"payload byte changed", good.substr(0, 100) + char(good[100] ^ 1) + good.substr(101), KT62_E_FW_CRC},
        {"header byte changed", good.substr(0, 29) + char(good[29] ^ 4) + good.substr(30), KT62_E_FW_CRC},
        {"other model", Build({2, 0, 1}, 300, [](ImageRecipe& r) { r.model = "KT6300"; }), KT62_E_FW_MODEL},
        {"format 2", Patched(good, 8, 2, 2), KT62_E_FW_FORMAT},
        {"length 0", Patched(good, 32, 0), KT62_E_FW_FORMAT},
        {"length past the limit", Patched(good, 32, kt62::emu::kMaxFirmwarePayload + 1), KT62_E_FW_FORMAT},
        {"length promises more", Patched(good, 32, 301), KT62_E_FW_TRUNCATED}};
    kt::test::TempDir dir;
    for (const auto& [name, bytes, result] : cases) {
        kt62::emu::FirmwareImage image;
        EXPECT_EQ(kt62::emu::ReadFirmwareImage(dir.Write("image.bin", bytes), image), result) << name;
        EXPECT_TRUE(result != KT62_OK || image.payload == Payload(300, 2));
    }
    ASSERT_EQ(mkfifo((dir.Path() + "/fifo").c_str(), 0600), 0);
    for (const std::string& path :
         {dir.Path() + "/absent.bin", dir.Path(), dir.Path() + "/fifo", std::string()}) {
        kt62::emu::FirmwareImage image;
        EXPECT_EQ(kt62::emu::ReadFirmwareImage(path, image), KT62_E_FW_MISSING) << path;
    }
}

TEST(FirmwareVersionText, IsThreeDecimalBytes) {
    EXPECT_EQ(kt62::emu::ParseVersionText("255.0.9"), (FirmwareVersion{255, 0, 9}));
    EXPECT_EQ(kt62::emu::VersionText({255, 0, 9}), "255.0.9");
    for (const char* bad : {"1.256.0", "1.2", "1.2.3.", "1..3", "1.2.x", "-1.2.3"})
        EXPECT_EQ(kt62::emu::ParseVersionText(bad), std::nullopt) << bad;
}

ProgrammerState TwoSlotState() {
    ProgrammerState s;
    s.active = 1;
    s.slots[0] = {FirmwareSlot::Kind::Factory, {1, 0, 0}, {}, 0};
    s.slots[1] = {FirmwareSlot::Kind::Image, {2, 3, 4}, Payload(64, 9), Crc32(Payload(64, 9))};
    return s;
}

TEST(ProgrammerStateFile, RoundTripsAndRefusesAnyChangedMissingOrInconsistentByte) {
    const std::vector<uint8_t> bytes = kt62::emu::EncodeProgrammerState(TwoSlotState());
    std::string why;
    EXPECT_EQ(kt62::emu::DecodeProgrammerState(bytes, why), std::optional(TwoSlotState())) << why;
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::vector<uint8_t> flipped = bytes;
        flipped[i] ^= 0x10;
        EXPECT_FALSE(kt62::emu::DecodeProgrammerState(flipped, why)) << "byte " << i;
        EXPECT_FALSE(kt62::emu::DecodeProgrammerState(std::span(bytes).first(i), why)) << "first " << i;
    }
    // Checksums that fit over contents that do not: only the slot checks can tell.
    std::vector<ProgrammerState> bad(4, TwoSlotState());
    bad[0].slots[1] = {};
    bad[1].slots[0].payload = {1, 2, 3};
    bad[2].slots[1].payload_crc ^= 1;
    bad[3].active = 2;
    for (const ProgrammerState& s : bad)
        EXPECT_FALSE(kt62::emu::DecodeProgrammerState(kt62::emu::EncodeProgrammerState(s), why));
}

}  // namespace
}  // namespace kt62emutest
