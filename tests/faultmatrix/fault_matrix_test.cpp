// Each command runs on a fresh emulated device as it is, then once per call and class of result forced.
#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <thread>

#include "common/control_ids.h"
#include "dialog/KT6200DemoDlg.h"
#include "dialog/dialog_template.h"
#include "tests/support/fake_ui_port.h"
#include "tests/support/temp_dir.h"

namespace kt::test {
namespace {

// clang-format off
using Bytes = std::vector<std::uint8_t>;
enum class Forced { Success, Failure, Delay };
struct ResultClass { const char* name; Forced kind; std::int32_t r; };
const ResultClass kClasses[] = {{"success", Forced::Success, 0}, {"status-2", Forced::Failure, -2},
                                {"scsi", Forced::Failure, KT62_SCSI_FAILURE(0x05, 0x24)},
                                {"error4", Forced::Failure, 4}, {"error6", Forced::Failure, 6}, {"delay", Forced::Delay, 0}};

const std::pair<int, const char*> kFields[] = {{IDC_EDIT_IDN, "0"}, {IDC_EDIT_INDEX, "0"}, {IDC_EDIT_SELECTOR, "0"}, {IDC_EDIT_VALUE, "0"},
    {IDC_EDIT_START_SECTOR, "0"}, {IDC_EDIT_SECTOR_COUNT, "16"}, {IDC_EDIT_PACKET_SIZE, "64"}, {IDC_EDIT_DME_REG, "0100"}};
std::string Num(std::int64_t v) { return std::to_string(v); }
std::string Str(const Bytes& b) { return {b.begin(), b.end()}; }
std::string Name(const std::string& call) { return call.substr(0, call.find(' ')); }

// Pane: "" the good run's, '$' "ends with", '~' "holds"; {s} a query's report of the result, {e} a
// one-step report's, {r} the number. Tail: the calls after the forced one, "*" the good run's, "+" it again.
struct Outcome { std::string pane; std::vector<std::string> tail; };
Outcome Stop(std::string pane) { return {std::move(pane), {}}; }
Outcome GoesOn(std::string pane = "") { return {std::move(pane), {"*"}}; }
Outcome Shows(const std::string& part) { return {"~" + part, {"*"}}; }
Outcome FailAfter(const std::string& lead) { return Stop("$" + lead + "\r\nCommand fail {e}."); }
std::string Fill(std::string text, std::int32_t r) {
    const std::string low = "scsi err " + Num(r & 0xFF);
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"{s}", r < 0 ? low : Num(r)},
                                     {"{e}", r < 0 ? low : "err " + Num(r)}, {"{r}", Num(r)}})
        for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, 3, value);
    return text;
}

std::string Hex(const Bytes& b, std::size_t from, std::size_t to) {
    std::string s;
    for (std::size_t i = from; i < to; ++i) s += {"0123456789ABCDEF"[b[i] >> 4], "0123456789ABCDEF"[b[i] & 15], ' '};
    return s;
}
std::string Dump(const Bytes& b) {  // the pane's, 16 bytes a line
    std::string out;
    for (std::size_t at = 0; at < b.size(); at += 16) out += "\r\n" + Hex(b, at, std::min(b.size(), at + 16));
    return out;
}
std::string BytesRule(const Bytes& b) { return R"("bytes": ")" + Hex(b, 0, b.size()).substr(0, b.size() * 3 - 1) + "\""; }
std::string ValueRule(std::uint32_t v) { return R"("value": )" + Num(v); }
Bytes Filled(std::size_t size, std::initializer_list<std::pair<std::size_t, std::uint8_t>> at) {
    Bytes b(size, 0);
    for (const auto& [i, v] : at) b[i] = v;
    return b;
}

struct Step {
    std::string call;
    Outcome fail;
    std::string outputs = "";                   // the success rule's (JSON members)
    std::optional<Outcome> success = {};        // none: as the good run
    bool writes = false;                        // the call that changes the device
    std::optional<Outcome> fail_negative = {};  // a negative result's, where it differs
};
struct CommandRun { std::vector<std::string> setup, calls; std::string pane, before, after; };
enum class Probe { None, Flag, Attribute, Config, Sectors, Firmware };
struct Harness;
using Check = std::function<void(Harness&, const CommandRun&, const ResultClass*, std::size_t k)>;

