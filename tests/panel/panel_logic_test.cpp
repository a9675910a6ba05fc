// The panel's rules: what a descriptor read shows and saves, which files the
// write accepts and how it reads them, and the lock rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "handlers/base/config_lock.h"
#include "handlers/ufs/descriptor_file.h"
#include "tests/support/temp_dir.h"

namespace kt {
namespace {

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
    EXPECT_EQ(p.bytesRead, c.lengthRead);
    EXPECT_EQ(p.dumpBytes, c.dumpBytes);
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
    EXPECT_TRUE(DescriptorFileAccepted(std::vector<std::uint8_t>{2, 5}, 2, 5));
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
