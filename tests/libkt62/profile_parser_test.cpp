#include <gtest/gtest.h>

#include "emu/profile.h"

namespace kt62 {
namespace {

struct Bad {
    const char* json;
    const char* key;
    const char* reason;
};

// clang-format off
const Bad kBad[] = {  // the key path points at the offending value; @ stands for the first programmer
    {"   \n", "", "empty"},
    {"\"text\"", "", "must be a JSON object"},
    {R"({"x":1})", "x", "unknown key"},
    {R"({"state_dir":""})", "state_dir", "folder path"},
    {R"({"programmers":[1]})", "programmers[0]", "must be an object"},
    {R"(@"colour":1)", "@.colour", "unknown key"},
    {R"(@"firmware_version":"1.2.3")", "@.firmware_version", "3 numbers"},
    {R"(@"firmware_version":[1,-1,3])", "@.firmware_version[1]", "0 to 255"},
    // Nine characters but seventeen bytes in UTF-8.
    {R"(@"product_name":"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9A")", "@.product_name", "at most 16 bytes"},
    {R"(@"product_version":"1.055")", "@.product_version", "at most 4 bytes"},
    {R"(@"ufs":{"spec_version":"2.5"})", "@.ufs.spec_version", "one of"},
    {R"(@"ufs":{"raw_capacity_bytes":1048577})", "@.ufs.raw_capacity_bytes", "multiple of 512"},
    {R"(@"ufs":{"segment_size_bytes":100})", "@.ufs.segment_size_bytes", "integer from"},
    {R"(@"ufs":{"manufacturer_name":"TOOLONGNAME"})", "@.ufs.manufacturer_name", "at most 8"},
    {R"(@"ufs":{"serial_number":"tab\there"})", "@.ufs.serial_number", "printable ASCII"},
    {R"(@"ufs":{"logical_units":[{},{},{},{},{},{},{},{},{}]})", "@.ufs.logical_units", "at most 8"},
    {R"(@"ufs":{"logical_units":[{"boot_lun_id":3}]})", "@.ufs.logical_units[0].boot_lun_id", "0 to 2"},
    {R"(@"ufs":{"logical_units":[{},{"block_size_exponent":9}]})", "@.ufs.logical_units[1].block_size_exponent", "12 to 16"},
    {R"(@"ufs":{"link":{"lanes":3}})", "@.ufs.link.lanes", "1 to 2"},
    {R"(@"ufs":{"link":{"tx_mode":2,"tx_gear":5}})", "@.ufs.link.tx_gear", "HS gears"},
    {R"(@"faults":{})", "@.faults", "list of fault rules"},
    {R"(@"faults":[{"result":1}])", "@.faults[0].call", "missing"},
    {R"(@"faults":[{"call":"kt62ResultName"}])", "@.faults[0].call", "unknown function"},
    {R"(@"faults":[{"call":"kt62Search"}])", "@.faults[0].call", "top-level"},
    {R"({"faults":[{"call":"kt62UfsReadFlag"}]})", "faults[0].call", "a programmer's faults"},
    {R"({"faults":[{"call":"kt62Search","result":3}]})", "faults[0].result", "give the count as value"},
    {R"({"faults":[{"call":"kt62Open","match":{"idn":1}}]})", "faults[0].match.idn", "not an argument of kt62Open"},
    {R"({"faults":[{"call":"kt62Open","value":1}]})", "faults[0].value", "kt62Open has no output value"},
    {R"(@"faults":[{"call":"kt62UfsReadFlag","match":{"idn":256}}])", "@.faults[0].match.idn", "0 to 255"},
    {R"(@"faults":[{"call":"kt62UfsReadFlag","value":256}])", "@.faults[0].value", "0 to 255"},
    {R"(@"faults":[{"call":"kt62UfsSetFlag","value":1}])", "@.faults[0].value", "has no output"},
    {R"(@"faults":[{"call":"kt62ScsiRead10","match":{"lba_from":9,"lba_to":8}}])", "@.faults[0].match.lba_to", "below lba_from"},
    {R"(@"faults":[{"call":"kt62UfsReadFlag","result":2147483648}])", "@.faults[0].result", "-2147483648 to 2147483647"},
    {R"(@"faults":[{"call":"kt62UfsReadFlag","delay_ms":600001}])", "@.faults[0].delay_ms", "0 to 60000"},
    {R"(@"faults":[{"call":"kt62UfsReadDescriptor","bytes":"1 02"}])", "@.faults[0].bytes", "pairs of hexadecimal digits"},
    {R"(@"faults":[{"call":"kt62GetVersion","bytes":"01 02 03 04 05"}])", "@.faults[0].bytes", "at most 4 fit"},
    {R"(@"faults":[{"call":"kt62GetProduct","name_bytes":"00112233445566778899AABBCCDDEEFF00"}])", "@.faults[0].name_bytes", "at most 16 fit"},
    {R"(@"faults":[{"call":"kt62ScsiReadCapacity","sectors":-1}])", "@.faults[0].sectors", "0 to 4294967295"},
    {"{\"x\\n\":1}", "x\\x0a", "unknown key"},
};
// clang-format on

class BadProfiles : public ::testing::TestWithParam<Bad> {};

TEST_P(BadProfiles, NameTheKeyAndTheReason) {
    const auto expand = [](const char* text, const std::string& before, const std::string& after) {
        return text[0] == '@' ? before + (text + 1) + after : std::string(text);
    };
    const std::string json = expand(GetParam().json, R"({"programmers":[{)", "}]}");
    const ParsedProfile p = ParseProfile(json);
    ASSERT_TRUE(p.error) << json;
    EXPECT_EQ(p.error->key, expand(GetParam().key, "programmers[0]", "")) << json;
    EXPECT_NE(p.error->reason.find(GetParam().reason), std::string::npos)
        << json << "\n  reason: " << p.error->reason;
    EXPECT_TRUE(p.profile.programmers.empty()) << "a refused profile has no programmer";
}

INSTANTIATE_TEST_SUITE_P(Table, BadProfiles, ::testing::ValuesIn(kBad));

// Every value at its limit is taken as written: a limit one too tight refuses a part that exists.
TEST(ProfileLimits, EveryValueAtItsLimitIsTaken) {
    std::string others;
    for (size_t i = 1; i < kMaxProgrammers; ++i) others += ",{}";
    const std::string json =
        R"({"programmers":[{"product_name":"ABCDEFGHIJKLMNOP","product_version":"1.05",)"
        R"("firmware_version":[255,255,255],"ufs":{"spec_version":"4.0","raw_capacity_bytes":2199023255040,"segment_size_bytes":512,)"
        R"("manufacturer_name":"ABCDEFGH","serial_number":")" +
        std::string(126, 'S') +
        R"(",)"
        R"("logical_units":[{"boot_lun_id":2,"block_size_exponent":16},{},{},{},{},{},{},{}],)"
        R"("link":{"lanes":2,"tx_mode":2,"tx_gear":5}},"faults":[)"
        R"({"call":"kt62UfsReadFlag","match":{"idn":255},"value":255,"result":2147483647,"delay_ms":60000},)"
        R"({"call":"kt62ScsiRead10","match":{"lba_from":9,"lba_to":9},"result":-2147483648},)"
        R"({"call":"kt62GetVersion","bytes":"01 02 03 04"},)"
        R"({"call":"kt62GetProduct","name_bytes":"00112233445566778899AABBCCDDEEFF"},)"
        R"({"call":"kt62ScsiReadCapacity","sectors":4294967295}]})" +
        others + "]}";
    const ParsedProfile p = ParseProfile(json);
    ASSERT_FALSE(p.error) << p.error->key << ": " << p.error->reason;
    ASSERT_EQ(p.profile.programmers.size(), kMaxProgrammers);
    const ProgrammerProfile& first = p.profile.programmers[0];
    EXPECT_EQ(first.firmware_version, (std::array<uint8_t, 3>{255, 255, 255}));
    EXPECT_EQ(first.ufs.serial_number, std::string(126, 'S'));
    EXPECT_EQ(first.ufs.logical_units.value_or(std::vector<LogicalUnitProfile>{}).size(), 8u);
    EXPECT_EQ(first.faults.size(), 5u);
}

// Brackets count towards the limit outside strings only.
TEST(ProfileNesting, RefusedBeyondTheLimit) {
    const auto nested = [](int levels, const std::string& inner = "") {
        return R"({"x":)" + std::string(levels - 1, '[') + inner + std::string(levels - 1, ']') + "}";
    };
    const std::string in_string = "\"" + std::string(kMaxNesting, '[') + "\\\"\"";
    for (const std::string& json : {nested(kMaxNesting), nested(2, in_string)}) {
        const ParsedProfile p = ParseProfile(json);
        ASSERT_TRUE(p.error) << json;
        EXPECT_EQ(p.error->reason, "unknown key") << json;
    }
    const ParsedProfile deeper = ParseProfile(nested(kMaxNesting + 1));
    ASSERT_TRUE(deeper.error);
    EXPECT_EQ(deeper.error->reason, "not a profile: nested deeper than 32 levels");
}

}  // namespace
}  // namespace kt62