// 8 GiB in 4 MiB segments as two units, so that a single-unit configuration changes it.
const std::string kDevice = R"("ufs": {"raw_capacity_bytes": 8589934592, "segment_size_bytes": 4194304,
    "manufacturer_name": "FMVEND", "product_name": "FM-PART", "serial_number": "FM0001",
    "logical_units": [{"enable": 1, "alloc_units": 512}, {"enable": 1, "alloc_units": 1024}]})";

struct Command {
    const char* name;
    int id;
    std::vector<Step> steps;
    std::vector<std::pair<int, const char*>> fields = {};
    std::function<void(Harness&)> prepare = {};  // queued answers, device state
    Probe probe = Probe::None;                   // the device state the command may change
    std::string written = "";                    // the probe's answer once a write reached the device
    Check check = {};
    std::string programmer = kDevice;
    DialogMessage message = DialogMessage::Command;
};
// clang-format on

constexpr std::uint8_t kFlag = 0x05;       // fDeviceLifeSpanModeEn: read-write, volatile
constexpr std::uint8_t kAttribute = 0x03;  // bActiveICCLevel: read-write, volatile
constexpr std::uint32_t kSector = 4096, kRange = 16;

std::string Pattern(char seed) {
    std::string b(std::size_t{kRange} * kSector, '\0');
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>(seed + i * 7 + (i >> 12));
    return b;
}

std::string State(Harness& t);  // the probe's answer: the call's result, then what it read

struct Harness {
    explicit Harness(const Command& c) : command(c) {
        setenv("KT62_TRACE", dir.Write("trace.log", "").c_str(), 1);
    }
    ~Harness() {
        CloseAll();
        unsetenv("KT62_EMULATOR");
        unsetenv("KT62_TRACE");
    }
    std::string Path(const std::string& name) const { return dir.Path() + "/" + name; }
    void Queue(const std::string& name, const std::string& content) {
        ui->QueueFile(dir.Write(name, content));
    }
    std::size_t TraceSize() const { return std::filesystem::file_size(Path("trace.log")); }
    std::vector<std::string> TraceLines(std::size_t from, std::size_t to) const {  // without handles
        std::vector<std::string> lines;
        std::istringstream in(TempDir::Read(Path("trace.log")).substr(from, to - from));
        for (std::string line; std::getline(in, line);) {
            if (const std::size_t at = line.find(" h="); at != std::string::npos)
                line.erase(at, line.find(" ", at + 1) - at);
            if (!line.empty()) lines.push_back(line);
        }
        return lines;
    }

