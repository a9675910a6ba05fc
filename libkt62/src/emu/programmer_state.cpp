#include "emu/programmer_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>

#include "emu/state_folder.h"

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

std::string ErrnoText(const std::string& what, const fs::path& p) {
    return what + " " + p.string() + ": " + std::generic_category().message(errno);
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The rename is durable only once the folder's entry is on disk too.
bool SyncFolder(const fs::path& dir, std::string& why) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        why = ErrnoText("cannot open", dir);
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    if (!ok) why = ErrnoText("cannot sync", dir);
    ::close(fd);
    return ok;
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
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return StateLoad::Absent;
        why = ErrnoText("cannot open", file);
        return StateLoad::Failed;
    }
    struct stat st {};
    std::vector<uint8_t> bytes;
    bool ok =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= kMaxStateBytes;
    if (!ok) why = file.string() + ": not a programmer state file";
    if (ok) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                why = ErrnoText("cannot read", file);
                ok = false;
            }
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        bytes.resize(done);
    }
    ::close(fd);
    if (!ok) return StateLoad::Failed;
    std::string problem;
    auto decoded = DecodeProgrammerState(bytes, problem);
    if (!decoded) {
        why = file.string() + ": " + problem;
        return StateLoad::Failed;
    }
    out = std::move(*decoded);
    return StateLoad::Loaded;
}

bool SaveProgrammerState(const fs::path& file, const ProgrammerState& state, std::string& why) {
    if (!PrepareStateFolder(file.parent_path(), why)) return false;
    // One writer at a time: the programmer's lock is held by whoever updates it.
    const fs::path temp = file.string() + ".tmp";
    const int fd = CreateFresh(temp, O_WRONLY);
    if (fd < 0) {
        why = ErrnoText("cannot create", temp);
        return false;
    }
    bool ok = WriteAll(fd, EncodeProgrammerState(state));
    if (!ok) why = ErrnoText("cannot write", temp);
    if (ok && ::fsync(fd) != 0) {
        why = ErrnoText("cannot sync", temp);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        why = ErrnoText("cannot close", temp);
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), file.c_str()) != 0) {
        why = ErrnoText("cannot rename to", file);
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    return SyncFolder(file.parent_path(), why);
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
