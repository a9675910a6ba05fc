// "Get IC INFO" and "Get LUN INfo" against fault-rule answers: the exact
// report, the calls in order, and what a failure at each call leaves.
#include <string>
#include <vector>

#include "tests/support/emulated_dialog.h"

namespace kt {
namespace {

using test::Hex;

std::vector<std::uint8_t> Utf16BeString(const std::string& ascii) {
    std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * ascii.size()), 0x05};
    for (char c : ascii) {
        d.push_back(0);
        d.push_back(static_cast<std::uint8_t>(c));
    }
    return d;
}

// The device behind the IC report, as fault rules that answer every call.
struct IcDevice {
    std::uint8_t manufacturerIndex = 0;
    std::uint8_t productIndex = 1;
    std::uint8_t serialIndex = 2;
    std::vector<std::uint8_t> manufacturer = Utf16BeString("EMUVEND ");
    std::vector<std::uint8_t> product = Utf16BeString("KT-UFS-PART-0016");
    std::vector<std::uint8_t> serial = Utf16BeString("SN0123456789");
    std::uint32_t hsGear = 3;
    std::uint32_t pwmG0 = 1;
    std::uint32_t pwmGear = 4;

    std::string Rules() const {
        std::vector<std::uint8_t> device(64, 0);
        device[0] = 0x40;
        device[0x14] = manufacturerIndex;
        device[0x15] = productIndex;
        device[0x16] = serialIndex;
        std::vector<std::uint8_t> geometry(28, 0);
        geometry[0] = 0x48;
        geometry[1] = 0x07;
        geometry[8] = 0x01;  // 2^24 units of 512 bytes
        geometry[0x10] = 0x20;
        const auto descriptor = [](int idn, int index, const std::vector<std::uint8_t>& bytes) {
            return "{\"call\": \"kt62UfsReadDescriptor\", \"match\": {\"idn\": " + std::to_string(idn) +
                   ", \"index\": " + std::to_string(index) + "}, \"result\": 0, \"bytes\": \"" + Hex(bytes) +
                   "\"}";
        };
        const auto dme = [](int attr, std::uint32_t value) {
            return "{\"call\": \"kt62UfsGetDME\", \"match\": {\"attr_id\": " + std::to_string(attr) +
                   ", \"kind\": 3, \"selector\": 0}, \"result\": 0, \"value\": " + std::to_string(value) +
                   "}";
        };
        return descriptor(0, 0, device) + ", " + descriptor(5, productIndex, product) + ", " +
               descriptor(5, manufacturerIndex, manufacturer) + ", " + descriptor(5, serialIndex, serial) +
               ", " + descriptor(7, 0, geometry) + ", " +
               descriptor(4, 0, {0x06, 0x04, 0x01, 0x60, 0x03, 0x00}) + ", " + dme(0x0002, hsGear) + ", " +
               dme(0x0003, pwmG0) + ", " + dme(0x0004, pwmGear) + ", " + dme(0x1520, 2) + ", " +
               dme(0x1540, 1);
    }
};

// The report of the default IC device: a pane line, or a library call with
// the rule that makes exactly that call fail.
struct Step {
    std::string line;
    std::string call;
    std::string failRule;
};

Step Line(std::string text) { return {std::move(text), {}, {}}; }
Step Call(std::string trace, std::string rule) { return {{}, std::move(trace), std::move(rule)}; }

std::string StringRule(int index, int after) {
    return R"({"call": "kt62UfsReadDescriptor", "match": {"idn": 5, "index": )" + std::to_string(index) +
           R"(}, "after": )" + std::to_string(after) + ", \"times\": 1, \"result\": %R}";
}
std::string DmeRule(int attr) {
    return R"({"call": "kt62UfsGetDME", "match": {"attr_id": )" + std::to_string(attr) +
           R"(}, "result": %R})";
}
std::string DescriptorRule(int idn) {
    return R"({"call": "kt62UfsReadDescriptor", "match": {"idn": )" + std::to_string(idn) +
           R"(}, "result": %R})";
}

