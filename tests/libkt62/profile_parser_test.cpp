// The profile parser and the configuration source, from the inside.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>

#include "config.h"
#include "profile.h"
#include "tests/support/temp_dir.h"

namespace kt62 {
namespace {

TEST(ProfileParser, FullProfileKeepsEveryValue) {
    const ParsedProfile p = ParseProfile(R"({
      "state_dir": "dev.state",
      "programmers": [{
          "firmware_version": [1, 2, 3], "get_version_supported": false,
          "product_name": "KT6200", "product_version": "1.05",
          "ufs": {
            "spec_version": "2.1", "raw_capacity_bytes": 8589934592, "segment_size_bytes": 4194304,
            "allocation_unit_segments": 1, "manufacturer_name": "EMUVEND", "product_name": "EMU-UFS",
            "serial_number": "0001", "config_descr_lock": 1,
            "logical_units": [{ "enable": 1, "boot_lun_id": 0, "write_protect": 0, "memory_type": 0,
                                "block_size_exponent": 12, "alloc_units": 2048 }, {}],
            "link": { "tx_mode": 2, "tx_gear": 3, "tx_rate_series": 2,
                      "rx_mode": 1, "rx_gear": 7, "rx_rate_series": 1, "lanes": 2 }
          },
          "faults": [{ "call": "kt62UfsReadFlag", "match": { "idn": 5 }, "after": 2, "times": 1,
                       "result": -2, "value": 1, "delay_ms": 10 }]
      }],
      "faults": [{ "call": "kt62Open", "match": { "position": -1 }, "result": 4 }]
    })");
    ASSERT_FALSE(p.error) << p.error->key << ": " << p.error->reason;
    EXPECT_EQ(p.profile.state_dir, "dev.state");
    ASSERT_EQ(p.profile.programmers.size(), 1u);
    const ProgrammerProfile& prog = p.profile.programmers[0];
    EXPECT_EQ(prog.firmware_version, (std::array<uint8_t, 3>{1, 2, 3}));
    EXPECT_FALSE(prog.get_version_supported);
    const UfsProfile& ufs = prog.ufs;
    EXPECT_EQ(ufs.spec_version, "2.1");
    EXPECT_EQ(ufs.raw_capacity_bytes, 8589934592u);
    EXPECT_EQ(ufs.segment_size_bytes, 4194304u);
    EXPECT_EQ(ufs.config_descr_lock, 1);
    ASSERT_TRUE(ufs.logical_units);
    ASSERT_EQ(ufs.logical_units->size(), 2u);
    EXPECT_EQ((*ufs.logical_units)[0].alloc_units, 2048u);
    EXPECT_FALSE((*ufs.logical_units)[1].enable) << "absent keys stay absent for the device model";
    ASSERT_TRUE(ufs.link);
    EXPECT_EQ(ufs.link->rx_gear, 7);
    ASSERT_EQ(prog.faults.size(), 1u);
    const FaultRule& r = prog.faults[0];
    EXPECT_EQ(r.call, Fn::UfsReadFlag);
    EXPECT_EQ(r.match[static_cast<size_t>(MatchKey::Idn)], 5);
    EXPECT_EQ(r.after, 2u);
    EXPECT_EQ(r.times, 1u);
    EXPECT_EQ(r.result, -2);
    EXPECT_EQ(r.outputs.value, 1);
    EXPECT_EQ(r.delay_ms, 10u);
    ASSERT_EQ(p.profile.faults.size(), 1u);
    EXPECT_EQ(p.profile.faults[0].match[static_cast<size_t>(MatchKey::Position)], -1);
}

TEST(ProfileParser, DefaultsApplyToAbsentKeys) {
    const ParsedProfile p = ParseProfile(R"({"programmers":[{}]})");
    ASSERT_FALSE(p.error);
    const ProgrammerProfile& prog = p.profile.programmers.at(0);
    EXPECT_EQ(prog.firmware_version, (std::array<uint8_t, 3>{1, 0, 0}));
    EXPECT_TRUE(prog.get_version_supported);
    EXPECT_EQ(prog.product_name, "KT6200");
    EXPECT_EQ(prog.product_version, "1.05");
    EXPECT_FALSE(p.profile.state_dir);
    EXPECT_EQ(ParseProfile("{}").profile.programmers.size(), 1u);
    EXPECT_EQ(ParseProfile(R"({"programmers":[]})").profile.programmers.size(), 0u);
}

struct Bad {
    const char* json;
    const char* key;
    const char* reason;
};

// One row per check: the key path must point at the offending value.
const Bad kBad[] = {
    {"   \n", "", "empty"},
    {"{", "", "not valid JSON"},
    {"{} {}", "", "not valid JSON"},
    {"\"text\"", "", "must be a JSON object"},
    {R"({"x":1})", "x", "unknown key"},
    {R"({"state_dir":""})", "state_dir", "folder path"},
    {R"({"state_dir":5})", "state_dir", "folder path"},
    {R"({"programmers":[1]})", "programmers[0]", "must be an object"},
    {R"({"programmers":[{"colour":1}]})", "programmers[0].colour", "unknown key"},
    {R"({"programmers":[{"firmware_version":"1.2.3"}]})", "programmers[0].firmware_version", "3 numbers"},
    {R"({"programmers":[{"firmware_version":[1,2,3,4]}]})", "programmers[0].firmware_version", "3 numbers"},
    {R"({"programmers":[{"firmware_version":[1,-1,3]}]})", "programmers[0].firmware_version[1]", "0 to 255"},
    {R"({"programmers":[{"firmware_version":[1,2.5,3]}]})", "programmers[0].firmware_version[1]", "integer"},
    {R"({"programmers":[{"get_version_supported":1}]})", "programmers[0].get_version_supported",
     "true or false"},
    {R"({"programmers":[{"product_name":null}]})", "programmers[0].product_name", "at most 16 bytes"},
    // Nine characters but seventeen bytes in UTF-8.
    {R"({"programmers":[{"product_name":"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9A"}]})",
     "programmers[0].product_name", "at most 16 bytes"},
    {R"({"programmers":[{"product_version":"1.055"}]})", "programmers[0].product_version", "at most 4 bytes"},
    {R"({"programmers":[{"ufs":[]}]})", "programmers[0].ufs", "must be an object"},
    {R"({"programmers":[{"ufs":{"spec":"2.1"}}]})", "programmers[0].ufs.spec", "unknown key"},
    {R"({"programmers":[{"ufs":{"spec_version":"2.5"}}]})", "programmers[0].ufs.spec_version", "one of"},
    {R"({"programmers":[{"ufs":{"raw_capacity_bytes":1048577}}]})", "programmers[0].ufs.raw_capacity_bytes",
     "multiple of 512"},
    {R"({"programmers":[{"ufs":{"raw_capacity_bytes":0}}]})", "programmers[0].ufs.raw_capacity_bytes",
     "integer from"},
    {R"({"programmers":[{"ufs":{"segment_size_bytes":100}}]})", "programmers[0].ufs.segment_size_bytes",
     "integer from"},
    {R"({"programmers":[{"ufs":{"allocation_unit_segments":0}}]})",
     "programmers[0].ufs.allocation_unit_segments", "from 1 to 255"},
    {R"({"programmers":[{"ufs":{"manufacturer_name":"TOOLONGNAME"}}]})",
     "programmers[0].ufs.manufacturer_name", "at most 8"},
    {R"({"programmers":[{"ufs":{"serial_number":"tab\there"}}]})", "programmers[0].ufs.serial_number",
     "printable ASCII"},
    {R"({"programmers":[{"ufs":{"config_descr_lock":2}}]})", "programmers[0].ufs.config_descr_lock",
     "0 to 1"},
    {R"({"programmers":[{"ufs":{"logical_units":[{},{},{},{},{},{},{},{},{}]}}]})",
     "programmers[0].ufs.logical_units", "at most 8"},
    {R"({"programmers":[{"ufs":{"logical_units":[{"boot_lun_id":3}]}}]})",
     "programmers[0].ufs.logical_units[0].boot_lun_id", "0 to 2"},
    {R"({"programmers":[{"ufs":{"logical_units":[{},{"block_size_exponent":9}]}}]})",
     "programmers[0].ufs.logical_units[1].block_size_exponent", "12 to 16"},
    {R"({"programmers":[{"ufs":{"logical_units":[{"alloc_units":4294967296}]}}]})",
     "programmers[0].ufs.logical_units[0].alloc_units", "0 to 4294967295"},
    {R"({"programmers":[{"ufs":{"link":{"lanes":3}}}]})", "programmers[0].ufs.link.lanes", "1 to 2"},
    {R"({"programmers":[{"ufs":{"link":{"tx_mode":2,"tx_gear":5}}}]})", "programmers[0].ufs.link.tx_gear",
     "HS gears"},
    {R"({"programmers":[{"ufs":{"link":{"rx_mode":3}}}]})", "programmers[0].ufs.link.rx_mode", "1 to 2"},
    {R"({"programmers":[{"faults":{}}]})", "programmers[0].faults", "list of fault rules"},
    {R"({"programmers":[{"faults":[{"result":1}]}]})", "programmers[0].faults[0].call", "missing"},
    {R"({"programmers":[{"faults":[{"call":"kt62Frobnicate"}]}]})", "programmers[0].faults[0].call",
     "unknown function"},
    {R"({"programmers":[{"faults":[{"call":"kt62ResultName"}]}]})", "programmers[0].faults[0].call",
     "unknown function"},
    {R"({"programmers":[{"faults":[{"call":"kt62Search"}]}]})", "programmers[0].faults[0].call", "top-level"},
    {R"({"faults":[{"call":"kt62UfsReadFlag"}]})", "faults[0].call", "a programmer's faults"},
    {R"({"faults":[{"call":"kt62Search","result":3}]})", "faults[0].result", "give the count as value"},
    {R"({"faults":[{"call":"kt62Open","match":{"idn":1}}]})", "faults[0].match.idn",
     "not an argument of kt62Open"},
    {R"({"faults":[{"call":"kt62Open","match":{"positon":1}}]})", "faults[0].match.positon", "unknown key"},
    {R"({"faults":[{"call":"kt62Open","value":1}]})", "faults[0].value", "kt62Open has no output value"},
    {R"({"programmers":[{"faults":[{"call":"kt62UfsReadFlag","match":{"idn":256}}]}]})",
     "programmers[0].faults[0].match.idn", "0 to 255"},
    {R"({"programmers":[{"faults":[{"call":"kt62UfsReadFlag","match":[5]}]}]})",
     "programmers[0].faults[0].match", "must be an object"},
    {R"({"programmers":[{"faults":[{"call":"kt62UfsReadFlag","value":256}]}]})",
     "programmers[0].faults[0].value", "0 to 255"},
    {R"({"programmers":[{"faults":[{"call":"kt62UfsSetFlag","value":1}]}]})",
     "programmers[0].faults[0].value", "has no output"},
    {R"({"programmers":[{"faults":[{"call":"kt62ScsiRead10","match":{"lba_from":9,"lba_to":8}}]}]})",
     "programmers[0].faults[0].match.lba_to", "below lba_from"},
    {R"({"programmers":[{"faults":[{"call":"kt62UfsReadFlag","times":-1}]}]})",
     "programmers[0].faults[0].times", "integer from 0"},
    {R"({"programmers":[{"faults":[{"call":"kt62UfsReadFlag","result":2147483648}]}]})",
     "programmers[0].faults[0].result", "-2147483648 to 2147483647"},
    {R"({"programmers":[{"faults":[{"call":"kt62UfsReadFlag","delay_ms":600001}]}]})",
     "programmers[0].faults[0].delay_ms", "0 to 60000"},
    {R"({"programmers":[{"faults":[{"call":"kt62UfsReadDescriptor","bytes":"1 02"}]}]})",
     "programmers[0].faults[0].bytes", "pairs of hexadecimal digits"},
    {R"({"programmers":[{"faults":[{"call":"kt62UfsReadDescriptor","bytes":42}]}]})",
     "programmers[0].faults[0].bytes", "hex string"},
    {R"({"programmers":[{"faults":[{"call":"kt62GetVersion","bytes":"01 02 03 04 05"}]}]})",
     "programmers[0].faults[0].bytes", "at most 4 fit"},
    {R"({"programmers":[{"faults":[{"call":"kt62GetProduct","name_bytes":"00112233445566778899AABBCCDDEEFF00"}]}]})",
     "programmers[0].faults[0].name_bytes", "at most 16 fit"},
    {R"({"programmers":[{"faults":[{"call":"kt62ScsiReadCapacity","sectors":-1}]}]})",
     "programmers[0].faults[0].sectors", "0 to 4294967295"},
    {R"({"programmers":[{"faults":[{"call":"kt62UfsReadFlag","colour":1}]}]})",
     "programmers[0].faults[0].colour", "unknown key"},
    {"{\"x\\n\":1}", "x\\x0a", "unknown key"},
};

class BadProfiles : public ::testing::TestWithParam<Bad> {};

TEST_P(BadProfiles, NameTheKeyAndTheReason) {
    const ParsedProfile p = ParseProfile(GetParam().json);
    ASSERT_TRUE(p.error) << GetParam().json;
    EXPECT_EQ(p.error->key, GetParam().key) << GetParam().json;
    EXPECT_NE(p.error->reason.find(GetParam().reason), std::string::npos)
        << GetParam().json << "\n  reason: " << p.error->reason;
    EXPECT_TRUE(p.profile.programmers.empty()) << "a refused profile has no programmer";
}

// Named after the key path, so that a failure says which row.
std::string RowName(const ::testing::TestParamInfo<Bad>& info) {
    std::string name = "row" + std::to_string(info.index) + "_";
    for (const char* p = info.param.key; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, BadProfiles, ::testing::ValuesIn(kBad), RowName);

TEST(ProfileParser, HostileInputIsRefusedNotFatal) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string deep_in_string = "{\"state_dir\":\"" + std::string(1000, '[') + "\"}";
    EXPECT_TRUE(ParseProfile(deep).error);
    EXPECT_FALSE(ParseProfile(deep_in_string).error) << "brackets inside a text do not nest";
    EXPECT_TRUE(ParseProfile(std::string("{\"a\":\0}", 7)).error);
    EXPECT_TRUE(ParseProfile("\xff\xfe{}").error);
    EXPECT_TRUE(ParseProfile(R"({"programmers":[{"firmware_version":[1e308,0,0]}]})").error);
    EXPECT_TRUE(ParseProfile(R"({"programmers":[{"firmware_version":[18446744073709551616,0,0]}]})").error);
}

TEST(ProfileParser, HexBytes) {
    struct Case {
        const char* text;
        std::optional<std::vector<uint8_t>> bytes;
    };
    const Case cases[] = {
        {"", std::vector<uint8_t>{}},
        {"10 05 00 41", std::vector<uint8_t>{0x10, 0x05, 0x00, 0x41}},
        {"100500aF", std::vector<uint8_t>{0x10, 0x05, 0x00, 0xAF}},
        {"  ff\t0a  ", std::vector<uint8_t>{0xFF, 0x0A}},
        {"1", std::nullopt},
        {"1 0", std::nullopt},
        {"100", std::nullopt},
        {"0x10", std::nullopt},
        {"zz", std::nullopt},
        {"10,05", std::nullopt},
        {"10\n05", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseHexBytes(c.text), c.bytes) << '"' << c.text << '"';
}

TEST(ProfileParser, MessageNamesFileKeyAndReason) {
    EXPECT_EQ(ProfileMessage("/p.json", {"programmers[0].faults[2].after", "bad"}),
              "/p.json: programmers[0].faults[2].after: bad");
    EXPECT_EQ(ProfileMessage("/p.json", {"", "the file is empty"}), "/p.json: the file is empty");
}

TEST(StateFolders, ProfileRelativeAndDefault) {
    EXPECT_EQ(ProfileStateDir("/a/b/dev.json", std::nullopt), "/a/b/dev.json.state");
    EXPECT_EQ(ProfileStateDir("/a/b/dev.json", "st"), "/a/b/st");
    EXPECT_EQ(ProfileStateDir("/a/b/dev.json", "../st"), "/a/b/../st");
    EXPECT_EQ(ProfileStateDir("/a/b/dev.json", "/abs/st"), "/abs/st");

    const char* home = std::getenv("HOME");
    const std::string saved_home = home ? home : "";
    setenv("HOME", "/home/someone", 1);
    setenv("XDG_DATA_HOME", "/xdg", 1);
    EXPECT_EQ(DefaultStateDir(), "/xdg/kt6200/emulator");
    setenv("XDG_DATA_HOME", "relative/xdg", 1);
    EXPECT_EQ(DefaultStateDir(), "/home/someone/.local/share/kt6200/emulator");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(DefaultStateDir(), "/home/someone/.local/share/kt6200/emulator");
    if (home) setenv("HOME", saved_home.c_str(), 1);
}

TEST(ConfigSource, LoadsOnceUntilAskedToLookForChanges) {
    kt::test::TempDir dir;
    const std::string path = dir.Write("p.json", R"({"programmers":[{}]})");
    setenv("KT62_EMULATOR", path.c_str(), 1);
    ConfigSource source;
    const auto first = source.Get(false);
    EXPECT_EQ(first->programmers.size(), 1u) << "the first use loads";
    EXPECT_EQ(source.Get(true), first) << "unchanged: the same load";

    dir.Write("p.json", R"({"programmers":[{},{}]})");
    EXPECT_EQ(source.Get(false), first) << "only a search looks for changes";
    const auto second = source.Get(true);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->programmers.size(), 2u);

    unsetenv("KT62_EMULATOR");
    EXPECT_EQ(source.Get(true)->programmers.size(), 1u);
}

}  // namespace
}  // namespace kt62
