// The fault matrix: every command of the dialog that reaches the library is
// run once on a good emulated device, which gives its sequence of library
// calls (from the call trace); then, for each call k of that sequence and
// each class of result (success forced through a rule, a negative device
// status, a SCSI-style status, two library errors, a delay with the real
// answer), the command runs again with a fault rule that hits exactly call
// k. Each run must end with the text the command's own rules give for that
// result at that step (the tables below), leave the controls usable, make
// no library call after a call that ends the command, and leave the device
// as it was when the command stopped before its write.
//
// One process per command; the profile is written anew for every case, so
// the rules' counters start from zero each time.
#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/control_ids.h"
#include "dialog/KT6200DemoDlg.h"
#include "tests/support/fake_ui_port.h"
#include "tests/support/temp_dir.h"

namespace kt::test {
namespace {

// ---- result classes ----

enum class Forced { Success, Failure, Delay };

struct ResultClass {
    const char* name;
    Forced kind;
    std::int32_t r;  // the failure's result code
};

constexpr std::int32_t kScsiStatus = KT62_SCSI_FAILURE(0x05, 0x24);  // ILLEGAL REQUEST, invalid field

const ResultClass kClasses[] = {
    {"success", Forced::Success, 0},        {"status-2", Forced::Failure, -2},
    {"scsi", Forced::Failure, kScsiStatus}, {"error4", Forced::Failure, 4},
    {"error6", Forced::Failure, 6},         {"delay", Forced::Delay, 0},
};

constexpr int kDelayMs = 30;

// ---- the texts the commands' rules give ----

std::string Num(std::int64_t v) { return std::to_string(v); }

// A query command's report of a failed call.
std::string Status(const std::string& label, std::int32_t r) {
    if (r < 0) return "Fail to " + label + " scsi err " + Num(r & 0xFF) + ".";
    return "Fail to " + label + " " + Num(r) + ".";
}
// A one-step report's failure line.
std::string CommandFail(std::int32_t r) {
    if (r < 0) return "Command fail scsi err " + Num(r & 0xFF) + ".";
    return "Command fail err " + Num(r) + ".";
}

std::string HexLine(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to) {
    std::string line;
    for (std::size_t i = from; i < to; ++i) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X ", bytes[i]);
        line += two;
    }
    return line;
}
// The pane's hex dump of bytes, 16 a line, each line on its own.
std::string Dump(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    for (std::size_t at = 0; at < bytes.size(); at += 16)
        out += "\r\n" + HexLine(bytes, at, std::min(bytes.size(), at + 16));
    return out;
}
std::string HexText(const std::vector<std::uint8_t>& bytes) {
    std::string t = HexLine(bytes, 0, bytes.size());
    if (!t.empty()) t.pop_back();
    return t;
}

// The throughput line's figures depend on the clock: "Takes 0.012s to trans
// 0MB(0.000MB/Sec)" compares as "Takes ?s to trans 0MB(?MB/Sec)".
std::string Normalize(const std::string& pane) {
    std::string out;
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = pane.find("\r\n", at);
        std::string line = pane.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.rfind("Takes ", 0) == 0) {
            const std::size_t trans = line.find(" to trans ");
            const std::size_t mb = line.find("MB(");
            if (trans != std::string::npos && mb != std::string::npos)
                line = "Takes ?s" + line.substr(trans, mb + 3 - trans) + "?MB/Sec)";
        }
        out += line;
        if (end == std::string::npos) return out;
        out += "\r\n";
        at = end + 2;
    }
}

// ---- the tables ----

// What a case must end with.
enum class Match {
    Whole,     // the pane is the text
    End,       // the pane ends with it (the lines before are the report so far)
    Contains,  // a report that went on holds it
};

struct Outcome {
    std::string pane;  // "" stands for the good run's pane
    Match match = Match::Whole;
    // The calls after the forced one, by function name; kRest stands for
    // the rest of the good run, kAgain for the forced call made once more.
    std::vector<std::string> tail;
};

const std::string kRest = "*rest";
const std::string kAgain = "*again";

Outcome Stop(std::string pane) { return {std::move(pane), Match::Whole, {}}; }
Outcome StopAfter(std::string endOfPane) { return {std::move(endOfPane), Match::End, {}}; }
Outcome GoesOn(std::string pane) { return {std::move(pane), Match::Whole, {kRest}}; }
Outcome GoesOnShowing(std::string part) { return {std::move(part), Match::Contains, {kRest}}; }

struct Step {
    std::string call;
    std::function<Outcome(std::int32_t r)> fail;
    // The success rule's outputs (JSON members; "" for none) and what
    // follows; no outcome: the same as the good run.
    std::string outputs;
    std::optional<Outcome> success;
    bool writes = false;  // the call that changes the device's state
};

struct CaseInfo {
    std::size_t k = 0;
    const ResultClass* cls = nullptr;  // nullptr on the good run
};

class Harness;

struct Command {
    const char* name;
    int id;
    std::string programmer;  // further members of the programmer object
    std::vector<Step> steps;
    // Fields, queued answers and device state before the command runs.
    std::function<void(Harness&)> prepare = {};
    // The device state the command may change (none when absent).
    std::function<std::string(Harness&)> probe = {};
    // Puts the device back after a case that changed it.
    std::function<void(Harness&, const std::string&)> restore = {};
    // Checks of the command's own beyond the pane and the calls.
    std::function<void(Harness&, const CaseInfo&)> check = {};
    bool transfer = false;
    bool ownStateDir = false;  // a state folder per case (the firmware update restarts the programmer)
    DialogMessage message = DialogMessage::Command;  // how the command reaches the dialog (id: its control)
};

// ---- one run of a command ----

struct CommandRun {
    std::vector<std::string> setup;  // the harness's calls since the profile was read
    std::vector<std::string> calls;  // the command's calls
    std::string pane;
    std::string before, after;  // probe results
};

