#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "production/job_file.h"
#include "tests/production/doc_example.h"

namespace kt::production {
namespace {

Job Parsed(const std::string& text, const std::string& folder = ".") {
    auto result = ParseJob(text, "job.toml", folder);
    if (const auto* error = std::get_if<std::string>(&result)) ADD_FAILURE() << *error;
    return std::get_if<Job>(&result) != nullptr ? std::get<Job>(result) : Job{};
}

TEST(JobFile, TheDocumentedExampleIsReadWhole) {
    const Job job = Parsed(kt::test::DocExample("toml"));
    EXPECT_EQ(job.expect.manufacturer_id, 0x1CE);
    EXPECT_EQ(job.expect.product_pattern, "KT*");
    EXPECT_EQ(job.expect.min_version, 0x0210);
    EXPECT_EQ(job.expect.max_version, 0x0400);
    EXPECT_EQ(job.expect.min_raw_capacity_bytes, 32ULL << 30);
    ASSERT_TRUE(job.layout.has_value());
    const auto& units = job.layout->units;
    ASSERT_EQ(units.size(), 5U);
    EXPECT_TRUE(units[0].rest);
    EXPECT_EQ(units[0].provisioning_type, 2);
    EXPECT_EQ(units[1].boot, BootRole::A);
    EXPECT_EQ(units[2].boot, BootRole::B);
    EXPECT_EQ(units[2].write_protect, WriteProtect::PowerOn);
    EXPECT_EQ(units[2].size_bytes, 4ULL << 20);
    EXPECT_EQ(units[3].memory_type, MemoryType::SystemCode);
    EXPECT_EQ(units[3].data_reliability, 1);
    EXPECT_EQ(units[4].memory_type, MemoryType::Enhanced1);
    EXPECT_EQ(units[4].block_exponent, 12);
    const auto& wb = job.layout->write_booster;
    EXPECT_TRUE(wb.enabled && !wb.shared && wb.preserve_user_space);
    EXPECT_EQ(wb.size_bytes, 2ULL << 30);
    EXPECT_EQ(job.layout->boot_lun_en, 1);
    ASSERT_EQ(job.images.size(), 2U);
    EXPECT_EQ(job.images[1].lun, 3);
    ASSERT_TRUE(job.images[1].sha256.has_value());
    EXPECT_EQ((*job.images[1].sha256)[0], 0xE3);
    EXPECT_EQ((*job.images[1].sha256)[31], 0x55);
    ASSERT_EQ(job.flags.size(), 2U);
    EXPECT_EQ(job.flags[0].idn, 0x04);  // fBackgroundOpsEn, by name before fPowerOnWPEn
    EXPECT_TRUE(job.flags[1].value);
    EXPECT_EQ(job.verify, Verify::Hash);
    EXPECT_FALSE(job.lock);
}

TEST(JobFile, SizesAreBytesOrBinaryUnitsWithin64Bits) {
    const struct {
        const char* text;
        std::optional<std::uint64_t> bytes;
    } cases[] = {
        {"4096", 4096},
        {"4MiB", 4ULL << 20},
        {"32 GiB", 32ULL << 30},
        {"16777215TiB", 16777215ULL << 40},
        {"16777216TiB", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"4MB", std::nullopt},
        {"MiB", std::nullopt},
        {"-1", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseSize(c.text), c.bytes) << c.text;
}

TEST(JobFile, BadInputIsRefusedAtItsLineAndColumn) {
    const std::string unit1 = "[[unit]]\nlun = 1\nsize = \"4MiB\"\n";
    std::string deep_key;  // what would take the parser's stack, were it longer
    for (int i = 0; i < 257; ++i) deep_key += "k.";
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"verify = \n", "job.toml:1:10: "},
        {"[expekt]\n", "job.toml:1:2: unknown key \"expekt\""},
        {unit1 + "sise = 5\n", "job.toml:4:1: unknown key \"sise\""},
        {"[expect]\nmin_raw_capacity = \"16777216TiB\"\n", "2:20: min_raw_capacity: does not fit in 64 bits"},
        {"[expect]\nufs_min = \"4.0\"\nufs_max = \"3.1\"\n", "3:11: ufs_max: older than ufs_min"},
        {unit1 + unit1, "5:7: lun: unit 1 twice"},
        {"[[unit]]\nlun=0\nsize=\"rest\"\n[[unit]]\nlun=2\nsize=\"rest\"\n",
         "6:6: size: \"rest\" already goes to unit 0"},
        {unit1 + "boot=\"A\"\n[[unit]]\nlun=2\nsize=1\nboot=\"A\"\n", "8:6: boot: unit 1 is boot A already"},
        {unit1 + "memory = \"enhanced5\"\n", "4:10: memory: one of normal"},
        {"[[unit]]\nlun = 32\nsize = 1\n", "2:7: lun: 32 is out of range 0-31"},
        {unit1 + "block_size = 6144\n", "4:14: block_size: a power of two"},
        {"[unit]\nlun = 1\n", "1:1: unit: one [[unit]] table for each"},
        {unit1 + "[[image]]\nfile = \"a\"\nlun = 2\nsha256 = \"00\"\n", "6:7: lun: the layout has no unit 2"},
        {"[[image]]\nfile = \"a\"\nlun = 2\nsha256 = \"00\"\n", "4:10: sha256: 64 hexadecimal digits"},
        {unit1 + "[write_booster]\ntype = \"dedicated\"\nlun = 3\nsize = 1\n",
         "6:7: lun: no [[unit]] has lun 3"},
        {"layout_from = \"p.xml\"\n" + unit1, "2:1: unit: the layout comes from layout_from already"},
        {"boot_lun_en = \"B\"\n" + unit1, "1:15: boot_lun_en: no unit is boot B"},
        {"[device]\nboot_enable = 1\n", "1:1: device: no [[unit]] to go with"},
        {"# a.b.c\ns = \"" + std::string(300, '.') + "\"\n" + deep_key + "k = 1\n",
         "3:514: keys nest deeper than a job's"},
        {"[flags]\nfPurgeEnable = true\n", "2:1: flags: fPurgeEnable is not a flag a job sets"},
        {"[flags]\nfPowerOnWPEn = false\n", "2:16: fPowerOnWPEn: only a reset clears it"},
    };
    for (const auto& c : cases) {
        const auto result = ParseJob(c.text, "job.toml");
        const auto* error = std::get_if<std::string>(&result);
        ASSERT_NE(error, nullptr) << c.text;
        EXPECT_NE(error->find(c.error), std::string::npos) << *error;
    }
}

TEST(JobFile, ALayoutFromAProvisioningFileIsTakenFromTheJobsFolder) {
    const kt::test::TempDir dir;
    dir.Write("board.txt", "lun0.size_in_kb=4\nconfig_descr_lock=1\n");
    const Job job = Parsed("layout_from = \"board.txt\"\n", dir.Path());
    ASSERT_TRUE(job.layout.has_value());
    EXPECT_EQ(job.layout->units.at(0).size_bytes, 4096U);
    EXPECT_TRUE(job.lock);
    EXPECT_EQ(job.imported.at(0), "lun0.size_in_kb=4 -> unit 0 size 4096 bytes");

    const auto missing = ParseJob("layout_from = \"gone.xml\"\n", "job.toml", dir.Path());
    EXPECT_NE(
        std::get<std::string>(missing).find("1:15: layout_from: " + dir.Path() + "/gone.xml: No such file"),
        std::string::npos);
}

TEST(JobFile, EachImageIsOpenedAndMustFitTheSizeItsUnitAsksFor) {
    const kt::test::TempDir dir;
    dir.Write("empty.img", "");
    dir.Write("page.img", std::string(4096, 'x'));
    const std::string units =
        "[[unit]]\nlun = 1\nsize = 4096\n[[unit]]\nlun = 2\nsize = \"rest\"\n[[image]]\n";
    const struct {
        const char* image;
        const char* error;
    } cases[] = {
        // "": read
        {"file = \"page.img\"\nlun = 1", ""},
        {"file = \"page.img\"\nlun = 2\nstart_sector = 99", ""},
        {"file = \"page.img\"\nlun = 1\nstart_sector = 1",
         "8:8: file: page.img: 4096 bytes from block 1 do not fit"},
        {"file = \"empty.img\"\nlun = 2", "8:8: file: empty.img: empty"},
        {"file = \"gone.img\"\nlun = 2", "8:8: file: gone.img: No such file"},
    };
    for (const auto& c : cases) {
        const auto result = ReadJobFile(dir.Write("job.toml", units + c.image + "\n"));
        const auto* error = std::get_if<std::string>(&result);
        const std::string got = error != nullptr ? *error : "";
        EXPECT_EQ(*c.error == 0, error == nullptr) << c.image << ": " << got;
        EXPECT_NE(got.find(c.error), std::string::npos) << got;
    }
}

// What is not a page of text never reaches the parser, whichever of the job's files it stands for.
TEST(JobFile, WhatIsNotAFileOfTextIsRefusedWithoutBeingRead) {
    const kt::test::TempDir dir;
    const std::string d = dir.Path() + "/";
    ASSERT_EQ(mkfifo((d + "fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkdir((d + "folder").c_str(), 0755), 0);
    ASSERT_EQ(truncate(dir.Write("huge", "").c_str(), 1 << 21), 0);
    ASSERT_EQ(symlink("huge", (d + "link").c_str()), 0);
    dir.Write("from_fifo.toml", "layout_from = \"fifo\"\n");
    dir.Write("image_fifo.toml", "[[image]]\nfile = \"fifo\"\nlun = 0\n");
    const struct {
        const char* job;
        std::string error;
    } cases[] = {
        {"fifo", d + "fifo: not a regular file (a FIFO)"},
        {"folder", d + "folder: not a regular file (a directory)"},
        {"huge", d + "huge: larger than 1048576 bytes"},
        {"link", d + "link: larger than 1048576 bytes"},
        {"from_fifo.toml", "1:15: layout_from: " + d + "fifo: not a regular file (a FIFO)"},
        {"image_fifo.toml", "2:8: file: fifo: not a regular file (a FIFO)"},
    };
    for (const auto& c : cases) {
        const auto result = ReadJobFile(d + c.job);
        const auto* error = std::get_if<std::string>(&result);
        ASSERT_NE(error, nullptr) << c.job;
        EXPECT_NE(error->find(c.error), std::string::npos) << *error;
    }
}

}  // namespace
}  // namespace kt::production
