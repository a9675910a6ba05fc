// The image format: every way a file can fail the check maps to its own result code, and the
// programmer state file refuses anything but a whole, consistent file.
#include <fcntl.h>
#include <sys/stat.h>

#include <functional>

#include "fw_fixture.h"

namespace kt62emutest {
namespace {

using kt62::emu::Crc32;
using kt62::emu::FirmwareImage;
using kt62::emu::FirmwareSlot;
using kt62::emu::ProgrammerState;

TEST(Crc32, MatchesTheCommonCheckValue) {
    const std::string text = "123456789";
    EXPECT_EQ(Crc32({reinterpret_cast<const uint8_t*>(text.data()), text.size()}), 0xCBF43926u);
    // Fed in two pieces, as the state file and the image header are.
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_EQ(Crc32({p + 4, 5}, Crc32({p, 4})), 0xCBF43926u);
}

// A header field rewritten and the header checksum made to fit again, so that only the field is wrong.
std::string Patched(std::string image, size_t offset, const std::string& bytes) {
    image.replace(offset, bytes.size(), bytes);
    const uint32_t crc = Crc32({reinterpret_cast<const uint8_t*>(image.data()), 44});
    for (int i = 0; i < 4; ++i) image[44 + static_cast<size_t>(i)] = static_cast<char>(crc >> (8 * i));
    return image;
}

std::string Le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

TEST(FirmwareImage, EachFaultHasItsOwnResult) {
    const std::string good = Build(Recipe({2, 0, 1}, 300));
    auto with = [](std::function<void(ImageRecipe&)> change) {
        ImageRecipe r = Recipe({2, 0, 1}, 300);
        change(r);
        return Build(r);
    };
    struct Case {
        const char* name;
        std::string bytes;
        int32_t result;
    };
    const Case cases[] = {
        {"good", good, KT62_OK},
        {"empty file", "", KT62_E_FW_TRUNCATED},
        {"part of the magic", "KT62", KT62_E_FW_TRUNCATED},
        {"bad magic", with([](auto& r) { r.bad_magic = true; }), KT62_E_FW_FORMAT},
        {"text file", "hello, this is not firmware at all, but it is long enough to hold a header",
         KT62_E_FW_FORMAT},
        {"header cut", good.substr(0, 47), KT62_E_FW_TRUNCATED},
        {"payload cut by one", with([](auto& r) { r.truncate_by = 1; }), KT62_E_FW_TRUNCATED},
        {"payload missing", good.substr(0, 48), KT62_E_FW_TRUNCATED},
        {"byte after the payload", good + "x", KT62_E_FW_FORMAT},
        {"payload checksum", with([](auto& r) { r.bad_payload_crc = true; }), KT62_E_FW_CRC},
        {"payload byte changed", good.substr(0, 100) + char(good[100] ^ 1) + good.substr(101), KT62_E_FW_CRC},
        {"header checksum", with([](auto& r) { r.bad_header_crc = true; }), KT62_E_FW_CRC},
        {"header byte changed", good.substr(0, 29) + char(good[29] ^ 4) + good.substr(30), KT62_E_FW_CRC},
        {"other model", with([](auto& r) { r.model = "KT6300"; }), KT62_E_FW_MODEL},
        {"model with a suffix", with([](auto& r) { r.model = "KT6200A"; }), KT62_E_FW_MODEL},
        {"format 2", Patched(good, 8, std::string("\x02\x00", 2)), KT62_E_FW_FORMAT},
        {"header size 64", Patched(good, 10, std::string("\x40\x00", 2)), KT62_E_FW_FORMAT},
        {"length 0", Patched(good, 32, Le32(0)), KT62_E_FW_FORMAT},
        {"length past the limit", Patched(good, 32, Le32(kt62::emu::kMaxFirmwarePayload + 1)),
         KT62_E_FW_FORMAT},
        {"length promises more", Patched(good, 32, Le32(301)), KT62_E_FW_TRUNCATED},
    };
    kt::test::TempDir dir;
    for (const Case& c : cases) {
        FirmwareImage image;
        const std::string path = dir.Write("image.bin", c.bytes);
        EXPECT_EQ(kt62::emu::ReadFirmwareImage(path, image), c.result) << c.name;
        if (c.result == KT62_OK) {
            EXPECT_EQ(image.version, (FirmwareVersion{2, 0, 1}));
            EXPECT_EQ(image.payload, Payload(300, 2));
        }
    }
}

TEST(FirmwareImage, WhatCannotBeReadIsMissing) {
    kt::test::TempDir dir;
    const std::string fifo = dir.Path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {dir.Path() + "/absent.bin", dir.Path(), fifo, std::string()}) {
        FirmwareImage image;
        EXPECT_EQ(kt62::emu::ReadFirmwareImage(path, image), KT62_E_FW_MISSING) << path;
    }
}

TEST(FirmwareImage, BuilderRefusesWhatTheFormatCannotHold) {
    ImageRecipe long_model = Recipe({1, 0, 0});
    long_model.model = std::string(17, 'K');
    ImageRecipe empty = Recipe({1, 0, 0});
    empty.payload.clear();
    ImageRecipe over_cut = Recipe({1, 0, 0}, 10);
    over_cut.truncate_by = 59;
    for (const ImageRecipe& r : {long_model, empty, over_cut}) {
        std::string why;
        EXPECT_FALSE(kt62::emu::BuildFirmwareImage(r, why));
        EXPECT_FALSE(why.empty());
    }
}

TEST(FirmwareImage, VersionTextRoundTripsAndRefusesTheRest) {
    EXPECT_EQ(kt62::emu::ParseVersionText("1.2.3"), (FirmwareVersion{1, 2, 3}));
    EXPECT_EQ(kt62::emu::ParseVersionText("255.0.10"), (FirmwareVersion{255, 0, 10}));
    EXPECT_EQ(kt62::emu::VersionText({255, 0, 10}), "255.0.10");
    for (const char* bad : {"", "1.2", "1.2.3.4", "1.2.256", "1..3", "a.b.c", "1.2.3 ", "-1.2.3", "1.+2.3"})
        EXPECT_FALSE(kt62::emu::ParseVersionText(bad)) << bad;
}

TEST(FirmwareImage, Utf16PathsBecomeUtf8AndBrokenOnesNothing) {
    const std::string name = "/tmp/\xE5\x9B\xBA\xE4\xBB\xB6 \xC3\xA9\xF0\x9F\x98\x80.bin";  // CJK, é, emoji
    EXPECT_EQ(kt62::emu::PathFromUtf16(Wide(Utf16(name))), fs::path(name));
    const kt62_char16 lone_high[] = {'a', 0xD83D, 'b', 0};
    const kt62_char16 lone_low[] = {'a', 0xDE00, 0};
    const kt62_char16 high_at_end[] = {'a', 0xD83D, 0};
    const kt62_char16 empty[] = {0};
    for (const kt62_char16* bad : {lone_high, lone_low, high_at_end, empty})
        EXPECT_FALSE(kt62::emu::PathFromUtf16(bad));
}

ProgrammerState TwoSlotState() {
    ProgrammerState s;
    s.active = 1;
    s.slots[0] = {FirmwareSlot::Kind::Factory, {1, 0, 0}, {}, 0};
    const auto payload = Payload(64, 9);
    s.slots[1] = {FirmwareSlot::Kind::Image, {2, 3, 4}, payload, Crc32(payload)};
    return s;
}

TEST(ProgrammerStateFile, RoundTripsAndRefusesAnyChangedOrMissingByte) {
    const ProgrammerState s = TwoSlotState();
    const std::vector<uint8_t> bytes = kt62::emu::EncodeProgrammerState(s);
    std::string why;
    const auto back = kt62::emu::DecodeProgrammerState(bytes, why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(*back, s);
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::vector<uint8_t> flipped = bytes;
        flipped[i] ^= 0x10;
        EXPECT_FALSE(kt62::emu::DecodeProgrammerState(flipped, why)) << "byte " << i;
        EXPECT_FALSE(kt62::emu::DecodeProgrammerState(std::span(bytes).first(i), why)) << "first " << i;
    }
}

TEST(ProgrammerStateFile, RefusesConsistentChecksumsOverInconsistentSlots) {
    // Checksums that fit but contents that do not: only the slot checks can tell.
    ProgrammerState empty_active = TwoSlotState();
    empty_active.slots[1] = {};
    ProgrammerState factory_with_payload = TwoSlotState();
    factory_with_payload.slots[0].payload = {1, 2, 3};
    ProgrammerState payload_crc = TwoSlotState();
    payload_crc.slots[1].payload_crc ^= 1;
    ProgrammerState active_2 = TwoSlotState();
    active_2.active = 2;
    for (const ProgrammerState& s : {empty_active, factory_with_payload, payload_crc, active_2}) {
        std::string why;
        EXPECT_FALSE(kt62::emu::DecodeProgrammerState(kt62::emu::EncodeProgrammerState(s), why));
        EXPECT_FALSE(why.empty());
    }
}

TEST(ProgrammerStateFile, InstallWritesTheInactiveSlotThenSwitches) {
    kt::test::TempDir dir;
    const fs::path file = dir.Path() + "/st/programmer0.firmware";
    FirmwareImage a{{2, 0, 0}, Payload(10, 1), Crc32(Payload(10, 1))};
    FirmwareImage b{{3, 0, 0}, Payload(20, 2), Crc32(Payload(20, 2))};
    ProgrammerState now;
    std::string why;
    ASSERT_EQ(kt62::emu::InstallFirmware(file, {1, 5, 0}, a, now, why), KT62_OK) << why;
    EXPECT_EQ(now.active, 1);
    EXPECT_EQ(now.slots[0].kind, FirmwareSlot::Kind::Factory);
    EXPECT_EQ(now.slots[0].version, (FirmwareVersion{1, 5, 0}));
    ASSERT_EQ(kt62::emu::InstallFirmware(file, {1, 5, 0}, b, now, why), KT62_OK) << why;
    EXPECT_EQ(now.active, 0);
    EXPECT_EQ(now.slots[0].payload, b.payload);
    EXPECT_EQ(now.slots[1].version, a.version) << "the previous image stays in the other slot";
    ProgrammerState loaded;
    ASSERT_EQ(kt62::emu::LoadProgrammerState(file, loaded, why), kt62::emu::StateLoad::Loaded) << why;
    EXPECT_EQ(loaded, now);
    EXPECT_FALSE(fs::exists(file.string() + ".tmp"));
}

}  // namespace
}  // namespace kt62emutest