    CommandRun RunCommand(const std::string& rule, bool top_level) {
        ui = std::make_unique<FakeUiPort>();
        dlg = std::make_unique<CKT6200DemoDlg>(*ui, Path("prog"));
        for (const auto& [id, text] : kFields) ui->SetText(id, text);
        for (const auto& [id, text] : command.fields) ui->SetText(id, text);
        ui->ListSelect(IDC_COMBO_DME_TYPE, 1);
        ui->ListAppend(IDC_COMBO_DEVICE, "Dev0");
        ui->ListSelect(IDC_COMBO_DEVICE, 0);
        for (const char* left : {"configuration.descr", "out.bin"}) std::filesystem::remove(Path(left));
        state_dir = "state" + Num(runs);
        const std::string profile =
            dir.Write("profile" + Num(runs++) + ".json",
                      R"({"state_dir": ")" + state_dir + R"(", "faults": [)" + (top_level ? rule : "") +
                          R"(], "programmers": [{)" + command.programmer + R"(, "faults": [)" +
                          (top_level ? "" : rule) + "]}]}");
        CommandRun run;
        const std::size_t loaded = TraceSize();
        setenv("KT62_EMULATOR", profile.c_str(), 1);
        EXPECT_EQ(kt62Search(), 1) << profile;
        h = kt62Open(0);
        EXPECT_NE(h, KT62_INVALID_HANDLE) << profile;
        dlg->SetDeviceHandle(h);
        if (command.prepare) command.prepare(*this);
        run.before = State(*this);
        ui->SetText(IDC_EDIT_LOG, "earlier text");
        const std::size_t started = TraceSize();
        dlg->Dispatch(command.message, static_cast<std::uintptr_t>(command.id));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (dlg->TransferRunning() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        run.setup = TraceLines(loaded, started);
        run.calls = TraceLines(started, TraceSize());
        run.pane = ui->Pane();
        run.after = State(*this);
        return run;
    }
    void CloseAll() {
        if (dlg && dlg->DeviceHandle() != KT62_INVALID_HANDLE && dlg->DeviceHandle() != h)
            kt62Close(dlg->DeviceHandle());
        dlg.reset();
        if (h != KT62_INVALID_HANDLE) kt62Close(h);
        h = KT62_INVALID_HANDLE;
    }

    const Command& command;
    TempDir dir;
    int runs = 0;
    std::string state_dir;
    std::unique_ptr<FakeUiPort> ui;
    std::unique_ptr<CKT6200DemoDlg> dlg;
    KT62_HANDLE h = KT62_INVALID_HANDLE;
};

// clang-format off
std::string State(Harness& t) {
    std::uint8_t flag = 0;
    std::uint32_t value = 0;
    std::string b(t.command.probe == Probe::Sectors ? std::size_t{kRange} * kSector : 0x90, '\0');
    auto* data = reinterpret_cast<std::uint8_t*>(b.data());
    std::int32_t r = 0;
    switch (t.command.probe) {
        case Probe::Flag: r = kt62UfsReadFlag(t.h, kFlag, &flag); return Num(r) + "/" + Num(flag);
        case Probe::Attribute: r = kt62UfsReadAttribute(t.h, kAttribute, 0, 0, &value); return Num(r) + "/" + Num(value);
        case Probe::Config: r = kt62UfsReadDescriptor(t.h, 0x01, 0, 0, data, 0x90); break;
        case Probe::Sectors: r = kt62ScsiRead10(t.h, 0, kSector, data, kRange); break;
        case Probe::Firmware: return Num(std::filesystem::exists(t.Path(t.state_dir + "/programmer0.firmware")));
        case Probe::None: return "";
    }
    return Num(r) + "/" + b;
}

// What "CFG 1 LUN" writes for this device: all 2048 allocation units to unit 0, enabled or not.
Bytes SingleUnitConfig(bool enabled) {
    return Filled(0x90, {{0x00, 0x90}, {0x01, 0x01}, {0x05, 0x01}, {0x06, 0x7F}, {0x10, enabled}, {0x16, 0x08}, {0x19, 0x0C}});
}
const std::string kProvisioned = "write descriptor done.\r\nPlease reset VARNEL.";
const Outcome kLocked = Stop("Configuration descriptor is locked.");
const Outcome kCommandFail = Stop("earlier text\r\nCommand fail {e}.");

void CheckOpen(Harness& t, const CommandRun&, const ResultClass* c, std::size_t k) {
    const bool failure = c && c->kind == Forced::Failure;
    EXPECT_EQ(t.dlg->DeviceHandle() == KT62_INVALID_HANDLE, failure && (k == 1 || k == 2 || (k == 0 && c->r < 0)));
    EXPECT_EQ(t.ui->ListCount(IDC_COMBO_DEVICE), failure && k == 0 ? std::max(0, c->r) : 1);
}
// The file a command saves when the pane ends with `done`: the device's data, or the rule's at step k.
Check Saves(const char* file, const char* done, std::size_t k, std::string given) {
    return [=](Harness& t, const CommandRun& r, const ResultClass* c, std::size_t forced) {
        const bool saved = r.pane.ends_with(done);
        EXPECT_EQ(std::filesystem::exists(t.Path(file)), saved);
        if (saved) { EXPECT_TRUE(TempDir::Read(t.Path(file)) == (c && c->kind == Forced::Success && forced == k ? given : r.before.substr(2))); }
    };
}

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = [] {
        // A failed close leaves the programmer open, and so locked: the open fails.
        std::vector<Step> open = {{"kt62Search", GoesOn(), "", {}, false, Outcome{"Fail to open disk.", {"kt62Close", "kt62Open"}}},
                                  {"kt62Close", {"Fail to open disk.", {"kt62Open"}}}, {"kt62Open", Stop("Fail to open disk.")}};
        std::vector<Step> product_only = open;
        // Without a version the product answers.
        open.push_back({"kt62GetVersion", {"KT6200 Ver:1.05", {"kt62GetProduct"}}, R"("bytes": "01 02 03")", Stop("Firmware version: 1.2.3")});
        product_only.push_back({"kt62GetVersion", GoesOn(), R"("bytes": "01 02 03")", Stop("Firmware version: 1.2.3")});
        product_only.push_back({"kt62GetProduct", Stop("Fail to get version {r}."),
                                R"("name_bytes": "46 4D 2D 50", "version_bytes": "32 2E 30 31")", Stop("FM-P Ver:2.01")});
        const Bytes inquiry = Filled(192, {{1, 0x80}, {2, 0x06}, {3, 0x02}, {4, 0x1F}});
        Bytes forced(0x90, 0xA5);  // a configuration descriptor a rule gives
        forced[0] = 0x90, forced[1] = 0x01;
        // A flag command on fDeviceLifeSpanModeEn, set or cleared before.
        const auto flag = [](const char* name, int id, const char* call, const char* label, const char* done, bool set) {
            return Command{name, id, {{call, Stop(std::string("Fail to UFS ") + label + " Flag {s}."), "", Stop(std::string("Flag(05h) ") + done + "."), true}},
                           {{IDC_EDIT_IDN, "5"}}, [set](Harness& t) { ASSERT_EQ(set ? kt62UfsSetFlag(t.h, kFlag) : kt62UfsClearFlag(t.h, kFlag), 0); },
                           Probe::Flag, set ? "0/0" : "0/1"};
        };
        // "CFG 1 LUN": lock (a failed read goes ahead), geometry (2^24 units in 2^13-unit segments), write.
        const auto provisioning = [](const char* name, int id, bool enabled) {
            const Bytes geometry = Filled(28, {{0, 0x48}, {1, 0x07}, {0x08, 0x01}, {0x0F, 0x20}, {0x11, 1}});
            return Command{name, id, {{"kt62UfsReadAttribute", GoesOn(), ValueRule(1), kLocked},
                                      {"kt62UfsReadDescriptor", kCommandFail, BytesRule(geometry)},
                                      {"kt62UfsWriteDescriptor", Stop("Fail to UFS Write Descriptor {s}."), "", Stop(kProvisioned), true}},
                           {}, {}, Probe::Config, "0/" + Str(SingleUnitConfig(enabled))};
        };
        // "Get Work mode": Tx mode, rate, gear, then Rx's; mode 1 (PWM) reads the PWM gear, 1 on an HS link.
        std::vector<Step> work_mode;
        for (const auto& [v, tx, rx] : {std::tuple{1u, "PWM-G1B", "HS-G3B"}, {1u, "HS-G3A", "HS-G3B"}, {7u, "HS-G7B", "HS-G3B"},
                                        {1u, "HS-G3B", "PWM-G1B"}, {1u, "HS-G3B", "HS-G3A"}, {7u, "HS-G3B", "HS-G7B"}})
            work_mode.push_back({"kt62UfsGetDME", kCommandFail, ValueRule(v), GoesOn(std::string("Power Mode:\r\n    Tx: ") + tx + "\r\n    Rx: " + rx)});
        // "Get IC INFO": each failure line follows the last line the report wrote.
        const Bytes header = {0x0A, 0x05}, abcd = {0x0A, 0x05, 0, 'A', 0, 'B', 0, 'C', 0, 'D'};
        const auto desc = [](const std::string& lead, const Bytes& b, const std::string& shown) {
            return Step{"kt62UfsReadDescriptor", FailAfter(lead), BytesRule(b), Shows(lead + "\r\n    " + shown)};
        };
        const auto dme = [](const std::string& lead, std::uint32_t v, const std::string& shown) {
            return Step{"kt62UfsGetDME", FailAfter(lead), ValueRule(v), Shows(shown)};
        };
        const std::vector<Step> ic_info = {
            {"kt62UfsReadDescriptor", Stop("\r\nCommand fail {e}."), BytesRule(Filled(64, {{0, 0x40}, {0x14, 2}, {0x16, 1}})),
             Shows("Part Number(0):\r\n    FMVEND  \r\nManufacturer Name(2):\r\n    FM0001\r\nSerial Number(1):")},
            desc("Part Number(1):", header, "FM-P\r\n"), desc("Part Number(1):", abcd, "ABCD\r\n"),
            desc("Manufacturer Name(0):", header, "FMVE\r\n"), desc("Manufacturer Name(0):", abcd, "ABCD\r\n"),
            desc("Serial Number(2):", header, "FM00\r\n"), desc("Serial Number(2):", abcd, "ABCD\r\n"),
            desc("IC Density:", Filled(28, {{0x0B, 0xFF}}), "255, 0xFF\r\n      0.000GB\r\n"),
            dme("HS GEAR capability:", 0, "HS GEAR capability:\r\nPWM GEAR capability:\r\n"),
            dme("PWM GEAR capability:", 1, "PWM GEAR capability:\r\n    G0 to G7.\r\n"),
            dme("PWM GEAR capability:", 0, "PWM GEAR capability:\r\nSupport M-PHY version:\r\n"),
            desc("Support M-PHY version:", {0x06, 0x04, 0x01, 0x60, 0x04, 0x10}, "0410.\r\n"),
            dme("Available Data Lane:", 9, "    TX:9.\r\n    RX:2."), dme("    TX:2.", 9, "    TX:2.\r\n    RX:9.")};
        // "Get LUN INfo": device descriptor, units 0 to 7; the forced unit: 8192 blocks of 4 KiB as unit 9.
        const std::string lines[] = {"NumberLU: 2, NumberWLU: 4\r\n", "LUN0,   2.000GB, Not boot, Normal Memory, No Write Protect.",
                                     "LUN1,   4.000GB, Not boot, Normal Memory, No Write Protect."};
        const Bytes unit = Filled(35, {{0, 0x23}, {1, 0x02}, {2, 9}, {3, 1}, {4, 2}, {5, 2}, {8, 6}, {0x0A, 12}, {0x11, 0x20}});
        std::vector<Step> lun_info = {{"kt62UfsReadDescriptor", Stop("\r\nCommand fail {e}."),
                                       BytesRule(Filled(64, {{0, 0x40}, {6, 7}, {7, 1}})), Shows("NumberLU: 7, NumberWLU: 1\r\n")}};
        for (int n = 0; n < 8; ++n)
            lun_info.push_back({"kt62UfsReadDescriptor", FailAfter(lines[std::min(n, 2)]), BytesRule(unit),
                                Shows("LUN9,  32.000MB, Boot2, Enhanced type 4 Memory, Write Protect 2.")});
        // Packet size (its result unread), capacity, one chunk of 16 sectors whose failure is retried.
        const auto transfer = [](const char* name, int id, bool reading, Check check) {
            const std::string progress = reading ? "left 0 sectors. \r\nRetried 1 times." : "left 0 sectors. \nRetried 1 times.";
            return Command{name, id, {{"kt62SetPacketSize", GoesOn()},
                                      {"kt62ScsiReadCapacity", Stop("Fail to scsi read capacity {r}."), R"("sectors": 10, "sector_size": 4096)", Stop("out of range.")},
                                      {reading ? "kt62ScsiRead10" : "kt62ScsiWrite10", {progress + "\r\nTakes ?s to trans 0MB(?MB/Sec)\r\nDone.", {"+", "*"}}, "", {}, !reading}},
                           {}, [reading](Harness& t) {
                               const std::string data = Pattern(reading ? 'r' : 'o');
                               ASSERT_EQ(kt62ScsiWrite10(t.h, 0, kSector, reinterpret_cast<const std::uint8_t*>(data.data()), kRange), 0);
                               reading ? t.ui->QueueFile(t.Path("out.bin")) : t.Queue("in.bin", Pattern('w'));
                           }, Probe::Sectors, "0/" + Pattern('w'), std::move(check)};
        };
        return std::vector<Command>{
            {"OpenStep", IDOK, open, {}, {}, {}, "", CheckOpen},
            {"OpenStepProductOnly", IDOK, product_only, {}, {}, {}, "", CheckOpen, kDevice + R"(, "get_version_supported": false)"},
            {"Inquiry", IDC_BTN_INQUIRY, {{"kt62ScsiInquiry", Stop("Fail to scsi inquiry {r}."), BytesRule({0x00, 0x80, 0x06, 0x02, 0x1F}),
                                           Stop("scsi inquiry done." + Dump(inquiry))}}},
            {"Capacity", IDC_BTN_CAPACITY, {{"kt62ScsiReadCapacity", Stop("Fail to scsi read capacity {r}."), R"("sectors": 1000000, "sector_size": 512)",
                                             Stop("1000000 sectors. 512 bytes per sector.\r\n  488.28MB.")}}},
            {"FlagRead", IDC_BTN_FLAG_READ, {{"kt62UfsReadFlag", Stop("Fail to UFS Read Flag {s}."), ValueRule(0x80), Stop("Flag(05h) = 1")}}, {{IDC_EDIT_IDN, "5"}}},
            flag("FlagSet", IDC_BTN_FLAG_SET, "kt62UfsSetFlag", "Set", "set", false),
            flag("FlagClear", IDC_BTN_FLAG_CLEAR, "kt62UfsClearFlag", "Clear", "clear", true),
            flag("FlagToggle", IDC_BTN_FLAG_TOGGLE, "kt62UfsToggleFlag", "Toggle", "toggle", false),
            {"AttributeRead", IDC_BTN_ATTR_READ, {{"kt62UfsReadAttribute", Stop("Fail to UFS Read Attribute {s}."), ValueRule(0xFFFFFFFFu),
                                                   Stop("Attriubte(03h) = 0xFFFFFFFF")}}, {{IDC_EDIT_IDN, "3"}}},
            {"AttributeWrite", IDC_BTN_ATTR_WRITE, {{"kt62UfsWriteAttribute", Stop("Fail to UFS Write Attribute {s}."), "", Stop("Attriubte(03h) written."), true}},
             {{IDC_EDIT_IDN, "3"}, {IDC_EDIT_VALUE, "5"}}, [](Harness& t) { ASSERT_EQ(kt62UfsWriteAttribute(t.h, kAttribute, 0, 0, 0), 0); }, Probe::Attribute, "0/5"},
            // A forced second read shows and saves the rule's bytes.
            {"DescriptorRead", IDC_BTN_DESC_READ, {{"kt62UfsReadDescriptor", Stop("Fail to UFS Read Descriptor {s}."), R"("bytes": "90 01")"},
                                                   {"kt62UfsReadDescriptor", Stop("Fail to ufs read decriptor {r}."), BytesRule(forced),
                                                    Stop("ufs descriptor read done." + Dump(forced) + "\r\nSaved.")}},
             {{IDC_EDIT_IDN, "1"}}, {}, Probe::Config, "", Saves("configuration.descr", "\r\nSaved.", 1, Str(forced))},
            {"DescriptorWrite", IDC_BTN_DESC_WRITE, {{"kt62UfsReadAttribute", GoesOn(), ValueRule(1), kLocked},
                                                     {"kt62UfsWriteDescriptor", Stop("Fail to UFS Write Descriptor {s}."), "",
                                                      Stop("write descriptor done. Press \"Reset\" button to make it effective."), true}},
             {{IDC_EDIT_IDN, "1"}}, [](Harness& t) { t.Queue("single.descr", Str(SingleUnitConfig(true))); }, Probe::Config, "0/" + Str(SingleUnitConfig(true))},
            provisioning("Cfg1Lun", IDC_BTN_CFG_1_LUN, true),
            provisioning("Cfg1LunDisabled", IDC_BTN_CFG_1_LUN_DISABLED, false),
            {"WorkMode", IDC_BTN_WORK_MODE, work_mode},
            {"IcInfo", IDC_BTN_IC_INFO, ic_info},
            {"LunInfo", IDC_BTN_LUN_INFO, lun_info},
            {"DmeRead", IDC_BTN_DME_READ, {{"kt62UfsGetDME", Stop("Fail to UFS Get DME {s}."), ValueRule(0x12), Stop("Get DME PEER (1520h) = 0x00000012")}},
             {{IDC_EDIT_DME_REG, "1520"}}},
            // A window close closes the device, whatever the close answers, and ends the dialog.
            {"WindowClose", 0, {{"kt62Close", Stop("earlier text")}}, {}, {}, {}, "", [](Harness& t, const CommandRun&, const ResultClass*, std::size_t) {
                 EXPECT_EQ(t.ui->EndResult(), IDCANCEL);
                 EXPECT_EQ(t.dlg->DeviceHandle(), KT62_INVALID_HANDLE);
             }, kDevice, DialogMessage::Close},
            // A reset brings the volatile flag back to its power-on value.
            {"Reset", IDC_BUTTON_RESET, {{"kt62UfsReset", Stop("earlier text"), "", Stop("earlier text"), true}},
             {}, [](Harness& t) { ASSERT_EQ(kt62UfsSetFlag(t.h, kFlag), 0); }, Probe::Flag, "0/0"},
            // Whatever the result, the programmer is to be picked again.
            {"Update", IDC_BUTTON_UPDATE, {{"kt62Update", Stop("Command fail err {r}."), "", Stop("Command done.\r\nPlease wait device restart."), true}},
             {}, [](Harness& t) { t.Queue("fw.bin", TempDir::Read(KT_FIRMWARE_IMAGE)); }, Probe::Firmware, "1",
             [](Harness& t, const CommandRun&, const ResultClass*, std::size_t) { EXPECT_EQ(t.ui->ListSelection(IDC_COMBO_DEVICE), -1); }},
            // A read that ran holds the device's sectors or, when a rule answered it, zeros.
            transfer("ReadSectors", IDC_BTN_READ_SECTORS, true,
                     Saves("out.bin", "\r\nDone.", 2, std::string(kRange * kSector, '\0'))),
            transfer("WriteSectors", IDC_BTN_WRITE_SECTORS, false, {})};
    }();
    return commands;
}

