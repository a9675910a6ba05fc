// Pure decisions of the panel: what a descriptor read shows and saves, which
// files the write accepts, the lock rule, and the DME read's kind and text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handlers/base/config_lock.h"
#include "handlers/ufs/descriptor_file.h"
#include "handlers/ufs/dme.h"

namespace kt {
namespace {

struct PlanCase {
    std::uint8_t lengthRead, fullRead;
    bool configuration;
    std::uint32_t bytesRead;
    std::size_t dumpBytes;
    bool save;
    std::vector<std::string> notes;
};

class DescriptorPlan : public testing::TestWithParam<PlanCase> {};

TEST_P(DescriptorPlan, ShowsAndSavesOnlyBytesThatWereRead) {
    const PlanCase& c = GetParam();
    const DescriptorOutputPlan p = PlanDescriptorOutput(c.lengthRead, c.fullRead, c.configuration);
    EXPECT_EQ(p.bytesRead, c.bytesRead);
    EXPECT_EQ(p.dumpBytes, c.dumpBytes);
    EXPECT_EQ(p.save, c.save);
    EXPECT_EQ(p.notes, c.notes);
    // Whatever the device did, a saved file is as long as its byte 0 and
    // holds read bytes only.
    if (p.save) {
        EXPECT_LE(c.fullRead, p.bytesRead);
    }
}

// The plain lengths are covered through the read command itself; here the
// device that changes its mind between the two reads.
INSTANTIATE_TEST_SUITE_P(
    Table, DescriptorPlan,
    testing::Values(
        PlanCase{192, 192, true, 192, 192, true, {}}, PlanCase{200, 200, false, 200, 200, false, {}},
        // Shorter at the full read: its own length rules, and the file is complete.
        PlanCase{
            144, 64, true, 144, 64, true, {"Descriptor length changed between reads: 144, then 64 bytes."}},
        // Longer: only what was asked for is shown, and no file that its own
        // byte 0 would contradict is saved.
        PlanCase{
            64, 144, false, 64, 64, false, {"Descriptor length changed between reads: 64, then 144 bytes."}},
        PlanCase{250,
                 255,
                 true,
                 250,
                 250,
                 false,
                 {"Descriptor length changed between reads: 250, then 255 bytes.",
                  "Not saved: the descriptor is 255 bytes long, only 250 bytes were read."}}));

std::vector<std::uint8_t> Descriptor(std::size_t size, std::uint8_t length, std::uint8_t idn) {
    std::vector<std::uint8_t> d(size, 0xA5);
    if (size > 0) d[0] = length;
    if (size > 1) d[1] = idn;
    return d;
}

struct FileCase {
    const char* name;
    std::vector<std::uint8_t> head;
    std::uint64_t length;
    std::uint32_t idn;
    bool accepted;
};

class DescriptorFileCheck : public testing::TestWithParam<FileCase> {};

TEST_P(DescriptorFileCheck, AcceptsOnlyAFileMatchingItsLengthAndTheIdn) {
    const FileCase& c = GetParam();
    EXPECT_EQ(DescriptorFileAccepted(c.head, c.length, c.idn), c.accepted) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DescriptorFileCheck,
    testing::Values(FileCase{"configuration 144", Descriptor(144, 0x90, 1), 144, 1, true},
                    FileCase{"two-byte header only", Descriptor(2, 2, 5), 2, 5, true},
                    FileCase{"one byte too many", Descriptor(145, 0x90, 1), 145, 1, false},
                    FileCase{"one byte too few", Descriptor(143, 0x90, 1), 143, 1, false},
                    FileCase{"empty", {}, 0, 1, false}, FileCase{"one byte", {0x01}, 1, 1, false},
                    FileCase{"600 bytes, buffer holds 512", Descriptor(512, 0x90, 1), 600, 1, false},
                    FileCase{"idn mismatch", Descriptor(144, 0x90, 1), 144, 2, false},
                    FileCase{"idn compared whole", Descriptor(144, 0x90, 1), 144, 0x101, false},
                    FileCase{"length byte 0", Descriptor(2, 0, 1), 2, 1, false}),
    [](const testing::TestParamInfo<FileCase>& i) { return "Case" + std::to_string(i.index); });

TEST(ConfigLockRule, OnlyASuccessfulReadOfExactlyOneBlocks) {
    struct Case {
        std::int32_t r;
        std::uint32_t value;
        bool locked;
    };
    for (const Case& c : {Case{0, 1, true}, Case{0, 0, false}, Case{0, 2, false}, Case{0, 0x101, false},
                          Case{-1, 1, false}, Case{KT62_E_NOT_SUPPORTED, 1, false}})
        EXPECT_EQ(ConfigDescriptorLocked(c.r, c.value), c.locked) << c.r << ' ' << c.value;
}

TEST(DmeRead, NoSelectionReadsThePeer) {
    EXPECT_EQ(DmeKindForSelection(0), kDmeGet);
    EXPECT_EQ(DmeKindForSelection(1), kDmePeerGet);
    EXPECT_EQ(DmeKindForSelection(-1), kDmePeerGet);
}

TEST(DmeRead, SuccessTextNamesTheSideAndPadsTheRegisterToFourDigits) {
    EXPECT_EQ(DmeSuccessText(kDmePeerGet, 0x0100, 0x12), "Get DME PEER (0100h) = 0x00000012");
    EXPECT_EQ(DmeSuccessText(kDmeGet, 0x1568, 0xDEADBEEF), "Get DME (1568h) = 0xDEADBEEF");
    EXPECT_EQ(DmeSuccessText(kDmePeerGet, 7, 0), "Get DME PEER (0007h) = 0x00000000");
    EXPECT_EQ(DmeSuccessText(kDmePeerGet, 0x1FFFF, 1), "Get DME PEER (1FFFFh) = 0x00000001");
}

}  // namespace
}  // namespace kt
