// The emulated programmers as a backend of the session layer.
#pragma once

#include <filesystem>
#include <memory>

#include "backend.h"
#include "emu/profile.h"

namespace kt62::emu {

std::shared_ptr<Backend> MakeEmulatorBackend(int position, const ProgrammerProfile& profile,
                                             const std::filesystem::path& state_dir);

}  // namespace kt62::emu
