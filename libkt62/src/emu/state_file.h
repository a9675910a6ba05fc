// The state file of one emulated device: what survives power loss, as JSON,
// replaced as a whole (temporary file, flush, rename) so that a process
// killed at any instant leaves either the old or the new state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "emu/ufs_model.h"

namespace kt62::emu {

// KT62_OK, or KT62_E_STATE_IO with what failed, and on which file, in error.
int32_t SaveState(const std::filesystem::path& file, const StoredState& state, std::string& error);

// The state file's text into state: nullopt, or what is wrong with it.
std::optional<std::string> ParseState(const std::string& text, StoredState& state);

enum class LoadOutcome { Loaded, Missing, Failed };
// Failed: unreadable or not a state file ("<file>: <reason>" in error). Values are checked
// for form only; UfsModel::Restore checks them against the device.
LoadOutcome LoadState(const std::filesystem::path& file, StoredState& state, std::string& error);

}  // namespace kt62::emu
