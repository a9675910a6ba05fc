// Flag, attribute and DME commands against fault-rule answers: each
// command's success text, both failure forms, the width rule (8 bits sent,
// the whole value printed), and fields that hold no number.
#include <optional>
#include <utility>

#include "tests/support/emulated_dialog.h"

namespace kt {
namespace {

struct QueryCase {
    const char* name;
    int command;
    std::vector<std::pair<int, const char*>> fields;
    const char* faults;
    std::string pane;
    std::vector<std::string> calls;
    std::optional<int> dmeSelection = std::nullopt;
};

class QueryCommands : public test::EmulatedDialogTest, public testing::WithParamInterface<QueryCase> {};

TEST_P(QueryCommands, ShowOneMessageAndSendTheLowByte) {
    const QueryCase& c = GetParam();
    OpenWithFaults(c.faults);
    for (const auto& [id, text] : c.fields) ui_.SetText(id, text);
    if (c.dmeSelection) ui_.ListSelect(IDC_COMBO_DME_TYPE, *c.dmeSelection);
    ui_.SetText(IDC_EDIT_LOG, "earlier text");
    EXPECT_EQ(Click(c.command), c.calls);
    EXPECT_EQ(ui_.Pane(), c.pane);
}

// clang-format off
const QueryCase kQueryCases[] = {
    {"FlagReadSet", IDC_BTN_FLAG_READ, {{IDC_EDIT_IDN, "5"}},
     R"([{"call": "kt62UfsReadFlag", "match": {"idn": 5}, "result": 0, "value": 1}])",
     "Flag(05h) = 1", {"kt62UfsReadFlag idn=5 -> 0"}},
    {"FlagReadAnyNonZeroIsOne", IDC_BTN_FLAG_READ, {{IDC_EDIT_IDN, "5"}},
     R"([{"call": "kt62UfsReadFlag", "result": 0, "value": 128}])",
     "Flag(05h) = 1", {"kt62UfsReadFlag idn=5 -> 0"}},
    {"FlagReadZeroIsZero", IDC_BTN_FLAG_READ, {{IDC_EDIT_IDN, "0x0e"}},
     R"([{"call": "kt62UfsReadFlag", "result": 0, "value": 0}])",
     "Flag(0Eh) = 0", {"kt62UfsReadFlag idn=14 -> 0"}},
    {"FlagReadScsiError", IDC_BTN_FLAG_READ, {{IDC_EDIT_IDN, "5"}},
     R"([{"call": "kt62UfsReadFlag", "result": -2}])",
     "Fail to UFS Read Flag scsi err 254.", {"kt62UfsReadFlag idn=5 -> -2"}},
    {"FlagClear", IDC_BTN_FLAG_CLEAR, {{IDC_EDIT_IDN, "0X0E"}},
     R"([{"call": "kt62UfsClearFlag", "result": 0}])",
     "Flag(0Eh) clear.", {"kt62UfsClearFlag idn=14 -> 0"}},
    {"FlagClearLibraryError", IDC_BTN_FLAG_CLEAR, {{IDC_EDIT_IDN, "6"}},
     R"([{"call": "kt62UfsClearFlag", "result": 7}])",
     "Fail to UFS Clear Flag 7.", {"kt62UfsClearFlag idn=6 -> 7"}},
    {"FlagSetWideIdn", IDC_BTN_FLAG_SET, {{IDC_EDIT_IDN, "1FF"}},
     R"([{"call": "kt62UfsSetFlag", "result": 0}])",
     "Flag(1FFh) set.", {"kt62UfsSetFlag idn=255 -> 0"}},
    {"FlagSetScsiError", IDC_BTN_FLAG_SET, {{IDC_EDIT_IDN, "3"}},
     R"([{"call": "kt62UfsSetFlag", "result": -1}])",
     "Fail to UFS Set Flag scsi err 255.", {"kt62UfsSetFlag idn=3 -> -1"}},
    {"FlagToggle", IDC_BTN_FLAG_TOGGLE, {{IDC_EDIT_IDN, "12G"}},
     R"([{"call": "kt62UfsToggleFlag", "result": 0}])",
     "Flag(12h) toggle.", {"kt62UfsToggleFlag idn=18 -> 0"}},
    {"FlagToggleLibraryError", IDC_BTN_FLAG_TOGGLE, {{IDC_EDIT_IDN, "3"}},
     R"([{"call": "kt62UfsToggleFlag", "result": 3}])",
     "Fail to UFS Toggle Flag 3.", {"kt62UfsToggleFlag idn=3 -> 3"}},
    {"AttributeRead", IDC_BTN_ATTR_READ, {{IDC_EDIT_IDN, "B"}},
     R"([{"call": "kt62UfsReadAttribute", "match": {"idn": 11}, "result": 0, "value": 1}])",
     "Attriubte(0Bh) = 0x00000001", {"kt62UfsReadAttribute idn=11 index=0 selector=0 -> 0"}},
    {"AttributeReadWideFields", IDC_BTN_ATTR_READ,
     {{IDC_EDIT_IDN, "10B"}, {IDC_EDIT_INDEX, "1FF"}, {IDC_EDIT_SELECTOR, "102"}},
     R"([{"call": "kt62UfsReadAttribute", "result": 0, "value": 4294967295}])",
     "Attriubte(10Bh) = 0xFFFFFFFF", {"kt62UfsReadAttribute idn=11 index=255 selector=2 -> 0"}},
    {"AttributeReadScsiError", IDC_BTN_ATTR_READ, {{IDC_EDIT_IDN, "B"}},
     R"([{"call": "kt62UfsReadAttribute", "result": -10}])",
     "Fail to UFS Read Attribute scsi err 246.", {"kt62UfsReadAttribute idn=11 index=0 selector=0 -> -10"}},
    {"AttributeWrite", IDC_BTN_ATTR_WRITE, {{IDC_EDIT_IDN, "3"}, {IDC_EDIT_VALUE, "ABCDEF"}},
     R"([{"call": "kt62UfsWriteAttribute", "result": 0}])",
     "Attriubte(03h) written.", {"kt62UfsWriteAttribute idn=3 index=0 selector=0 value=11259375 -> 0"}},
    {"AttributeWriteScsiError", IDC_BTN_ATTR_WRITE, {{IDC_EDIT_IDN, "3"}},
     R"([{"call": "kt62UfsWriteAttribute", "result": -5}])",
     "Fail to UFS Write Attribute scsi err 251.",
     {"kt62UfsWriteAttribute idn=3 index=0 selector=0 value=0 -> -5"}},
    {"DmePeerByDefault", IDC_BTN_DME_READ, {},
     R"([{"call": "kt62UfsGetDME", "result": 0, "value": 18}])",
     "Get DME PEER (0100h) = 0x00000012", {"kt62UfsGetDME attr_id=256 selector=0 kind=3 -> 0"}},
    {"DmeLocal", IDC_BTN_DME_READ, {{IDC_EDIT_DME_REG, "1568"}},
     R"([{"call": "kt62UfsGetDME", "match": {"kind": 1}, "result": 0, "value": 3735928559}])",
     "Get DME (1568h) = 0xDEADBEEF", {"kt62UfsGetDME attr_id=5480 selector=0 kind=1 -> 0"}, 0},
    {"DmeNoSelectionReadsPeer", IDC_BTN_DME_READ, {{IDC_EDIT_DME_REG, "1FFFF"}},
     R"([{"call": "kt62UfsGetDME", "result": 0, "value": 1}])",
     "Get DME PEER (1FFFFh) = 0x00000001", {"kt62UfsGetDME attr_id=131071 selector=0 kind=3 -> 0"}, -1},
    {"DmeScsiError", IDC_BTN_DME_READ, {},
     R"([{"call": "kt62UfsGetDME", "result": -1}])",
     "Fail to UFS Get DME scsi err 255.", {"kt62UfsGetDME attr_id=256 selector=0 kind=3 -> -1"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, QueryCommands, testing::ValuesIn(kQueryCases),
                         [](const testing::TestParamInfo<QueryCase>& i) {
                             return std::string(i.param.name);
                         });

// A field without a number, or one the call cannot take, refuses the command before the device
// sees it.
struct RefusalCase {
    const char* name;
    int command;
    int field;
    const char* text;
    const char* label;
    const char* reason = "enter a hexadecimal number";
};

class FieldRefusal : public test::EmulatedDialogTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(FieldRefusal, NamesTheFieldAndSendsNothing) {
    const RefusalCase& c = GetParam();
    // Every call would succeed: only the refusal can keep them away.
    OpenWithFaults(R"([{"call": "kt62UfsReadAttribute", "result": 0, "value": 0},
                       {"call": "kt62UfsWriteDescriptor", "result": 0}])");
    ui_.SetText(IDC_EDIT_IDN, "1");
    ui_.SetText(c.field, c.text);
    ui_.QueueFile(dir_.Write("d.descr", std::string("\x02\x01", 2)));
    EXPECT_TRUE(Click(c.command).empty());
    EXPECT_EQ(ui_.Pane(), std::string("Invalid ") + c.label + ": " + c.reason + ". Nothing was sent.");
    EXPECT_FALSE(ChooserOpened());
}

const RefusalCase kRefusalCases[] = {
    {"FlagReadEmptyIdn", IDC_BTN_FLAG_READ, IDC_EDIT_IDN, "", "IDN(hex)"},
    {"FlagSetLetterIdn", IDC_BTN_FLAG_SET, IDC_EDIT_IDN, "G1", "IDN(hex)"},
    {"AttributeReadBadIndex", IDC_BTN_ATTR_READ, IDC_EDIT_INDEX, "Z", "Index(hex)"},
    {"AttributeWriteEmptyValue", IDC_BTN_ATTR_WRITE, IDC_EDIT_VALUE, "", "Value(hex)"},
    {"AttributeWriteValueOver32Bits", IDC_BTN_ATTR_WRITE, IDC_EDIT_VALUE, "100000002", "Value(hex)",
     "more than 32 bits"},
    {"DescriptorReadEmptyIdn", IDC_BTN_DESC_READ, IDC_EDIT_IDN, "", "IDN(hex)"},
    {"DescriptorWriteEmptySelector", IDC_BTN_DESC_WRITE, IDC_EDIT_SELECTOR, "", "selector(hex)"},
    {"DmeEmptyRegister", IDC_BTN_DME_READ, IDC_EDIT_DME_REG, "", "REG(hex)"},
};

INSTANTIATE_TEST_SUITE_P(Table, FieldRefusal, testing::ValuesIn(kRefusalCases),
                         [](const testing::TestParamInfo<RefusalCase>& i) {
                             return std::string(i.param.name);
                         });

}  // namespace
}  // namespace kt