std::string RuleFor(const CommandRun& good, std::size_t k, const Step& step, const ResultClass& cls) {
    const std::string name = Name(good.calls[k]);
    std::size_t after = 0;
    for (const std::string& c : good.setup) after += Name(c) == name;
    for (std::size_t j = 0; j < k; ++j) after += Name(good.calls[j]) == name;
    std::string body = R"("result": )" + Num(cls.r);
    if (cls.kind == Forced::Delay)
        body = R"("delay_ms": 30)";
    else if (name == "kt62Search")  // a search answers a count, no result
        body = R"("value": )" + Num(cls.kind == Forced::Success ? 1 : cls.r);
    else if (cls.kind == Forced::Success)
        body += step.outputs.empty() ? "" : ", " + step.outputs;
    return R"({"call": ")" + name + R"(", "after": )" + Num(static_cast<std::int64_t>(after)) + R"(, "times": 1, )" + body + "}";
}
// clang-format on

class FaultMatrix : public testing::TestWithParam<std::size_t> {};

TEST_P(FaultMatrix, EveryCallEveryResult) {
    const Command& command = Commands()[GetParam()];
    Harness t(command);
    const CommandRun good = t.RunCommand("", false);
    std::vector<std::string> names, step_names;
    for (const std::string& c : good.calls) names.push_back(Name(c));
    for (const Step& s : command.steps) step_names.push_back(s.call);
    ASSERT_EQ(names, step_names) << "the good run's calls changed:\n" << testing::PrintToString(good.calls);
    const bool writes =
        std::any_of(command.steps.begin(), command.steps.end(), [](const Step& s) { return s.writes; });
    EXPECT_EQ(good.after, writes ? command.written : good.before) << "the good run's effect on the device";
    if (command.check) command.check(t, good, nullptr, 0);
    t.CloseAll();

    for (std::size_t k = 0; k < command.steps.size(); ++k) {
        const Step& step = command.steps[k];
        for (const ResultClass& cls : kClasses) {
            SCOPED_TRACE(std::string(command.name) + ": call " + Num(static_cast<std::int64_t>(k)) + " (" +
                         good.calls[k] + ") forced " + cls.name);
            const bool top_level =
                step.call == "kt62Search" || step.call == "kt62Open" || step.call == "kt62SetPacketSize";
            const CommandRun run = t.RunCommand(RuleFor(good, k, step, cls), top_level);
            const Outcome want = cls.kind == Forced::Failure
                                     ? (cls.r < 0 && step.fail_negative ? *step.fail_negative : step.fail)
                                 : cls.kind == Forced::Success && step.success ? *step.success
                                                                               : GoesOn();
            // The throughput line's figures depend on the clock.
            static const std::regex takes("Takes [^\r\n]*? to trans ([^\r\n]*?)MB\\([^)\r\n]*\\)");
            const std::string pane = want.pane.empty() ? good.pane : Fill(want.pane, cls.r);
            const std::string got = std::regex_replace(run.pane, takes, "Takes ?s to trans $1MB(?MB/Sec)");
            const bool matches =
                pane[0] == '$'   ? got.ends_with(pane.substr(1))
                : pane[0] == '~' ? got.find(pane.substr(1)) != std::string::npos
                                 : got == std::regex_replace(pane, takes, "Takes ?s to trans $1MB(?MB/Sec)");
            EXPECT_TRUE(matches) << got << "\n-- is not --\n" << pane;
            // The device changes only when a write reached it (a forced call reaches it only when delayed).
            std::vector<std::string> expected(names.begin(), names.begin() + static_cast<long>(k) + 1),
                actual;
            bool reached = cls.kind == Forced::Delay && step.writes;
            for (std::size_t j = 0; j < k; ++j) reached |= command.steps[j].writes;
            for (const std::string& item : want.tail) {
                if (item.size() > 1) expected.push_back(item);  // a call of no step
                for (std::size_t j = item == "+" ? k : k + 1;
                     item.size() == 1 && j < (item == "+" ? k + 1 : names.size()); ++j) {
                    expected.push_back(names[j]);
                    reached |= command.steps[j].writes;
                }
            }
            for (const std::string& c : run.calls) actual.push_back(Name(c));
            EXPECT_EQ(run.setup.size(), good.setup.size());
            EXPECT_EQ(actual, expected) << testing::PrintToString(run.calls);
            for (std::size_t j = 0; j <= k && j < run.calls.size(); ++j)
                EXPECT_EQ(run.calls[j].substr(0, run.calls[j].find(" -> ")),
                          good.calls[j].substr(0, good.calls[j].find(" -> ")));
            for (const ControlEntry& c : MainDialogTemplate().controls)
                EXPECT_TRUE(c.id == IDC_STATIC || t.ui->IsControlEnabled(c.id)) << c.name;
            EXPECT_FALSE(t.dlg->TransferRunning());
            EXPECT_EQ(t.dlg->Transfer().RunningFlag(), 0);
            EXPECT_TRUE(t.ui->Timers().empty());
            EXPECT_EQ(run.after, reached ? command.written : run.before) << "the device state";
            if (command.check) command.check(t, run, &cls, k);
            t.CloseAll();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultMatrix, testing::Range<std::size_t>(0, Commands().size()),
                         [](const testing::TestParamInfo<std::size_t>& i) {
                             return Commands()[i.param].name;
                         });

}  // namespace
}  // namespace kt::test
