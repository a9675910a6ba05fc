// What an emulated programmer keeps across power loss: its two firmware slots. One file per
// programmer position in the state folder, programmer<N>.firmware, replaced whole (temporary
// file, fsync, rename, fsync of the folder) so that a crash leaves the old file or the new one.
//
// File layout, little-endian:
//   offset size  field
//    0      8    magic "KT62PGST"
//    8      4    format, 1
//   12      1    active slot, 0 or 1
//   13      3    reserved, 0
//   16     12    slot 0: kind (0 empty, 1 factory, 2 image), version (3 bytes), payload length (4),
//   28     12    slot 1:   payload CRC-32 (4)
//   40      ...  payload of slot 0, then payload of slot 1
//   end-4   4    CRC-32 of everything before it
//
// A factory slot stands for the firmware the programmer came with: it has the version the profile
// gave when the first update was made, and no payload.
//
// Also here: the restart after an update, during which the programmer is not attached.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "emu/firmware.h"

namespace kt62::emu {

// How long a programmer stays detached after a good update.
inline constexpr std::chrono::milliseconds kRestartTime{1500};

struct FirmwareSlot {
    enum class Kind : uint8_t { Empty = 0, Factory = 1, Image = 2 };
    Kind kind = Kind::Empty;
    FirmwareVersion version{};
    std::vector<uint8_t> payload;
    uint32_t payload_crc = 0;

    bool operator==(const FirmwareSlot&) const = default;
};

struct ProgrammerState {
    uint8_t active = 0;
    std::array<FirmwareSlot, 2> slots;

    const FirmwareSlot& Active() const { return slots[active]; }
    bool operator==(const ProgrammerState&) const = default;
};

std::filesystem::path FirmwareStatePath(const std::filesystem::path& state_dir, int position);

std::vector<uint8_t> EncodeProgrammerState(const ProgrammerState& state);
// nullopt with `why` for anything but a whole, consistent file.
std::optional<ProgrammerState> DecodeProgrammerState(std::span<const uint8_t> bytes, std::string& why);

enum class StateLoad { Absent, Loaded, Failed };
StateLoad LoadProgrammerState(const std::filesystem::path& file, ProgrammerState& out, std::string& why);
// Replaces the file crash-safely; false with `why` when any step fails (the old file then stays).
bool SaveProgrammerState(const std::filesystem::path& file, const ProgrammerState& state, std::string& why);

// Installs a checked image: writes it into the inactive slot, then makes that slot active, each
// step a crash-safe replacement of the file. Without a file the running firmware is the factory
// one of version `factory_version`. KT62_OK, or KT62_E_STATE_IO with `why` (the running
// firmware then stays). `installed` receives the state now in force.
int32_t InstallFirmware(const std::filesystem::path& file, const FirmwareVersion& factory_version,
                        const FirmwareImage& image, ProgrammerState& installed, std::string& why);

// Programmers restarting in this process, by the key of their state file.
class Restarts {
public:
    static void Begin(const std::string& key);
    static bool Active(const std::string& key);
    // For tests: how long the next restarts take (kRestartTime unless changed).
    static void SetDuration(std::chrono::milliseconds duration);
    static std::chrono::milliseconds Duration();
};

}  // namespace kt62::emu
