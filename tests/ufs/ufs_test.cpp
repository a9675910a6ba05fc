// The UFS tables against values worked out by hand, per version, and the emulated device answering so.
#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include "emu/device_model.h"
#include "emu/ufs_model.h"
#include "ufs/descriptor_fields.h"
#include "ufs/idn.h"
#include "ufs/parameters.h"
#include "ufs/versions.h"

namespace kt::ufs {
namespace {

TEST(UfsVersions, EachVersionsDeviceAnswersInItsLayout) {
    struct Case {
        const char* name;
        std::uint16_t bcd;
        std::size_t device, config, header, unit, geometry;
    };
    const Case cases[] = {{"2.1", 0x0210, 0x40, 0x90, 0x10, 0x23, 0x48},
                          {"3.0", 0x0300, 0x40, 0x90, 0x10, 0x23, 0x48},
                          {"3.1", 0x0310, 0x59, 0xE6, 0x16, 0x2D, 0x57},
                          {"4.0", 0x0400, 0x59, 0xE6, 0x16, 0x2D, 0x57}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt62::UfsProfile profile;
        profile.spec_version = c.name;
        const auto made = kt62::emu::MakeDeviceModel(profile);
        ASSERT_TRUE(made.model);
        const kt62::emu::UfsModel model(made.model);
        const auto device = model.Descriptor(kDeviceDescriptor, 0);
        EXPECT_EQ(device->size(), c.device);
        EXPECT_EQ(VersionOf(*device), c.bcd);
        EXPECT_EQ((*device)[kDeviceUd0BaseOffset], c.header);
        EXPECT_EQ(model.Descriptor(kConfigurationDescriptor, 0)->size(), c.config);
        EXPECT_EQ(model.Descriptor(kUnitDescriptor, 1)->size(), c.unit);
        EXPECT_EQ(model.Descriptor(kGeometryDescriptor, 0)->size(), c.geometry);
        // No memory type 7: its unit has no blocks, whatever it is given.
        EXPECT_EQ(kt62::emu::UnitBlocks(*made.model, {.enable = 1, .memory_type = 7, .alloc_units = 1}), 0u);
        // The model keeps the parameters it always had: no HPB, no gating wait.
        std::uint8_t flag = 0;
        EXPECT_EQ(model.ReadFlag(0x12, &flag), KT62_QUERY_INVALID_IDN);
        std::uint32_t value = 0;
        EXPECT_EQ(model.ReadAttribute(0x17, 0, 0, &value), KT62_QUERY_INVALID_IDN);
    }
    EXPECT_EQ(VersionText(0x0211), "2.1.1");
}

TEST(UfsConfiguration, UnitEntriesSitWhereTheLayoutSays) {
    const UnitEntry unit{1, 2, 0, 3, 0x01020304, 0, 0x0C, 0, 0, 0x0A0B0C0D};  // unit 1, boot B, enhanced 1
    for (const ConfigLayout& layout : {kConfigLayout2x, kConfigLayout31}) {
        const auto c = MakeConfiguration(layout, true, {UnitEntry{}, unit});
        const std::size_t lu1 = layout == kConfigLayout2x ? 0x20 : 0x30;
        EXPECT_EQ(std::vector<std::uint8_t>(c.begin() + lu1, c.begin() + lu1 + 10),
                  (std::vector<std::uint8_t>{1, 2, 0, 3, 1, 2, 3, 4, 0, 0x0C}));
        EXPECT_EQ(DecodeUnitEntry(layout, c.data(), 1).wb_alloc_units,
                  layout.WriteBooster() ? 0x0A0B0C0Du : 0u);
        EXPECT_EQ(KnownConfigLayout(layout.header_len, layout.unit_len), layout);
    }
    EXPECT_EQ(KnownConfigLayout(0x10, 0x1A), std::nullopt);
}

// A descriptor of `length` zero bytes but its length, its IDN and `bytes` at `offset`; the field
// holding the last of them must read name and meaning.
struct FieldCase {
    std::uint8_t idn, index, length;
    std::uint16_t version;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
    const char *name, *meaning;
};

TEST(UfsFields, FieldsAndMeaningsReadAsWorkedOutByHand) {
    // clang-format off
    const FieldCase cases[] = {
        {0x00, 0, 0x59, 0x0310, 0x10, {0x03, 0x10}, "wSpecVersion", "3.1"},
        {0x01, 0, 0x90, 0, 0x24, {0, 0, 0x10, 0}, "LU1.dNumAllocUnits", ""},
        {0x01, 0, 0xE6, 0, 0x31, {2}, "LU1.bBootLunID", "boot unit B"},
        {0x02, 0, 0x2D, 0, 0x0A, {0x0C}, "bLogicalBlockSize", "4096 bytes"},
        {0x02, 0, 0x2D, 0, 0x0A, {0x0C, 0, 0, 0, 0, 0, 0, 0x20, 0}, "qLogicalBlockCount", "33554432 bytes, 32 MiB"},
        {0x02, 0, 0x23, 0, 0x17, {3}, "bProvisioningType", "thin provisioning, TPRZ 1"},
        {0x02, 0xC4, 0x23, 0x0210, 0x13, {0, 0, 0, 1}, "dEraseBlockSize", ""},
        {0x02, 0xC4, 0x23, 0x0300, 0x09, {1}, "bRPMBRegionEnable", "enabled"},
        {0x07, 0, 0x48, 0, 0x04, {0, 0, 0, 0, 0x04, 0, 0, 0}, "qTotalRawDeviceCapacity", "34359738368 bytes, 32768 MiB"},
        {0x08, 0, 0x62, 0, 0x24, {0x80, 0x64}, "wActiveICCLevelsVCCQ[1]", "100 mA"},
        {0x09, 0, 0x25, 0, 0x03, {0x02}, "bDeviceLifeTimeEstA", "10-20 % used"},
        {0x00, 0, 0x40, 0, 0x3E, {0x07}, "reserved", ""},  // 0x2B to the end: one field
    };
    // clang-format on
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes(c.length, 0);
        bytes[0] = c.length, bytes[1] = c.idn;
        std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(c.offset));
        const std::vector<DecodedField> fields = DecodeDescriptor(c.idn, c.index, bytes, c.version);
        const DecodedField* field = nullptr;
        for (const DecodedField& f : fields)
            if (f.offset < c.offset + c.bytes.size()) field = &f;
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->name, c.name);
        EXPECT_EQ(field->meaning, c.meaning);
    }
}

TEST(UfsParameters, TheRefClockGatingWaitAndHpbsFlagWithHpb) {
    EXPECT_STREQ(AttributeName(0x17), "bRefClkGatingWaitTime");
    EXPECT_STREQ(FlagName(0x12), "fHPBEn");
    EXPECT_EQ(FindFlag(0x12)->feature, Feature::Hpb);
    EXPECT_EQ(FlagName(0x0A), nullptr);
}

}  // namespace
}  // namespace kt::ufs