std::vector<Step> IcReportSteps() {
    const std::string d = "kt62UfsReadDescriptor ";
    const std::string g = "kt62UfsGetDME ";
    return {
        Call(d + "idn=0 index=0 selector=0 length=64", DescriptorRule(0)),
        Line("Part Number(1):"),
        Call(d + "idn=5 index=1 selector=0 length=2", StringRule(1, 0)),
        Call(d + "idn=5 index=1 selector=0 length=34", StringRule(1, 1)),
        Line("    KT-UFS-PART-0016"),
        Line("Manufacturer Name(0):"),
        Call(d + "idn=5 index=0 selector=0 length=2", StringRule(0, 0)),
        Call(d + "idn=5 index=0 selector=0 length=18", StringRule(0, 1)),
        Line("    EMUVEND "),
        Line("Serial Number(2):"),
        Call(d + "idn=5 index=2 selector=0 length=2", StringRule(2, 0)),
        Call(d + "idn=5 index=2 selector=0 length=26", StringRule(2, 1)),
        Line("    SN0123456789"),
        Line("IC Density:"),
        Call(d + "idn=7 index=0 selector=0 length=28", DescriptorRule(7)),
        Line("    16777216, 0x1000000"),
        Line("      8.000GB"),
        Line("HS GEAR capability:"),
        Call(g + "attr_id=2 selector=0 kind=3", DmeRule(2)),
        Line("    G1 to G3."),
        Line("PWM GEAR capability:"),
        Call(g + "attr_id=3 selector=0 kind=3", DmeRule(3)),
        Call(g + "attr_id=4 selector=0 kind=3", DmeRule(4)),
        Line("    G0 to G4."),
        Line("Support M-PHY version:"),
        Call(d + "idn=4 index=0 selector=0 length=6", DescriptorRule(4)),
        Line("    0300."),
        Line("Available Data Lane:"),
        Call(g + "attr_id=5408 selector=0 kind=3", DmeRule(0x1520)),
        Line("    TX:2."),
        Call(g + "attr_id=5440 selector=0 kind=3", DmeRule(0x1540)),
        Line("    RX:1."),
        Line("\r\n    DONE"),
    };
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) out += (i == 0 ? "" : "\r\n") + lines[i];
    return out;
}

using IcReport = test::EmulatedDialogTest;

TEST_F(IcReport, EveryLineInOrder) {
    OpenWithFaults("[" + IcDevice().Rules() + "]");
    ui_.SetText(IDC_EDIT_LOG, "earlier text");
    std::vector<std::string> lines;
    std::vector<std::string> calls;
    for (const Step& s : IcReportSteps()) {
        if (s.call.empty())
            lines.push_back(s.line);
        else
            calls.push_back(s.call + " -> 0");
    }
    EXPECT_EQ(Click(IDC_BTN_IC_INFO), calls);
    EXPECT_EQ(ui_.Pane(), Joined(lines));
}

// The k-th call fails: the lines before it stay, the failure line follows,
// and nothing more is called.
class IcReportFailure : public test::EmulatedDialogTest, public testing::WithParamInterface<int> {};

TEST_P(IcReportFailure, KeepsEarlierLinesAndStops) {
    const int failing = GetParam();
    // Device failures and library errors in turn, so both texts are seen.
    const int result = failing % 2 == 0 ? -4 : 9;
    const std::string failText = failing % 2 == 0 ? "Command fail scsi err 252." : "Command fail err 9.";
    std::vector<std::string> lines;
    std::vector<std::string> calls;
    std::string rule;
    int call = 0;
    for (const Step& s : IcReportSteps()) {
        if (s.call.empty()) {
            lines.push_back(s.line);
            continue;
        }
        if (call++ < failing) {
            calls.push_back(s.call + " -> 0");
            continue;
        }
        calls.push_back(s.call + " -> " + std::to_string(result));
        rule = s.failRule.substr(0, s.failRule.find("%R")) + std::to_string(result) + "}";
        break;
    }
    ASSERT_FALSE(rule.empty());
    OpenWithFaults("[" + rule + ", " + IcDevice().Rules() + "]");
    ui_.SetText(IDC_EDIT_LOG, "earlier text");
    EXPECT_EQ(Click(IDC_BTN_IC_INFO), calls);
    // The report empties the pane first, so only its own lines stay.
    EXPECT_EQ(ui_.Pane(), Joined(lines) + "\r\n" + failText);
}

INSTANTIATE_TEST_SUITE_P(EachCall, IcReportFailure, testing::Range(0, 14));

// ---- LUN report ----