// The trace lines from byte offset `from` on, without handle numbers.
std::vector<std::string> TraceLines(const std::string& trace, std::size_t from, std::size_t to) {
    std::vector<std::string> lines;
    std::size_t at = from;
    while (at < to) {
        std::size_t end = trace.find('\n', at);
        if (end == std::string::npos || end > to) end = to;
        std::string line = trace.substr(at, end - at);
        at = end + 1;
        if (const std::size_t h = line.find(" h="); h != std::string::npos) {
            const std::size_t stop = line.find(' ', h + 1);
            line.erase(h, stop == std::string::npos ? std::string::npos : stop - h);
        }
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string Name(const std::string& call) { return call.substr(0, call.find(' ')); }
std::string Request(const std::string& call) { return call.substr(0, call.find(" -> ")); }

constexpr int kLockable[] = {IDC_BTN_READ_SECTORS,
                             IDC_BTN_WRITE_SECTORS,
                             IDC_BTN_ATTR_READ,
                             IDC_BTN_ATTR_WRITE,
                             IDC_BTN_DESC_READ,
                             IDC_BTN_DESC_WRITE,
                             IDC_BTN_FLAG_READ,
                             IDC_BTN_FLAG_CLEAR,
                             IDC_BTN_FLAG_SET,
                             IDC_BTN_FLAG_TOGGLE,
                             IDC_BTN_INQUIRY,
                             IDC_BTN_CAPACITY,
                             IDOK,
                             IDC_COMBO_DEVICE,
                             IDCANCEL};

class Harness {
public:
    explicit Harness(const Command& command) : command_(command) {
        trace_ = dir_.Path() + "/trace.log";
        setenv("KT62_TRACE", trace_.c_str(), 1);
    }
    ~Harness() {
        CloseAll();
        unsetenv("KT62_EMULATOR");
        unsetenv("KT62_TRACE");
    }
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    // Runs the command once: with no rule (the good run) or with one rule.
    CommandRun RunCommand(const std::string& rule, bool topLevel) {
        ui_ = std::make_unique<FakeUiPort>();
        dlg_ = std::make_unique<CKT6200DemoDlg>(*ui_, dir_.Path() + "/prog");
        dlg_->m_strAppDir = dir_.Path() + "/";
        ui_->SetText(IDC_EDIT_IDN, "0");
        ui_->SetText(IDC_EDIT_INDEX, "0");
        ui_->SetText(IDC_EDIT_SELECTOR, "0");
        ui_->SetText(IDC_EDIT_VALUE, "0");
        ui_->SetText(IDC_EDIT_DME_REG, "0100");
        ui_->ListSelect(IDC_COMBO_DME_TYPE, 1);
        ui_->ListAppend(IDC_COMBO_DEVICE, "Dev0");
        ui_->ListSelect(IDC_COMBO_DEVICE, 0);

        CommandRun run;
        stateDir_ = command_.ownStateDir ? "state" + Num(profiles_) : "state";
        const std::string profile =
            dir_.Write("profile" + Num(profiles_++) + ".json",
                       R"({"state_dir": ")" + stateDir_ + R"(", "faults": [)" + (topLevel ? rule : "") +
                           R"(], "programmers": [{)" + command_.programmer + R"(, "faults": [)" +
                           (topLevel ? "" : rule) + "]}]}");
        const std::size_t loaded = TraceSize();
        setenv("KT62_EMULATOR", profile.c_str(), 1);
        EXPECT_EQ(kt62Search(), 1) << profile;
        h_ = kt62Open(0);
        EXPECT_NE(h_, KT62_INVALID_HANDLE) << profile;
        dlg_->m_hDevice = h_;
        if (command_.prepare) command_.prepare(*this);
        if (command_.probe) run.before = command_.probe(*this);
        ui_->SetText(IDC_EDIT_LOG, "earlier text");

        const std::size_t started = TraceSize();
        dlg_->Dispatch(command_.message, static_cast<std::uintptr_t>(command_.id));
        if (command_.transfer) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (dlg_->TransferRunning() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            EXPECT_FALSE(dlg_->TransferRunning()) << "the transfer did not end";
        }
        const std::string trace = TempDir::Read(trace_);
        run.setup = TraceLines(trace, loaded, started);
        run.calls = TraceLines(trace, started, trace.size());
        run.pane = ui_->Pane();
        if (command_.probe) run.after = command_.probe(*this);
        return run;
    }

    // The configuration descriptor of the device as the profile makes it.
    std::vector<std::uint8_t> ReadOriginalConfig() {
        const std::string profile = dir_.Write(
            "profile-bare.json", R"({"state_dir": "state", "programmers": [{)" + command_.programmer + "}]}");
        setenv("KT62_EMULATOR", profile.c_str(), 1);
        EXPECT_EQ(kt62Search(), 1) << profile;
        const KT62_HANDLE h = kt62Open(0);
        std::vector<std::uint8_t> config(0x90);
        EXPECT_EQ(kt62UfsReadDescriptor(h, 0x01, 0, 0, config.data(), 0x90), 0);
        kt62Close(h);
        return config;
    }

    // The controls a command leaves: every command control enabled, no
    // transfer, no cancel timer.
    void ExpectControlsIdle() {
        for (int id : kLockable) EXPECT_TRUE(ui_->IsControlEnabled(id)) << "control " << id;
        EXPECT_FALSE(dlg_->TransferRunning());
        EXPECT_EQ(dlg_->Transfer().m_bRunning.load(), 0);
        EXPECT_TRUE(ui_->Timers().empty());
    }

    void CloseAll() {
        if (dlg_) {
            const KT62_HANDLE d = dlg_->m_hDevice.load();
            if (d != KT62_INVALID_HANDLE && d != h_) kt62Close(d);
            dlg_.reset();
        }
        if (h_ != KT62_INVALID_HANDLE) kt62Close(h_);
        h_ = KT62_INVALID_HANDLE;
    }

    std::size_t TraceSize() const {
        std::error_code ec;
        const auto size = std::filesystem::file_size(trace_, ec);
        return ec ? 0 : static_cast<std::size_t>(size);
    }

    KT62_HANDLE h() const { return h_; }
    FakeUiPort& ui() { return *ui_; }
    CKT6200DemoDlg& dlg() { return *dlg_; }
    const TempDir& dir() const { return dir_; }
    std::string Path(const std::string& name) const { return dir_.Path() + "/" + name; }
    std::string StateDir() const { return dir_.Path() + "/" + stateDir_; }

    // What the configuration descriptor held before any case.
    std::vector<std::uint8_t> originalConfig;

private:
    const Command& command_;
    TempDir dir_;
    std::string trace_;
    std::string stateDir_;
    int profiles_ = 0;
    std::unique_ptr<FakeUiPort> ui_;
    std::unique_ptr<CKT6200DemoDlg> dlg_;
    KT62_HANDLE h_ = KT62_INVALID_HANDLE;
};

// ---- device state helpers ----

constexpr std::uint8_t kFlag = 0x05;       // fDeviceLifeSpanModeEn: read-write, volatile
constexpr std::uint8_t kAttribute = 0x03;  // bActiveICCLevel: read-write, volatile
constexpr std::uint32_t kSectorSize = 4096;
constexpr std::uint32_t kRange = 16;  // sectors of the transfers

std::string FlagState(Harness& t) {
    std::uint8_t v = 0;
    const std::int32_t r = kt62UfsReadFlag(t.h(), kFlag, &v);
    return Num(r) + "/" + Num(v);
}
std::string AttributeState(Harness& t) {
    std::uint32_t v = 0;
    const std::int32_t r = kt62UfsReadAttribute(t.h(), kAttribute, 0, 0, &v);
    return Num(r) + "/" + Num(v);
}
std::vector<std::uint8_t> ReadConfig(KT62_HANDLE h) {
    std::vector<std::uint8_t> config(0x90);
    EXPECT_EQ(kt62UfsReadDescriptor(h, 0x01, 0, 0, config.data(), 0x90), 0);
    return config;
}
std::string ConfigState(Harness& t) {
    const auto c = ReadConfig(t.h());
    return {c.begin(), c.end()};
}
void RestoreConfig(Harness& t, const std::string&) {
    ASSERT_EQ(kt62UfsWriteDescriptor(t.h(), 0x01, 0, 0, t.originalConfig.data(), 0x90), 0);
}
std::string SectorState(Harness& t) {
    std::string bytes(std::size_t{kRange} * kSectorSize, '\0');
    const std::int32_t r =
        kt62ScsiRead10(t.h(), 0, kSectorSize, reinterpret_cast<std::uint8_t*>(bytes.data()), kRange);
    return Num(r) + "/" + bytes;
}
std::string Pattern(char seed) {
    std::string bytes(std::size_t{kRange} * kSectorSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(seed + i * 7 + (i >> 12));
    return bytes;
}

// ---- commands ----

// 8 GiB in 4 MiB segments, laid out as two units (512 and 1024 allocation
// units of 4096-byte blocks), so that a single-unit configuration changes it.
const std::string kDevice = R"("ufs": {"raw_capacity_bytes": 8589934592, "segment_size_bytes": 4194304,
    "manufacturer_name": "FMVEND", "product_name": "FM-PART", "serial_number": "FM0001",
    "logical_units": [{"enable": 1, "alloc_units": 512}, {"enable": 1, "alloc_units": 1024}]})";

// The open step's first three calls: search, close of the open device, open.
std::vector<Step> OpenSteps(const std::string& goodPane) {
    return {
        {"kt62Search",
         [goodPane](std::int32_t v) {
             // The count: negative lists nothing and opens position -1.
             // (closing the open device first).
             if (v < 0) return Outcome{"Fail to open disk.", Match::Whole, {"kt62Close", "kt62Open"}};
             return GoesOn(goodPane);
         },
         "", std::nullopt},
        // A failed close leaves the programmer open, and so locked: the open fails.
        {"kt62Close",
         [](std::int32_t) {
             return Outcome{"Fail to open disk.", Match::Whole, {"kt62Open"}};
         },
         "", std::nullopt},
        {"kt62Open", [](std::int32_t) { return Stop("Fail to open disk."); }, "", std::nullopt},
    };
}

void CheckOpenStep(Harness& t, const CaseInfo& c) {
    const bool failedOpen =
        c.cls && c.cls->kind == Forced::Failure && (c.k == 1 || c.k == 2 || (c.k == 0 && c.cls->r < 0));
    EXPECT_EQ(t.dlg().DeviceHandle() == KT62_INVALID_HANDLE, failedOpen);
    const int listed = (c.cls && c.k == 0 && c.cls->kind == Forced::Failure) ? std::max(0, c.cls->r) : 1;
    EXPECT_EQ(t.ui().ListCount(IDC_COMBO_DEVICE), listed);
}

std::vector<std::uint8_t> Filled(std::size_t size,
                                 std::initializer_list<std::pair<std::size_t, std::uint8_t>> at) {
    std::vector<std::uint8_t> bytes(size, 0);
    for (const auto& [i, v] : at) bytes[i] = v;
    return bytes;
}
std::string BytesRule(const std::vector<std::uint8_t>& bytes) {
    return R"("bytes": ")" + HexText(bytes) + "\"";
}
std::string ValueRule(std::uint32_t v) { return R"("value": )" + Num(v); }

