#include <algorithm>
#include <array>
#include <functional>

#include "device_fixture.h"

namespace kt62test {
namespace {

enum class Op { ReadFlag, SetFlag, ClearFlag, ToggleFlag, ReadAttr, WriteAttr, ReadDesc, WriteDesc, Dme };
using Edit = std::function<void(std::vector<uint8_t>&)>;
struct Step {
    Op op;
    uint8_t idn = 0, index = 0, selector = 0;
    uint32_t value = 0;  // attribute value; DME attribute id
    int32_t expect = KT62_OK;
    Edit edit = nullptr;  // WriteDesc: edits the configuration read back before writing it
};
struct Case {
    const char* name;
    std::vector<Step> steps;
};

Step RF(uint8_t idn, int32_t r) { return {Op::ReadFlag, idn, 0, 0, 0, r}; }
Step SF(uint8_t idn, int32_t r) { return {Op::SetFlag, idn, 0, 0, 0, r}; }
Step CF(uint8_t idn, int32_t r) { return {Op::ClearFlag, idn, 0, 0, 0, r}; }
Step TF(uint8_t idn, int32_t r) { return {Op::ToggleFlag, idn, 0, 0, 0, r}; }
Step RA(uint8_t idn, uint8_t index, uint8_t sel, int32_t r) { return {Op::ReadAttr, idn, index, sel, 0, r}; }
Step WA(uint8_t idn, uint32_t v, int32_t r, uint8_t index = 0, uint8_t sel = 0) {
    return {Op::WriteAttr, idn, index, sel, v, r};
}
Step RD(uint8_t idn, uint8_t index, uint8_t sel, int32_t r) { return {Op::ReadDesc, idn, index, sel, 0, r}; }
Step WD(int32_t r, Edit edit, uint8_t idn = 1, uint8_t index = 0, uint8_t sel = 0) {
    return {Op::WriteDesc, idn, index, sel, 0, r, std::move(edit)};
}
Step DME(uint32_t id, uint8_t sel, uint8_t kind, int32_t r) { return {Op::Dme, 0, kind, sel, id, r}; }
// Unit `lun`: byte `offset` of its block set to v, or (offset 4) its allocation units.
Edit U(int lun, int offset, uint32_t v, Edit then = nullptr) {
    return [=](std::vector<uint8_t>& c) {
        uint8_t* p = c.data() + 0x10 + 16 * lun + offset;
        offset == 4 ? kt::PutBigEndian32(p, v) : void(*p = static_cast<uint8_t>(v));
        if (then) then(c);
    };
}
Edit B(int at, uint8_t v) {
    return [=](std::vector<uint8_t>& c) { c[at] = v; };
}

constexpr int32_t kIdn = KT62_QUERY_INVALID_IDN, kIndex = KT62_QUERY_INVALID_INDEX,
                  kSel = KT62_QUERY_INVALID_SELECTOR, kValue = KT62_QUERY_INVALID_VALUE,
                  kLength = KT62_QUERY_INVALID_LENGTH, kWritten = KT62_QUERY_ALREADY_WRITTEN,
                  kNotWriteable = KT62_QUERY_NOT_WRITEABLE, kNotReadable = KT62_QUERY_NOT_READABLE,
                  kOk = KT62_OK;

// clang-format off
// The default device: UFS 2.1, 32 GiB in 8192 allocation units of 4 MiB, unit 0 over all of it.
const Case kCases[] = {
    {"flag_read", {RF(0x04, kOk), RF(0x01, kOk), RF(0x0B, kOk)}},
    {"flag_reserved_or_later_version", {RF(0x00, kIdn), RF(0x07, kIdn), RF(0x0A, kIdn), RF(0x0E, kIdn), SF(0xFF, kIdn)}},
    {"flag_write_only", {RF(0x06, kNotReadable), SF(0x06, kOk), RF(0x06, kNotReadable)}},
    {"flag_read_only", {SF(0x09, kNotWriteable), CF(0x09, kNotWriteable), TF(0x09, kNotWriteable)}},
    {"flag_set_only", {SF(0x01, kOk), CF(0x01, kNotWriteable), TF(0x01, kNotWriteable)}},
    {"flag_write_once", {CF(0x02, kOk), SF(0x02, kOk), SF(0x02, kWritten), CF(0x02, kWritten), TF(0x02, kWritten)}},
    {"flag_power_on_reset", {TF(0x03, kOk), CF(0x03, kNotWriteable), TF(0x03, kNotWriteable), SF(0x03, kOk)}},
    {"flag_volatile", {CF(0x04, kOk), TF(0x04, kOk), TF(0x05, kOk), SF(0x08, kOk)}},
    {"attribute_read", {RA(0x0B, 0, 0, kOk), RA(0x02, 0, 0, kOk), RA(0x0B, 3, 9, kOk)}},
    {"attribute_reserved", {RA(0x01, 0, 0, kIdn), RA(0x12, 0, 0, kIdn), RA(0x18, 0, 0, kIdn), WA(0xFF, 0, kIdn)}},
    {"attribute_write_only", {RA(0x0F, 0, 0, kNotReadable), WA(0x0F, 12345, kOk)}},
    {"attribute_read_only", {WA(0x02, 0x11, kNotWriteable), WA(0x09, 0, kNotWriteable, 1)}},
    {"attribute_range", {WA(0x03, 0x10, kValue), WA(0x03, 0x0F, kOk), WA(0x0A, 4, kValue), WA(0x0A, 3, kOk), WA(0x00, 3, kValue),
                         WA(0x0C, 3, kValue), WA(0x07, 0, kValue), WA(0x0D, 0x08, kValue), WA(0x0D, 0x07, kOk), WA(0x03, 0x100, kValue)}},
    {"attribute_write_once", {WA(0x0B, 2, kValue), WA(0x0B, 0, kOk), WA(0x0B, 1, kOk), WA(0x0B, 1, kWritten), WA(0x0B, 0, kWritten),
                              WA(0x04, 1, kOk), WA(0x04, 0, kWritten)}},
    {"attribute_per_unit_index", {RA(0x09, 7, 0, kOk), RA(0x09, 8, 0, kIndex), RA(0x09, 0xC4, 0, kIndex)}},
    {"attribute_context_selector", {RA(0x10, 0, 1, kOk), RA(0x10, 0, 0, kSel), RA(0x10, 0, 6, kSel), RA(0x10, 8, 1, kIndex),
                                    WA(0x10, 0x1234, kOk, 2, 5), WA(0x10, 1, kSel, 2, 0)}},
    {"descriptor_read", {RD(0x00, 0, 0, kOk), RD(0x02, 0xC4, 0, kOk), RD(0x05, 4, 0, kOk)}},
    {"descriptor_idn", {RD(0x03, 0, 0, kIdn), RD(0x06, 0, 0, kIdn), RD(0x0A, 0, 0, kIdn), RD(0xFF, 0, 0, kIdn)}},
    {"descriptor_index", {RD(0x02, 8, 0, kIndex), RD(0x02, 0xC5, 0, kIndex), RD(0x05, 5, 0, kIndex), RD(0x01, 1, 0, kIndex),
                          RD(0x00, 1, 0, kIndex), RD(0x07, 1, 0, kIndex)}},
    {"descriptor_selector", {RD(0x00, 0, 1, kSel), RD(0x02, 0, 1, kSel), RD(0x05, 0, 0xFF, kSel)}},
    {"descriptor_write_not_writeable", {WD(kNotWriteable, nullptr, 0x00), WD(kNotWriteable, nullptr, 0x02), WD(kNotWriteable, nullptr, 0x05),
                                        WD(kNotWriteable, nullptr, 0x07), WD(kIdn, nullptr, 0x03), WD(kIdn, nullptr, 0x0C)}},
    {"configuration_write_good", {WD(kOk, U(0, 4, 100))}},
    {"configuration_write_addressing", {WD(kIndex, nullptr, 1, 1), WD(kSel, nullptr, 1, 0, 1)}},
    {"configuration_write_length", {WD(kLength, [](auto& c) { c.push_back(0); }), WD(kLength, [](auto& c) { c.pop_back(); }),
                                    WD(kLength, B(0, 0x91)), WD(kValue, B(1, 0x02))}},
    {"configuration_write_capacity", {WD(kValue, U(0, 4, 8193)),
                                      WD(kValue, U(0, 4, 8000, U(1, 0, 1, U(1, 9, 12, U(1, 4, 193))))),
                                      WD(kOk, U(0, 4, 8000, U(1, 0, 1, U(1, 9, 12, U(1, 4, 192))))),
                                      WD(kValue, U(0, 4, 100, U(1, 0, 1, U(1, 3, 3, U(1, 9, 12, U(1, 4, 513))))))}},
    {"configuration_write_fields", {WD(kValue, U(0, 9, 11)), WD(kValue, U(0, 9, 17)), WD(kValue, U(0, 0, 2)), WD(kValue, U(0, 1, 3)),
                                    WD(kValue, U(0, 2, 3)), WD(kValue, U(0, 3, 7)), WD(kValue, U(0, 10, 1)), WD(kValue, B(0x03, 2)),
                                    WD(kValue, B(0x08, 0x10)), WD(kValue, B(0x06, 1)), WD(kValue, B(0x07, 1)), WD(kOk, B(0x06, 0)),
                                    WD(kOk, B(0x08, 0x0F))}},
    {"configuration_write_boot_units", {WD(kValue, U(0, 4, 100, U(0, 1, 1, U(1, 0, 1, U(1, 1, 1, U(1, 9, 12, U(1, 4, 1))))))),
                                        WD(kOk, U(0, 4, 100, U(0, 1, 1, U(1, 0, 1, U(1, 1, 2, U(1, 9, 12, U(1, 4, 1)))))))}},
    {"configuration_locked", {WA(0x0B, 1, kOk), WD(kNotWriteable, nullptr)}},
    {"dme", {DME(0x1560, 0, 1, kOk), DME(0x0023, 1, 3, kOk), DME(0x00A3, 5, 1, kOk), DME(0x9999, 0, 1, KT62_DME_FAILURE(1)),
             DME(0x11560, 0, 3, KT62_DME_FAILURE(1)), DME(0x1560, 1, 3, KT62_DME_FAILURE(5)), DME(0x0023, 2, 1, KT62_DME_FAILURE(5)),
             DME(0x00A3, 0, 3, KT62_DME_FAILURE(5)), DME(0x00A3, 6, 3, KT62_DME_FAILURE(5)), DME(0x1560, 0, 2, KT62_E_BAD_ARGUMENT)}},
};
// clang-format on

class Conformance : public DeviceTest, public ::testing::WithParamInterface<Case> {};

TEST_P(Conformance, EachRequestAnswersItsResponseCode) {
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
    int n = 0;
    for (const Step& s : GetParam().steps) {
        SCOPED_TRACE("step " + std::to_string(++n) + ", idn " + std::to_string(s.idn));
        uint8_t flag = 0xEE;
        uint32_t value = 0xDEADBEEF;
        std::vector<uint8_t> buf(256, 0xEE), before = Descriptor(1), config = before;
        int32_t r = 0;
        int written = -1;  // for a call with an output: whether it wrote it
        // clang-format off
        switch (s.op) {
            case Op::ReadFlag: r = kt62UfsReadFlag(h_, s.idn, &flag), written = flag != 0xEE; break;
            case Op::SetFlag: r = kt62UfsSetFlag(h_, s.idn); break;
            case Op::ClearFlag: r = kt62UfsClearFlag(h_, s.idn); break;
            case Op::ToggleFlag: r = kt62UfsToggleFlag(h_, s.idn); break;
            case Op::Dme: r = kt62UfsGetDME(h_, s.value, s.selector, s.index, &value); break;
            case Op::ReadAttr: r = kt62UfsReadAttribute(h_, s.idn, s.index, s.selector, &value), written = value != 0xDEADBEEF; break;
            case Op::ReadDesc: r = kt62UfsReadDescriptor(h_, s.idn, s.index, s.selector, buf.data(), 255), written = buf[0] != 0xEE; break;
            case Op::WriteAttr:
                r = kt62UfsWriteAttribute(h_, s.idn, s.index, s.selector, s.value);
                if (r == KT62_OK && s.idn != 0x0F) { EXPECT_EQ(Attribute(s.idn, s.index, s.selector), s.value) << "reads back as written"; }
                break;
            case Op::WriteDesc:
                if (s.edit) s.edit(config);
                r = kt62UfsWriteDescriptor(h_, s.idn, s.index, s.selector, config.data(), static_cast<uint32_t>(config.size()));
                EXPECT_EQ(Descriptor(1), r == KT62_OK && s.idn == 1 ? config : before) << "a refused write changes nothing";
                break;
        }
        // clang-format on
        EXPECT_EQ(r, s.expect);
        EXPECT_TRUE(written < 0 || (written == 1) == (r == KT62_OK)) << "output written only on success";
    }
}

INSTANTIATE_TEST_SUITE_P(Device, Conformance, ::testing::ValuesIn(kCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// The name is a fixed field: the text, then zeros to the end, whatever the caller's buffer held.
TEST_F(DeviceTest, TheProductNameIsAZeroPaddedField) {
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
    std::array<uint8_t, 4> version{};
    std::array<uint8_t, 16> name;
    std::array<uint8_t, 8> extra{};
    name.fill(0xEE);
    ASSERT_EQ(kt62GetProduct(h_, version.data(), name.data(), extra.data()), KT62_OK);
    const auto end = std::find(name.begin(), name.end(), 0);
    EXPECT_NE(end, name.begin()) << "a text";
    EXPECT_NE(end, name.end()) << "padded";
    EXPECT_TRUE(std::all_of(end, name.end(), [](uint8_t b) { return b == 0; }));
}

// Purge runs to completion at once; clearing its flag starts nothing.
TEST_F(DeviceTest, PurgeCompletesAtOnceAndOnlyWhenStarted) {
    ASSERT_NE(OpenDevice(), KT62_INVALID_HANDLE);
    EXPECT_EQ(kt62UfsClearFlag(h_, 0x06), KT62_OK);
    EXPECT_EQ(Attribute(0x06, 0, 0), 0u) << "bPurgeStatus: idle";
    EXPECT_EQ(kt62UfsSetFlag(h_, 0x06), KT62_OK);
    EXPECT_EQ(Attribute(0x06, 0, 0), 3u) << "bPurgeStatus: completed";
}

// Per version: reads are cut or whole; what it lacks is invalid, and so is the other layout's configuration.
using Versions = DeviceTest;

TEST_F(Versions, ReadsAreCutOrWholeAndTheVersionDecidesWhatExists) {
    for (const auto& [version, bcd] :
         {std::pair{"2.1", 0x0210}, {"3.0", 0x0300}, {"3.1", 0x0310}, {"4.0", 0x0400}}) {
        SCOPED_TRACE(version);
        UseProfile(std::string(R"({"programmers":[{"ufs":{"spec_version":")") + version + R"("}}]})",
                   version + std::string(".json"));
        ASSERT_NE(h_ = OpenAfterSearch(0), KT62_INVALID_HANDLE);
        const std::pair<uint8_t, uint8_t> descriptors[] = {{0, 0}, {1, 0}, {2, 0}, {2, 7}, {2, 0xC4},
                                                           {4, 0}, {5, 0}, {5, 1}, {5, 3}, {5, 4},
                                                           {7, 0}, {8, 0}, {9, 0}};
        for (const auto& [idn, index] : descriptors) {
            std::vector<uint8_t> whole(300, 0xEE), part(300, 0xEE);
            ASSERT_EQ(kt62UfsReadDescriptor(h_, idn, index, 0, whole.data(), 300), KT62_OK);
            EXPECT_EQ(whole[1], idn);
            EXPECT_EQ(whole[whole[0]], 0xEE) << "nothing past descriptor " << int(idn) << "/" << int(index);
            ASSERT_EQ(kt62UfsReadDescriptor(h_, idn, index, 0, part.data(), 2), KT62_OK);
            EXPECT_EQ(std::vector<uint8_t>(part.begin(), part.begin() + 3),
                      (std::vector<uint8_t>{whole[0], whole[1], 0xEE}));
        }
        EXPECT_EQ(kt::BigEndian16(Descriptor(0).data() + 0x10), bcd);
        uint8_t flag = 0;
        uint32_t value = 0;
        EXPECT_EQ(kt62UfsReadFlag(h_, 0x0E, &flag), bcd >= 0x0310 ? KT62_OK : kIdn);  // from 3.1
        EXPECT_EQ(kt62UfsReadAttribute(h_, 0x1F, 0, 0, &value), bcd >= 0x0310 ? KT62_OK : kIdn);
        EXPECT_EQ(kt62UfsReadAttribute(h_, 0x2A, 0, 0, &value), bcd >= 0x0400 ? KT62_OK : kIdn);
        EXPECT_EQ(kt62UfsWriteAttribute(h_, 0x0D, 0, 0, 0x7F), bcd >= 0x0300 ? KT62_OK : kValue);
        std::vector<uint8_t> other(Descriptor(1).size() == 0x90 ? 0xE6 : 0x90, 0);
        other[0] = static_cast<uint8_t>(other.size()), other[1] = 0x01;
        EXPECT_EQ(WriteConfig(other), kLength);
        kt62Close(h_);
    }
}

}  // namespace
}  // namespace kt62test