std::vector<std::uint8_t> UnitBytes(int index, int enable, int boot, int wp, int type, int blockSize,
                                    std::uint64_t blocks) {
    std::vector<std::uint8_t> d(35, 0);
    d[0] = 0x23;
    d[1] = 0x02;
    d[2] = static_cast<std::uint8_t>(index);
    d[3] = static_cast<std::uint8_t>(enable);
    d[4] = static_cast<std::uint8_t>(boot);
    d[5] = static_cast<std::uint8_t>(wp);
    d[8] = static_cast<std::uint8_t>(type);
    d[0x0A] = static_cast<std::uint8_t>(blockSize);
    for (int i = 0; i < 8; ++i) d[0x0B + i] = static_cast<std::uint8_t>(blocks >> (56 - 8 * i));
    return d;
}

// Units 0 and 1 enabled (unit 1 calls itself 6), 2 to 7 disabled.
std::string LunRules() {
    std::vector<std::uint8_t> device(64, 0);
    device[0] = 0x40;
    device[6] = 2;
    device[7] = 4;
    std::string rules = R"({"call": "kt62UfsReadDescriptor", "match": {"idn": 0}, "result": 0, "bytes": ")" +
                        Hex(device) + "\"}";
    for (int n = 0; n < 8; ++n) {
        const auto unit = n == 0   ? UnitBytes(0, 1, 1, 0, 0, 12, 1ull << 20)
                          : n == 1 ? UnitBytes(6, 1, 0, 2, 3, 12, 8192)
                                   : UnitBytes(n, 0, 0, 0, 0, 12, 0);
        rules += R"(, {"call": "kt62UfsReadDescriptor", "match": {"idn": 2, "index": )" + std::to_string(n) +
                 R"(}, "result": 0, "bytes": ")" + Hex(unit) + "\"}";
    }
    return rules;
}

std::vector<std::string> LunCalls(int upTo, int lastResult) {
    std::vector<std::string> calls = {"kt62UfsReadDescriptor idn=0 index=0 selector=0 length=64 -> " +
                                      std::to_string(upTo < 0 ? lastResult : 0)};
    for (int n = 0; n <= std::min(upTo, 7); ++n)
        calls.push_back("kt62UfsReadDescriptor idn=2 index=" + std::to_string(n) +
                        " selector=0 length=35 -> " + std::to_string(n == upTo ? lastResult : 0));
    return calls;
}

const std::string kLunHeader = "NumberLU: 2, NumberWLU: 4\r\n";
const std::string kLun0 = "\r\nLUN0,   4.000GB, Boot1, Normal Memory, No Write Protect.";
const std::string kLun6 = "\r\nLUN6,  32.000MB, Not boot, Enhanced type 1 Memory, Write Protect 2.";

struct LunCase {
    const char* name;
    std::string failRule;
    std::string pane;
    std::vector<std::string> calls;
};

class LunReport : public test::EmulatedDialogTest, public testing::WithParamInterface<LunCase> {};

TEST_P(LunReport, ListsEnabledUnitsUntilAFailure) {
    const LunCase& c = GetParam();
    OpenWithFaults("[" + c.failRule + LunRules() + "]");
    ui_.SetText(IDC_EDIT_LOG, "earlier text");
    EXPECT_EQ(Click(IDC_BTN_LUN_INFO), c.calls);
    EXPECT_EQ(ui_.Pane(), c.pane);
}

// clang-format off
const LunCase kLunCases[] = {
    {"AllEightRead", "", kLunHeader + kLun0 + kLun6 + "\r\n\r\n    DONE", LunCalls(7, 0)},
    {"DeviceDescriptorFails", R"({"call": "kt62UfsReadDescriptor", "match": {"idn": 0}, "result": 7}, )",
     "\r\nCommand fail err 7.", LunCalls(-1, 7)},
    {"UnitOneFails", R"({"call": "kt62UfsReadDescriptor", "match": {"idn": 2, "index": 1}, "result": -4}, )",
     kLunHeader + kLun0 + "\r\nCommand fail scsi err 252.", LunCalls(1, -4)},
    {"UnitFiveFails", R"({"call": "kt62UfsReadDescriptor", "match": {"idn": 2, "index": 5}, "result": -4}, )",
     kLunHeader + kLun0 + kLun6 + "\r\nCommand fail scsi err 252.", LunCalls(5, -4)},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, LunReport, testing::ValuesIn(kLunCases),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace kt
