#include "emu/programmer_state.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>

#include "emu/state_folder.h"
#include "fileio/file_access.h"

namespace kt62::emu {
namespace {

namespace fs = std::filesystem;

constexpr char kStateMagic[8] = {'K', 'T', '6', '2', 'P', 'G', 'S', 'T'};
constexpr uint32_t kStateFormat = 1;
constexpr size_t kSlotsAt = 16;
constexpr size_t kSlotSize = 12;
constexpr size_t kPayloadsAt = kSlotsAt + 2 * kSlotSize;
// Two full payloads and the fixed parts: anything larger is not ours.
constexpr size_t kMaxStateBytes = kPayloadsAt + 2 * size_t{kMaxFirmwarePayload} + 4;

uint32_t Get32(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void Append32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct RestartTable {
    std::mutex mutex;
    std::map<std::string, std::chrono::steady_clock::time_point> until;
    std::atomic<int64_t> duration_ms{kRestartTime.count()};
};

RestartTable& Table() {
    static auto* table = new RestartTable;  // used from static destructors too
    return *table;
}

}  // namespace

fs::path FirmwareStatePath(const fs::path& state_dir, int position) {
    return state_dir / ("programmer" + std::to_string(position) + ".firmware");
}

std::vector<uint8_t> EncodeProgrammerState(const ProgrammerState& s) {
    std::vector<uint8_t> b(kStateMagic, kStateMagic + sizeof kStateMagic);
    Append32(b, kStateFormat);
    b.push_back(s.active);
    b.insert(b.end(), 3, 0);
    for (const FirmwareSlot& slot : s.slots) {
        b.push_back(static_cast<uint8_t>(slot.kind));
        b.insert(b.end(), slot.version.begin(), slot.version.end());
        Append32(b, static_cast<uint32_t>(slot.payload.size()));
        Append32(b, slot.payload_crc);
    }
    for (const FirmwareSlot& slot : s.slots) b.insert(b.end(), slot.payload.begin(), slot.payload.end());
    Append32(b, Crc32(b));
    return b;
}

std::optional<ProgrammerState> DecodeProgrammerState(std::span<const uint8_t> b, std::string& why) {
    if (b.size() < kPayloadsAt + 4 || std::memcmp(b.data(), kStateMagic, sizeof kStateMagic) != 0) {
        why = "not a programmer state file";
        return std::nullopt;
    }
    if (Crc32(b.first(b.size() - 4)) != Get32(b, b.size() - 4)) {
        why = "checksum mismatch";
        return std::nullopt;
    }
    if (Get32(b, 8) != kStateFormat) {
        why = "unknown format " + std::to_string(Get32(b, 8));
        return std::nullopt;
    }
    ProgrammerState s;
    s.active = b[12];
    if (s.active > 1) {
        why = "active slot " + std::to_string(s.active);
        return std::nullopt;
    }
    size_t at = kPayloadsAt;
    for (size_t i = 0; i < 2; ++i) {
        const size_t h = kSlotsAt + i * kSlotSize;
        FirmwareSlot& slot = s.slots[i];
        const uint8_t kind = b[h];
        const uint32_t length = Get32(b, h + 4);
        slot.version = {b[h + 1], b[h + 2], b[h + 3]};
        slot.payload_crc = Get32(b, h + 8);
        const bool fits = kind == 2 ? length > 0 && length <= kMaxFirmwarePayload : length == 0;
        if (kind > 2 || !fits || b.size() - 4 - at < length) {
            why = "slot " + std::to_string(i) + " is inconsistent";
            return std::nullopt;
        }
        slot.kind = static_cast<FirmwareSlot::Kind>(kind);
        slot.payload.assign(b.begin() + static_cast<ptrdiff_t>(at),
                            b.begin() + static_cast<ptrdiff_t>(at + length));
        at += length;
        if (slot.kind == FirmwareSlot::Kind::Image && Crc32(slot.payload) != slot.payload_crc) {
            why = "slot " + std::to_string(i) + " payload checksum mismatch";
            return std::nullopt;
        }
    }
    if (at != b.size() - 4) {
        why = "unexpected bytes after the payloads";
        return std::nullopt;
    }
    if (s.Active().kind == FirmwareSlot::Kind::Empty) {
        why = "the active slot is empty";
        return std::nullopt;
    }
    return s;
}

StateLoad LoadProgrammerState(const fs::path& file, ProgrammerState& out, std::string& why) {
    int error = 0;
    std::string reason;
    const std::optional<std::string> bytes =
        kt::fileio::ReadWhole(file.string(), kMaxStateBytes, reason, &error);
    if (!bytes && error == ENOENT) return StateLoad::Absent;
    if (!bytes) {
        why = file.string() + ": " +
              (error == EFBIG || error == EINVAL ? "not a programmer state file" : reason);
        return StateLoad::Failed;
    }
    std::string problem;
    auto decoded = DecodeProgrammerState(
        std::span(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()), problem);
    if (!decoded) {
        why = file.string() + ": " + problem;
        return StateLoad::Failed;
    }
    out = std::move(*decoded);
    return StateLoad::Loaded;
}

bool SaveProgrammerState(const fs::path& file, const ProgrammerState& state, std::string& why) {
    // One writer at a time: the programmer's lock is held by whoever updates it.
    const std::vector<uint8_t> bytes = EncodeProgrammerState(state);
    return PrepareStateFolder(file.parent_path(), why) &&
           ReplaceStateFile(file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                            why);
}

int32_t InstallFirmware(const fs::path& file, const FirmwareVersion& factory_version,
                        const FirmwareImage& image, ProgrammerState& installed, std::string& why) {
    ProgrammerState state;
    switch (LoadProgrammerState(file, state, why)) {
        case StateLoad::Failed:
            return KT62_E_STATE_IO;
        case StateLoad::Absent:
            state = ProgrammerState{};
            state.slots[0].kind = FirmwareSlot::Kind::Factory;
            state.slots[0].version = factory_version;
            break;
        case StateLoad::Loaded:
            break;
    }
    const auto target = static_cast<uint8_t>(1 - state.active);
    state.slots[target] =
        FirmwareSlot{FirmwareSlot::Kind::Image, image.version, image.payload, image.payload_crc};
    if (!SaveProgrammerState(file, state, why)) return KT62_E_STATE_IO;
    state.active = target;
    if (!SaveProgrammerState(file, state, why)) return KT62_E_STATE_IO;
    installed = std::move(state);
    return KT62_OK;
}

void Restarts::Begin(const std::string& key) {
    RestartTable& t = Table();
    std::lock_guard lock(t.mutex);
    t.until[key] = std::chrono::steady_clock::now() + std::chrono::milliseconds(t.duration_ms.load());
}

bool Restarts::Active(const std::string& key) {
    RestartTable& t = Table();
    std::lock_guard lock(t.mutex);
    const auto it = t.until.find(key);
    if (it == t.until.end()) return false;
    if (std::chrono::steady_clock::now() < it->second) return true;
    t.until.erase(it);
    return false;
}

void Restarts::SetDuration(std::chrono::milliseconds duration) { Table().duration_ms = duration.count(); }

std::chrono::milliseconds Restarts::Duration() {
    return std::chrono::milliseconds(Table().duration_ms.load());
}

}  // namespace kt62::emu
