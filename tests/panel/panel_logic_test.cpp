#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "handlers/ufs/descriptor_file.h"
#include "handlers/ufs/hex_field.h"
#include "tests/support/fake_context.h"

namespace kt {
namespace {

TEST(HexField, ReadsAsTheHexConversionDoesAndRefusesNamingTheField) {
    // As strtoul: a longer number keeps its low 32 bits, a sign is taken, "0x" reads 0.
    // clang-format off
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {" 0x0e", 0x0Eu}, {"\t\r\n 7", 7u}, {"12G", 0x12u}, {"abcdef", 0xABCDEFu}, {"00000000FF", 0xFFu},
        {"123456789", 0x23456789u}, {"+5", 5u}, {"-1", 0xFFFFFFFFu}, {"0x", 0u}, {"0xG", 0u}, {"0 5", 0u},
        {"", std::nullopt}, {"   ", std::nullopt}, {"G1", std::nullopt}, {"- 5", std::nullopt}, {"+-5", std::nullopt}};
    // clang-format on
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseHexField(text), value) << '"' << text << '"';

    test::FakeContext ctx;
    ctx.Port().SetText(IDC_EDIT_VALUE, "100000002");
    EXPECT_FALSE(ReadHexField(ctx, kValueField));
    EXPECT_EQ(ctx.Port().Pane(), "Invalid Value(hex): more than 32 bits. Nothing was sent.");
}

// A device that changes its mind between the length read and the full read.
TEST(DescriptorPlan, ShowsAndSavesOnlyBytesThatWereRead) {
    const std::string changed = "Descriptor length changed between reads: ";
    const std::string not_saved = "Not saved: the descriptor is 255 bytes long, only 250 bytes were read.";
    // clang-format off
    const std::tuple<std::uint8_t, std::uint8_t, bool, std::size_t, bool, std::vector<std::string>> cases[] = {
        {144, 64, true, 64, true, {changed + "144, then 64 bytes."}},
        {64, 144, false, 64, false, {changed + "64, then 144 bytes."}},
        {250, 255, true, 250, false, {changed + "250, then 255 bytes.", not_saved}}};
    // clang-format on
    for (const auto& [length_read, full_read, configuration, dump, save, notes] : cases) {
        const DescriptorOutputPlan p = PlanDescriptorOutput(length_read, full_read, configuration);
        EXPECT_EQ(p.bytes_read, length_read);
        EXPECT_EQ(p.dump_bytes, dump);
        EXPECT_EQ(p.save, save);
        EXPECT_EQ(p.notes, notes);
    }
}

TEST(DescriptorFile, AcceptsOnlyItsLengthAndTheWholeIdnAndReadsOneBuffer) {
    std::vector<std::uint8_t> config(144, 0xA5);
    config[0] = 0x90, config[1] = 0x01;
    EXPECT_TRUE(DescriptorFileAccepted(config, 144, 1));
    EXPECT_FALSE(DescriptorFileAccepted(config, 143, 1));
    EXPECT_FALSE(DescriptorFileAccepted(config, 144, 0x101));
    EXPECT_FALSE(DescriptorFileAccepted(std::vector<std::uint8_t>{1}, 1, 1));
    EXPECT_TRUE(DescriptorFileAccepted(std::vector<std::uint8_t>{2, 1}, 2, 1)) << "the shortest descriptor";

    test::TempDir dir;
    std::string content(600, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i);
    const std::string path = dir.Write("configuration.descr", content);
    const DescriptorFileContent f = ReadDescriptorFile(path);
    ASSERT_EQ(f.status, DescriptorFileContent::Status::Ok);
    EXPECT_EQ(f.length, 600u);
    EXPECT_EQ(f.head, std::vector<std::uint8_t>(content.begin(), content.begin() + kDescriptorBufferSize));
    ASSERT_EQ(SaveDescriptorFile(path, {}), "");
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

}  // namespace
}  // namespace kt
