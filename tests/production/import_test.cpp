#include <gtest/gtest.h>

#include <algorithm>

#include "production/import.h"
#include "tests/production/doc_example.h"

namespace kt::production {
namespace {

TEST(Import, BothDocumentedFormsGiveTheSameLayout) {
    for (const auto& [text, name] : {std::pair{kt::test::DocExample("xml"), "board.xml"},
                                     std::pair{kt::test::DocExample("conf"), "board.txt"}}) {
        const auto result = ImportLayout(text, name);
        const auto* got = std::get_if<ImportedLayout>(&result);
        ASSERT_NE(got, nullptr) << std::get<std::string>(result);
        const auto& units = got->layout.units;
        ASSERT_EQ(units.size(), 3U) << name;
        EXPECT_TRUE(units[0].rest);
        EXPECT_EQ(units[0].provisioning_type, 2);
        EXPECT_EQ(units[1].boot, BootRole::A);
        EXPECT_EQ(units[1].size_bytes, 4ULL << 20);
        EXPECT_EQ(units[1].memory_type, MemoryType::Enhanced1);
        EXPECT_EQ(units[2].boot, BootRole::B);
        EXPECT_TRUE(got->layout.write_booster.enabled && got->layout.write_booster.shared);
        EXPECT_EQ(got->layout.write_booster.alloc_units, 0x100U);
        EXPECT_FALSE(got->lock);
        const std::string memory =
            name == std::string("board.xml") ? "lun1.bMemoryType=3" : "lun1.memory_type=3";
        EXPECT_NE(std::find(got->became.begin(), got->became.end(), memory + " -> unit 1 memory enhanced1"),
                  got->became.end());
    }
}

TEST(Import, WhatHasNoMeaningHereIsRefusedWhereItStands) {
    const auto unit = [](const char* lun, const char* more) {
        return std::string("  <ufs LUNum=\"") + lun + "\" size_in_kb=\"4\" " + more + "/>\n";
    };
    const struct {
        std::string text;
        const char* name;
        const char* error;
    } cases[] = {
        {"<data>\n<ufs LUNum=\"1\" bColour=\"1\"/>\n</data>", "p.xml",
         "p.xml:2: <ufs>: unknown attribute \"bColour\""},
        {"<data>\n" + unit("1", "bMemoryType=\"9\"") + "</data>", "p.xml",
         "2: lun1.bMemoryType=9: out of range 0-6"},
        {"<data>\n" + unit("1", "bProvisioningType=\"1\"") + "</data>", "p.xml", "not a provisioning type"},
        {"<data>\n" + unit("1", "bMemoryType=\"x\"") + "</data>", "p.xml", "bMemoryType=x: not a number"},
        {"<data>\n<ufs bNumberLU=\"2\"/>\n" + unit("1", "") + "</data>", "p.xml",
         "2: bNumberLU=2: but 1 units"},
        {"<data>\n" + unit("1", "") + unit("1", "") + "</data>", "p.xml",
         "p.xml:3: unit 1 is described twice"},
        {"<data>\n<ufs bMemoryType=\"1\"/>\n</data>", "p.xml", "2: bMemoryType belongs on a unit's element"},
        {"<data>\n<program/>\n</data>", "p.xml", "2: <program> has no meaning here"},
        {"<provision/>", "p.xml", "p.xml:1: the root element is not <data>"},
        {"<data>\n<ufs>\n</data>", "p.xml", "p.xml:2: not well-formed XML"},
        {"<data>\n" + unit("1", "bLUEnable=\"0\"") + "</data>", "p.xml", "p.xml: no enabled unit"},
        {"lun1.colour=3\n", "p.txt", "p.txt:1: unknown field \"lun1.colour\""},
        {"size_in_kb=3\n", "p.txt", "p.txt:1: unknown field \"size_in_kb\""},
        {"# two\nlun32.size_in_kb=3\n", "p.txt", "p.txt:2: lun32.size_in_kb: not a unit 0-31"},
        {"lun1.size_in_kb 3\n", "p.txt", "p.txt:1: not a field=value line"},
        {"lun1.size_in_kb=3\nlun1.size_in_kb=4\n", "p.txt", "2: lun1.size_in_kb=4: given twice"},
        {"lun1.size_in_kb=3\nlun1.boot_lun_id=1\nlun2.boot_lun_id=1\n", "p.txt",
         "3: lun2.boot_lun_id=1: unit 1 is boot A"},
        {"lun1.memory_type=3\n", "p.txt", "p.txt:1: unit 1 has no size and does not take the rest"},
        {"lun1.size_in_kb=3\nlun_to_grow=2\n", "p.txt", "2: lun_to_grow=2: no enabled unit 2"},
        {"lun1.size_in_kb=3\nlun1.wb_alloc_units=1\nlun2.size_in_kb=3\nlun2.wb_alloc_units=1\n", "p.txt",
         "3: units 1 and 2 both have a dedicated WriteBooster buffer"},
        {"wb_type=0\nwb_shared_alloc_units=4\nlun1.size_in_kb=3\n", "p.txt",
         "1: wb_type=0: the buffer's type disagrees"},
    };
    for (const auto& c : cases) {
        const auto result = ImportLayout(c.text, c.name);
        const auto* error = std::get_if<std::string>(&result);
        ASSERT_NE(error, nullptr) << c.text;
        EXPECT_NE(error->find(c.error), std::string::npos) << *error;
    }
}

}  // namespace
}  // namespace kt::production
