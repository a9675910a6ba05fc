// The panel's rules: its fields read as "%X" reads them and refused, before
// anything is sent, when they hold no number or more than the call takes;
// what a descriptor read shows and saves; which files the write accepts and
// how it reads them; the lock rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "handlers/base/config_lock.h"
#include "handlers/ufs/descriptor_file.h"
#include "handlers/ufs/hex_field.h"
#include "tests/support/fake_context.h"

namespace kt {
namespace {

TEST(HexFieldParse, ReadsAsTheHexConversionDoes) {
    // clang-format off
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {" 0x0e", 0x0Eu}, {"\t\r\n 7", 7u}, {"12G", 0x12u}, {"abcdef", 0xABCDEFu}, {"00000000FF", 0xFFu},
        // A 32-bit target keeps the low 32 bits of a longer number; a sign is taken, as strtoul does.
        {"123456789", 0x23456789u}, {"+5", 5u}, {"-1", 0xFFFFFFFFu},
        // "0x" with no digit after it still reads the 0 in front.
        {"0x", 0u}, {"0xG", 0u}, {"0 5", 0u},
        // No number: nothing to address.
        {"", std::nullopt}, {"   ", std::nullopt}, {"G1", std::nullopt}, {"- 5", std::nullopt}, {"+-5", std::nullopt}};
    // clang-format on
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseHexField(text), value) << '"' << text << '"';
}

TEST(HexFieldRead, RefusesNamingTheFirstBadFieldAndItsReason) {
    test::FakeContext ctx;
    ctx.Port().SetText(IDC_EDIT_IDN, "1");
    ctx.Port().SetText(IDC_EDIT_INDEX, "Z");
    ctx.Port().SetText(IDC_EDIT_SELECTOR, "");
    EXPECT_FALSE(ReadQueryAddress(ctx));
    EXPECT_EQ(ctx.Port().Pane(), "Invalid Index(hex): enter a hexadecimal number. Nothing was sent.");

    ctx.Port().SetText(IDC_EDIT_VALUE, "100000002");
    EXPECT_FALSE(ReadHexField(ctx, kValueField));
    EXPECT_EQ(ctx.Port().Pane(), "Invalid Value(hex): more than 32 bits. Nothing was sent.");

    ctx.Port().SetText(IDC_EDIT_INDEX, "1FF");
    ctx.Port().SetText(IDC_EDIT_SELECTOR, " 2");
    const auto a = ReadQueryAddress(ctx);
    ASSERT_TRUE(a);
    EXPECT_EQ(std::tie(a->idn, a->index, a->selector), std::make_tuple(1u, 0x1FFu, 2u));
}

struct PlanCase {
    std::uint8_t lengthRead, fullRead;
    bool configuration;
    std::size_t dumpBytes;
    bool save;
    std::vector<std::string> notes;
};

class DescriptorPlan : public testing::TestWithParam<PlanCase> {};

TEST_P(DescriptorPlan, ShowsAndSavesOnlyBytesThatWereRead) {
    const PlanCase& c = GetParam();
    const DescriptorOutputPlan p = PlanDescriptorOutput(c.lengthRead, c.fullRead, c.configuration);
    EXPECT_EQ(p.bytes_read, c.lengthRead);
    EXPECT_EQ(p.dump_bytes, c.dumpBytes);
    EXPECT_EQ(p.save, c.save);
    EXPECT_EQ(p.notes, c.notes);
}

// The plain lengths are pinned end to end; here the device that changes its
// mind between the two reads.
const std::string kChanged = "Descriptor length changed between reads: ";
// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, DescriptorPlan, testing::Values(
    PlanCase{0xE6, 0xE6, true, 0xE6, true, {}},
    // Shorter at the full read: its own length rules, and the file is complete.
    PlanCase{144, 64, true, 64, true, {kChanged + "144, then 64 bytes."}},
    // Longer: only what was asked for is shown, and no file its byte 0 contradicts.
    PlanCase{64, 144, false, 64, false, {kChanged + "64, then 144 bytes."}},
    PlanCase{250, 255, true, 250, false, {kChanged + "250, then 255 bytes.",
                                          "Not saved: the descriptor is 255 bytes long, only 250 bytes were read."}}));
// clang-format on

TEST(DescriptorFileCheck, AcceptsOnlyAFileMatchingItsLengthAndTheWholeIdn) {
    std::vector<std::uint8_t> config(144, 0xA5);
    config[0] = 0x90, config[1] = 0x01;
    EXPECT_TRUE(DescriptorFileAccepted(config, 144, 1));
    EXPECT_FALSE(DescriptorFileAccepted(config, 145, 1));
    EXPECT_FALSE(DescriptorFileAccepted(config, 143, 1));
    EXPECT_FALSE(DescriptorFileAccepted(config, 144, 0x101));
    EXPECT_FALSE(DescriptorFileAccepted(std::vector<std::uint8_t>{1}, 1, 1));
    EXPECT_FALSE(DescriptorFileAccepted(std::vector<std::uint8_t>{0, 1}, 2, 1));
}

TEST(DescriptorFile, ReadsOneBufferAndTheWholeLengthAndSavesWhole) {
    test::TempDir dir;
    std::string content(600, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i);
    const std::string path = dir.Write("configuration.descr", content);
    const DescriptorFileContent f = ReadDescriptorFile(path);
    ASSERT_EQ(f.status, DescriptorFileContent::Status::Ok);
    EXPECT_EQ(f.length, 600u);
    EXPECT_EQ(f.head, std::vector<std::uint8_t>(content.begin(), content.begin() + kDescriptorBufferSize));
    // An empty descriptor gives an empty file, not a leftover of the last one.
    ASSERT_EQ(SaveDescriptorFile(path, {}), "");
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST(ConfigLockRule, OnlyASuccessfulReadOfExactlyOneBlocks) {
    EXPECT_TRUE(ConfigDescriptorLocked(0, 1));
    EXPECT_FALSE(ConfigDescriptorLocked(0, 2) || ConfigDescriptorLocked(0, 0x101) ||
                 ConfigDescriptorLocked(-1, 1));
}

}  // namespace
}  // namespace kt