// An image of firmware 2.3.4 the emulated programmer accepts.
std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}
std::string FirmwareImage() {
    const std::string payload(1024, 'F');
    std::vector<std::uint8_t> h(48, 0);
    auto put32 = [&h](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            h[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    std::memcpy(h.data(), "KT62FWIM", 8);
    h[8] = 1;
    h[10] = 48;
    std::memcpy(h.data() + 12, "KT6200", 6);
    h[28] = 2;
    h[29] = 3;
    h[30] = 4;
    put32(32, static_cast<std::uint32_t>(payload.size()));
    put32(36, Crc32(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()));
    put32(44, Crc32(h.data(), 44));
    return std::string(h.begin(), h.end()) + payload;
}

// The configuration "CFG 1 LUN" writes for this device: the whole 2048
// allocation units to unit 0 (enabled or not).
std::vector<std::uint8_t> SingleUnitConfig(bool enabled) {
    return Filled(0x90, {{0x00, 0x90},
                         {0x01, 0x01},
                         {0x05, 0x01},
                         {0x06, 0x7F},
                         {0x10, enabled ? 1 : 0},
                         {0x16, 0x08},
                         {0x19, 0x0C}});
}

const std::string kProvisioned = "write descriptor done.\r\nPlease reset VARNEL.";
const std::string kDescriptorWritten = "write descriptor done. Press \"Reset\" button to make it effective.";
const std::string kLockRead = "kt62UfsReadAttribute";

// "CFG 1 LUN" and its variant: lock, geometry, write.
std::vector<Step> ProvisioningSteps() {
    // A geometry of 2^24 units in 2^13-unit segments: the device's own.
    std::vector<std::uint8_t> geometry =
        Filled(28, {{0, 0x48}, {1, 0x07}, {0x08, 0x01}, {0x0F, 0x20}, {0x11, 1}});
    return {
        // A failed lock read lets the write go ahead; a lock of 1 stops it.
        {kLockRead, [](std::int32_t) { return GoesOn(kProvisioned); }, ValueRule(1),
         Stop("Configuration descriptor is locked.")},
        {"kt62UfsReadDescriptor", [](std::int32_t r) { return Stop("earlier text\r\n" + CommandFail(r)); },
         BytesRule(geometry), std::nullopt},
        {"kt62UfsWriteDescriptor", [](std::int32_t r) { return Stop(Status("UFS Write Descriptor", r)); }, "",
         Stop(kProvisioned), true},
    };
}

// "Get Work mode": transmit mode, rate, gear, then the same for receive.
std::vector<Step> WorkModeSteps() {
    auto fail = [](std::int32_t r) { return Stop("earlier text\r\n" + CommandFail(r)); };
    auto report = [](const char* tx, const char* rx) {
        return GoesOn(std::string("Power Mode:\r\n    Tx: ") + tx + "\r\n    Rx: " + rx);
    };
    // Mode 1 is PWM and reads the PWM gear, which reads 1 on an HS link.
    return {
        {"kt62UfsGetDME", fail, ValueRule(1), report("PWM-G1B", "HS-G3B")},
        {"kt62UfsGetDME", fail, ValueRule(1), report("HS-G3A", "HS-G3B")},
        {"kt62UfsGetDME", fail, ValueRule(7), report("HS-G7B", "HS-G3B")},
        {"kt62UfsGetDME", fail, ValueRule(1), report("HS-G3B", "PWM-G1B")},
        {"kt62UfsGetDME", fail, ValueRule(1), report("HS-G3B", "HS-G3A")},
        {"kt62UfsGetDME", fail, ValueRule(7), report("HS-G3B", "HS-G7B")},
    };
}

// "Get IC INFO": each failure line follows the last line the report wrote.
std::vector<Step> IcInfoSteps() {
    auto failAfter = [](std::string lead) {
        return [lead](std::int32_t r) { return StopAfter(lead + "\r\n" + CommandFail(r)); };
    };
    const std::vector<std::uint8_t> header = {0x0A, 0x05};  // 10 bytes: four characters
    const std::vector<std::uint8_t> abcd = {0x0A, 0x05, 0, 'A', 0, 'B', 0, 'C', 0, 'D'};
    const std::vector<std::uint8_t> device = Filled(64, {{0, 0x40}, {0x14, 2}, {0x15, 0}, {0x16, 1}});
    return {
        {"kt62UfsReadDescriptor", [](std::int32_t r) { return Stop("\r\n" + CommandFail(r)); },
         BytesRule(device),
         GoesOnShowing(
             "Part Number(0):\r\n    FMVEND  \r\nManufacturer Name(2):\r\n    FM0001\r\nSerial Number(1):")},
        {"kt62UfsReadDescriptor", failAfter("Part Number(1):"), BytesRule(header),
         GoesOnShowing("Part Number(1):\r\n    FM-P\r\n")},
        {"kt62UfsReadDescriptor", failAfter("Part Number(1):"), BytesRule(abcd),
         GoesOnShowing("Part Number(1):\r\n    ABCD\r\n")},
        {"kt62UfsReadDescriptor", failAfter("Manufacturer Name(0):"), BytesRule(header),
         GoesOnShowing("Manufacturer Name(0):\r\n    FMVE\r\n")},
        {"kt62UfsReadDescriptor", failAfter("Manufacturer Name(0):"), BytesRule(abcd),
         GoesOnShowing("Manufacturer Name(0):\r\n    ABCD\r\n")},
        {"kt62UfsReadDescriptor", failAfter("Serial Number(2):"), BytesRule(header),
         GoesOnShowing("Serial Number(2):\r\n    FM00\r\n")},
        {"kt62UfsReadDescriptor", failAfter("Serial Number(2):"), BytesRule(abcd),
         GoesOnShowing("Serial Number(2):\r\n    ABCD\r\n")},
        {"kt62UfsReadDescriptor", failAfter("IC Density:"), BytesRule(Filled(28, {{0x0B, 0xFF}})),
         GoesOnShowing("IC Density:\r\n    255, 0xFF\r\n      0.000GB\r\n")},
        {"kt62UfsGetDME", failAfter("HS GEAR capability:"), ValueRule(0),
         GoesOnShowing("HS GEAR capability:\r\nPWM GEAR capability:\r\n")},
        {"kt62UfsGetDME", failAfter("PWM GEAR capability:"), ValueRule(1),
         GoesOnShowing("PWM GEAR capability:\r\n    G0 to G7.\r\n")},
        {"kt62UfsGetDME", failAfter("PWM GEAR capability:"), ValueRule(0),
         GoesOnShowing("PWM GEAR capability:\r\nSupport M-PHY version:\r\n")},
        {"kt62UfsReadDescriptor", failAfter("Support M-PHY version:"),
         BytesRule({0x06, 0x04, 0x01, 0x60, 0x04, 0x10}),
         GoesOnShowing("Support M-PHY version:\r\n    0410.\r\n")},
        {"kt62UfsGetDME", failAfter("Available Data Lane:"), ValueRule(9),
         GoesOnShowing("    TX:9.\r\n    RX:2.")},
        {"kt62UfsGetDME", failAfter("    TX:2."), ValueRule(9), GoesOnShowing("    TX:2.\r\n    RX:9.")},
    };
}

// "Get LUN INfo": the device descriptor, then units 0 to 7.
std::vector<Step> LunInfoSteps() {
    const std::string header = "NumberLU: 2, NumberWLU: 4\r\n";
    const std::string lun0 = "LUN0,   2.000GB, Not boot, Normal Memory, No Write Protect.";
    const std::string lun1 = "LUN1,   4.000GB, Not boot, Normal Memory, No Write Protect.";
    auto failAfter = [](std::string lead) {
        return [lead](std::int32_t r) { return StopAfter(lead + "\r\n" + CommandFail(r)); };
    };
    // A unit of 8192 blocks of 4096 bytes listed as unit 9.
    const std::vector<std::uint8_t> unit =
        Filled(35, {{0, 0x23}, {1, 0x02}, {2, 9}, {3, 1}, {4, 2}, {5, 2}, {8, 6}, {0x0A, 12}, {0x11, 0x20}});
    const std::string unitLine = "LUN9,  32.000MB, Boot2, Enhanced type 4 Memory, Write Protect 2.";
    std::vector<Step> steps = {
        {"kt62UfsReadDescriptor", [](std::int32_t r) { return Stop("\r\n" + CommandFail(r)); },
         BytesRule(Filled(64, {{0, 0x40}, {6, 7}, {7, 1}})), GoesOnShowing("NumberLU: 7, NumberWLU: 1\r\n")},
    };
    for (int n = 0; n < 8; ++n)
        steps.push_back({"kt62UfsReadDescriptor",
                         failAfter(n == 0   ? header
                                   : n == 1 ? lun0
                                            : lun1),
                         BytesRule(unit), GoesOnShowing(unitLine)});
    return steps;
}

// The transfers: packet size, capacity, one chunk of 16 sectors.
std::vector<Step> TransferSteps(bool reading) {
    const std::string progress =
        reading ? "left 0 sectors. \r\nRetried 1 times." : "left 0 sectors. \nRetried 1 times.";
    return {
        // The packet size's result is not read.
        {"kt62SetPacketSize", [](std::int32_t) { return GoesOn(""); }, "", std::nullopt},
        {"kt62ScsiReadCapacity",
         [](std::int32_t r) { return Stop("Fail to scsi read capacity " + Num(r) + "."); },
         R"("sectors": 10, "sector_size": 4096)", Stop("out of range.")},
        // One failure is retried with the same arguments.
        {reading ? "kt62ScsiRead10" : "kt62ScsiWrite10",
         [progress](std::int32_t) {
             return Outcome{
                 progress + "\r\nTakes ?s to trans 0MB(?MB/Sec)\r\nDone.", Match::Whole, {kAgain, kRest}};
         },
         "", std::nullopt, !reading},
    };
}

void QueueImage(Harness& t, const std::string& name) { t.ui().QueueFile(t.Path(name)); }

void TransferFields(Harness& t) {
    t.ui().SetText(IDC_EDIT_START_SECTOR, "0");
    t.ui().SetText(IDC_EDIT_SECTOR_COUNT, Num(kRange));
    t.ui().SetText(IDC_EDIT_PACKET_SIZE, "64");
}

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = [] {
        std::vector<Command> list;
        auto flagCommand = [&list](const char* name, int id, const char* call, const std::string& label,
                                   const char* done, bool before) {
            list.push_back(
                {name,
                 id,
                 kDevice,
                 {{call, [label](std::int32_t r) { return Stop(Status(label, r)); }, "",
                   Stop(std::string("Flag(05h) ") + done + "."), true}},
                 [before](Harness& t) {
                     t.ui().SetText(IDC_EDIT_IDN, "5");
                     ASSERT_EQ(before ? kt62UfsSetFlag(t.h(), kFlag) : kt62UfsClearFlag(t.h(), kFlag), 0);
                 },
                 FlagState});
        };

        {
            std::vector<Step> steps = OpenSteps("Firmware version: 1.0.0");
            // Without a version the product answers.
            steps.push_back({"kt62GetVersion",
                             [](std::int32_t) {
                                 return Outcome{"KT6200 Ver:1.05", Match::Whole, {"kt62GetProduct"}};
                             },
                             R"("bytes": "01 02 03")", Stop("Firmware version: 1.2.3")});
            list.push_back({"OpenStep", IDOK, kDevice, steps, nullptr, nullptr, nullptr, CheckOpenStep});
        }
        {
            std::vector<Step> steps = OpenSteps("KT6200 Ver:1.05");
            steps.push_back({"kt62GetVersion", [](std::int32_t) { return GoesOn("KT6200 Ver:1.05"); },
                             R"("bytes": "01 02 03")", Stop("Firmware version: 1.2.3")});
            steps.push_back(
                {"kt62GetProduct", [](std::int32_t r) { return Stop("Fail to get version " + Num(r) + "."); },
                 R"("name_bytes": "46 4D 2D 50", "version_bytes": "32 2E 30 31")", Stop("FM-P Ver:2.01")});
            list.push_back({"OpenStepProductOnly", IDOK, kDevice + R"(, "get_version_supported": false)",
                            steps, nullptr, nullptr, nullptr, CheckOpenStep});
        }
        {
            std::vector<std::uint8_t> inquiry(192, 0);
            inquiry[1] = 0x80;
            inquiry[2] = 0x06;
            inquiry[3] = 0x02;
            inquiry[4] = 0x1F;
            list.push_back(
                {"Inquiry",
                 IDC_BTN_INQUIRY,
                 kDevice,
                 {{"kt62ScsiInquiry",
                   [](std::int32_t r) { return Stop("Fail to scsi inquiry " + Num(r) + "."); },
                   BytesRule({0x00, 0x80, 0x06, 0x02, 0x1F}), Stop("scsi inquiry done." + Dump(inquiry))}}});
        }
        list.push_back({"Capacity",
                        IDC_BTN_CAPACITY,
                        kDevice,
                        {{"kt62ScsiReadCapacity",
                          [](std::int32_t r) { return Stop("Fail to scsi read capacity " + Num(r) + "."); },
                          R"("sectors": 1000000, "sector_size": 512)",
                          Stop("1000000 sectors. 512 bytes per sector.\r\n  488.28MB.")}}});
        list.push_back({"FlagRead",
                        IDC_BTN_FLAG_READ,
                        kDevice,
                        {{"kt62UfsReadFlag", [](std::int32_t r) { return Stop(Status("UFS Read Flag", r)); },
                          ValueRule(0x80), Stop("Flag(05h) = 1")}},
                        [](Harness& t) { t.ui().SetText(IDC_EDIT_IDN, "5"); }});
        flagCommand("FlagSet", IDC_BTN_FLAG_SET, "kt62UfsSetFlag", "UFS Set Flag", "set", false);
        flagCommand("FlagClear", IDC_BTN_FLAG_CLEAR, "kt62UfsClearFlag", "UFS Clear Flag", "clear", true);
        flagCommand("FlagToggle", IDC_BTN_FLAG_TOGGLE, "kt62UfsToggleFlag", "UFS Toggle Flag", "toggle",
                    false);
        list.push_back(
            {"AttributeRead",
             IDC_BTN_ATTR_READ,
             kDevice,
             {{"kt62UfsReadAttribute", [](std::int32_t r) { return Stop(Status("UFS Read Attribute", r)); },
               ValueRule(0xFFFFFFFFu), Stop("Attriubte(03h) = 0xFFFFFFFF")}},
             [](Harness& t) { t.ui().SetText(IDC_EDIT_IDN, "3"); }});
        list.push_back(
            {"AttributeWrite",
             IDC_BTN_ATTR_WRITE,
             kDevice,
             {{"kt62UfsWriteAttribute", [](std::int32_t r) { return Stop(Status("UFS Write Attribute", r)); },
               "", Stop("Attriubte(03h) written."), true}},
             [](Harness& t) {
                 t.ui().SetText(IDC_EDIT_IDN, "3");
                 t.ui().SetText(IDC_EDIT_VALUE, "5");
                 ASSERT_EQ(kt62UfsWriteAttribute(t.h(), kAttribute, 0, 0, 0), 0);
             },
             AttributeState});
        {
            // The configuration descriptor read and saved; a forced second
            // read shows and saves the rule's bytes.
            std::vector<std::uint8_t> forced(0x90, 0xA5);
            forced[0] = 0x90;
            forced[1] = 0x01;
            list.push_back(
                {"DescriptorRead",
                 IDC_BTN_DESC_READ,
                 kDevice,
                 {{"kt62UfsReadDescriptor",
                   [](std::int32_t r) { return Stop(Status("UFS Read Descriptor", r)); },
                   R"("bytes": "90 01")", std::nullopt},
                  {"kt62UfsReadDescriptor",
                   [](std::int32_t r) { return Stop("Fail to ufs read decriptor " + Num(r) + "."); },
                   BytesRule(forced), Stop("ufs descriptor read done." + Dump(forced) + "\r\nSaved.")}},
                 [](Harness& t) {
                     t.ui().SetText(IDC_EDIT_IDN, "1");
                     std::filesystem::remove(t.Path("configuration.descr"));
                 },
                 nullptr,
                 nullptr,
                 [forced](Harness& t, const CaseInfo& c) {
                     // Saved exactly when the pane says so, with the bytes the pane shows.
                     const bool saved = t.ui().Pane().ends_with("\r\nSaved.");
                     const std::string file = TempDir::Read(t.Path("configuration.descr"));
                     EXPECT_EQ(std::filesystem::exists(t.Path("configuration.descr")), saved);
                     if (!saved) return;
                     if (c.cls && c.cls->kind == Forced::Success && c.k == 1) {
                         EXPECT_EQ(file, std::string(forced.begin(), forced.end()));
                     } else {
                         EXPECT_EQ(file, std::string(t.originalConfig.begin(), t.originalConfig.end()));
                     }
                 }});
        }
        list.push_back({"DescriptorWrite",
                        IDC_BTN_DESC_WRITE,
                        kDevice,
                        {{kLockRead, [](std::int32_t) { return GoesOn(kDescriptorWritten); }, ValueRule(1),
                          Stop("Configuration descriptor is locked.")},
                         {"kt62UfsWriteDescriptor",
                          [](std::int32_t r) { return Stop(Status("UFS Write Descriptor", r)); }, "",
                          Stop(kDescriptorWritten), true}},
                        [](Harness& t) {
                            t.ui().SetText(IDC_EDIT_IDN, "1");
                            const auto config = SingleUnitConfig(true);
                            t.dir().Write("single.descr", std::string(config.begin(), config.end()));
                            QueueImage(t, "single.descr");
                        },
                        ConfigState,
                        RestoreConfig});
        list.push_back({"Cfg1Lun", IDC_BTN_CFG_1_LUN, kDevice, ProvisioningSteps(), nullptr, ConfigState,
                        RestoreConfig, [](Harness& t, const CaseInfo&) {
                            // What a provisioning wrote is the single unit.
                            if (t.ui().Pane() == kProvisioned && ReadConfig(t.h()) != t.originalConfig) {
                                EXPECT_EQ(ReadConfig(t.h()), SingleUnitConfig(true));
                            }
                        }});
        list.push_back({"Cfg1LunDisabled", IDC_BTN_CFG_1_LUN_DISABLED, kDevice, ProvisioningSteps(), nullptr,
                        ConfigState, RestoreConfig, [](Harness& t, const CaseInfo&) {
                            if (t.ui().Pane() == kProvisioned && ReadConfig(t.h()) != t.originalConfig) {
                                EXPECT_EQ(ReadConfig(t.h()), SingleUnitConfig(false));
                            }
                        }});
        list.push_back({"WorkMode", IDC_BTN_WORK_MODE, kDevice, WorkModeSteps()});
        list.push_back({"IcInfo", IDC_BTN_IC_INFO, kDevice, IcInfoSteps()});
        list.push_back({"LunInfo", IDC_BTN_LUN_INFO, kDevice, LunInfoSteps()});
        list.push_back({"DmeRead",
                        IDC_BTN_DME_READ,
                        kDevice,
                        {{"kt62UfsGetDME", [](std::int32_t r) { return Stop(Status("UFS Get DME", r)); },
                          ValueRule(0x12), Stop("Get DME PEER (1520h) = 0x00000012")}},
                        [](Harness& t) { t.ui().SetText(IDC_EDIT_DME_REG, "1520"); }});
        // A window close closes the device, whatever the close answers, and ends the dialog.
        list.push_back({"WindowClose",
                        0,
                        kDevice,
                        {{"kt62Close", [](std::int32_t) { return Stop("earlier text"); }, "", std::nullopt}},
                        nullptr,
                        nullptr,
                        nullptr,
                        [](Harness& t, const CaseInfo&) {
                            EXPECT_EQ(t.ui().EndResult(), IDCANCEL);
                            EXPECT_EQ(t.dlg().DeviceHandle(), KT62_INVALID_HANDLE);
                        },
                        false,
                        false,
                        DialogMessage::Close});
        // A reset brings the volatile flag back to its power-on value.
        list.push_back({"Reset",
                        IDC_BUTTON_RESET,
                        kDevice,
                        {{"kt62UfsReset", [](std::int32_t) { return Stop("earlier text"); }, "",
                          Stop("earlier text"), true}},
                        [](Harness& t) { ASSERT_EQ(kt62UfsSetFlag(t.h(), kFlag), 0); },
                        FlagState});
        list.push_back(
            {"Update",
             IDC_BUTTON_UPDATE,
             kDevice,
             {{"kt62Update", [](std::int32_t r) { return Stop("Command fail err " + Num(r) + "."); }, "",
               Stop("Command done.\r\nPlease wait device restart."), true}},
             [](Harness& t) {
                 t.dir().Write("fw.bin", FirmwareImage());
                 QueueImage(t, "fw.bin");
             },
             [](Harness& t) {
                 return std::filesystem::exists(t.StateDir() + "/programmer0.firmware")
                            ? std::string("updated")
                            : std::string("factory");
             },
             nullptr,
             [](Harness& t, const CaseInfo&) {
                 // Whatever the result, the programmer is to be picked again.
                 EXPECT_EQ(t.ui().ListSelection(IDC_COMBO_DEVICE), -1);
             },
             false,
             true});
        list.push_back({"ReadSectors", IDC_BTN_READ_SECTORS, kDevice, TransferSteps(true),
                        [](Harness& t) {
                            TransferFields(t);
                            std::filesystem::remove(t.Path("out.bin"));
                            QueueImage(t, "out.bin");
                            const std::string data = Pattern('r');
                            ASSERT_EQ(
                                kt62ScsiWrite10(t.h(), 0, kSectorSize,
                                                reinterpret_cast<const std::uint8_t*>(data.data()), kRange),
                                0);
                        },
                        nullptr, nullptr,
                        [](Harness& t, const CaseInfo& c) {
                            // A read that ran holds the device's sectors, or, when
                            // a rule answered the read, the zeroed buffer.
                            const bool ran = t.ui().Pane().ends_with("\r\nDone.");
                            EXPECT_EQ(std::filesystem::exists(t.Path("out.bin")), ran);
                            if (!ran) return;
                            const bool answered = c.cls && c.cls->kind == Forced::Success && c.k == 2;
                            EXPECT_TRUE(TempDir::Read(t.Path("out.bin")) ==
                                        (answered ? std::string(std::size_t{kRange} * kSectorSize, '\0')
                                                  : Pattern('r')));
                        },
                        true});
        list.push_back(
            {"WriteSectors", IDC_BTN_WRITE_SECTORS, kDevice, TransferSteps(false),
             [](Harness& t) {
                 TransferFields(t);
                 t.dir().Write("in.bin", Pattern('w'));
                 QueueImage(t, "in.bin");
                 const std::string old = Pattern('o');
                 ASSERT_EQ(kt62ScsiWrite10(t.h(), 0, kSectorSize,
                                           reinterpret_cast<const std::uint8_t*>(old.data()), kRange),
                           0);
             },
             SectorState, nullptr,
             [](Harness& t, const CaseInfo&) {
                 if (t.ui().Pane().ends_with("\r\nDone.") && SectorState(t) != "0/" + Pattern('o')) {
                     EXPECT_TRUE(SectorState(t) == "0/" + Pattern('w'));
                 }
             },
             true});
        return list;
    }();
    return commands;
}

bool TopLevel(const std::string& call) {
    return call == "kt62Search" || call == "kt62Open" || call == "kt62SetPacketSize";
}

// The rule that makes call k of the good run answer as `cls` says.
std::string RuleFor(const CommandRun& good, std::size_t k, const Step& step, const ResultClass& cls) {
    const std::string name = Name(good.calls[k]);
    unsigned after = 0;
    for (const std::string& c : good.setup) after += Name(c) == name ? 1 : 0;
    for (std::size_t j = 0; j < k; ++j) after += Name(good.calls[j]) == name ? 1 : 0;
    std::string body;
    if (cls.kind == Forced::Delay)
        body = R"("delay_ms": )" + Num(kDelayMs);
    else if (name == "kt62Search")  // a search answers a count, no result
        body = R"("value": )" + Num(cls.kind == Forced::Success ? 1 : cls.r);
    else if (cls.kind == Forced::Success)
        body = R"("result": 0)" + (step.outputs.empty() ? "" : ", " + step.outputs);
    else
        body = R"("result": )" + Num(cls.r);
    return R"({"call": ")" + name + R"(", "after": )" + Num(after) + R"(, "times": 1, )" + body + "}";
}

class FaultMatrix : public testing::TestWithParam<std::size_t> {};

TEST_P(FaultMatrix, EveryCallEveryResult) {
    const Command& command = Commands()[GetParam()];
    Harness t(command);
    t.originalConfig = t.ReadOriginalConfig();
    const CommandRun good = t.RunCommand("", false);
    ASSERT_EQ(good.calls.size(), command.steps.size()) << "the good run's calls changed:\n"
                                                       << testing::PrintToString(good.calls);
    for (std::size_t k = 0; k < good.calls.size(); ++k)
        ASSERT_EQ(Name(good.calls[k]), command.steps[k].call) << "call " << k;
    const bool writes =
        std::any_of(command.steps.begin(), command.steps.end(), [](const Step& s) { return s.writes; });
    if (command.probe) {
        EXPECT_EQ(good.before != good.after, writes) << "the good run's effect on the device";
    }
    if (command.check) command.check(t, CaseInfo{});
    if (command.restore && good.before != good.after) command.restore(t, good.before);
    t.CloseAll();

    int cases = 0;
    for (std::size_t k = 0; k < command.steps.size(); ++k) {
        const Step& step = command.steps[k];
        for (const ResultClass& cls : kClasses) {
            SCOPED_TRACE(std::string(command.name) + ": call " + Num(static_cast<std::int64_t>(k)) + " (" +
                         good.calls[k] + ") forced " + cls.name);
            ++cases;
            const std::string rule = RuleFor(good, k, step, cls);
            const CommandRun run = t.RunCommand(rule, TopLevel(step.call));

            Outcome expected;
            if (cls.kind == Forced::Failure)
                expected = step.fail(cls.r);
            else if (cls.kind == Forced::Success && step.success)
                expected = *step.success;
            else
                expected = GoesOn("");
            if (expected.pane.empty()) expected.pane = Normalize(good.pane);

            // The pane.
            const std::string pane = Normalize(run.pane);
            switch (expected.match) {
                case Match::Whole:
                    EXPECT_EQ(pane, expected.pane);
                    break;
                case Match::End:
                    EXPECT_TRUE(pane.ends_with(expected.pane)) << pane << "\n-- does not end with --\n"
                                                               << expected.pane;
                    break;
                case Match::Contains:
                    EXPECT_NE(pane.find(expected.pane), std::string::npos) << pane << "\n-- lacks --\n"
                                                                           << expected.pane;
                    break;
            }

            // The calls: the good run's up to k, then only what the outcome allows.
            EXPECT_EQ(run.setup.size(), good.setup.size());
            std::vector<std::string> names;
            std::vector<std::size_t> executed;  // steps that ran, in order
            for (std::size_t j = 0; j <= k; ++j) executed.push_back(j);
            for (const std::string& item : expected.tail) {
                if (item == kAgain) {
                    executed.push_back(k);
                } else if (item == kRest) {
                    for (std::size_t j = k + 1; j < good.calls.size(); ++j) executed.push_back(j);
                } else {
                    executed.push_back(good.calls.size());  // a call of no step
                    names.push_back(item);
                }
            }
            std::vector<std::string> expectedNames;
            std::size_t extra = 0;
            for (std::size_t j : executed)
                expectedNames.push_back(j < good.calls.size() ? command.steps[j].call : names[extra++]);
            std::vector<std::string> actualNames;
            for (const std::string& c : run.calls) actualNames.push_back(Name(c));
            EXPECT_EQ(actualNames, expectedNames) << testing::PrintToString(run.calls);
            for (std::size_t j = 0; j <= k && j < run.calls.size(); ++j)
                EXPECT_EQ(Request(run.calls[j]), Request(good.calls[j]));

            // Controls.
            t.ExpectControlsIdle();

            // The device: changed only by a write that reached it.
            if (command.probe) {
                bool reached = false;
                for (std::size_t i = 0; i < executed.size(); ++i) {
                    const std::size_t j = executed[i];
                    const bool forcedHere = j == k && i == k && cls.kind != Forced::Delay;
                    if (j < command.steps.size() && command.steps[j].writes && !forcedHere) reached = true;
                }
                EXPECT_EQ(run.before != run.after, reached)
                    << "device state " << (reached ? "unchanged" : "changed");
            }
            if (command.check) command.check(t, CaseInfo{k, &cls});
            if (command.restore && run.before != run.after) command.restore(t, run.before);
            t.CloseAll();
        }
    }
    std::cout << command.name << ": " << command.steps.size() << " calls, " << cases << " cases\n";
}

std::string CommandName(const testing::TestParamInfo<std::size_t>& info) {
    return Commands()[info.param].name;
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultMatrix, testing::Range<std::size_t>(0, Commands().size()),
                         CommandName);

// Every button of the command table but Exit and the language button
// reaches the library, and so has its place in the matrix.
TEST(FaultMatrixTable, CoversEveryCommandThatCallsTheLibrary) {
    for (const CommandEntry& e : DialogCommandTable()) {
        if (e.message != DialogMessage::Command || e.id == IDCANCEL || e.id == IDC_BUTTON_LANGUAGE) continue;
        EXPECT_TRUE(std::any_of(Commands().begin(), Commands().end(), [&e](const Command& c) {
            return c.id == e.id;
        })) << e.handlerName;
    }
}

}  // namespace
}  // namespace kt::test
