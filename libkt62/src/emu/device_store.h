// Loading, saving and powering up one device's folder: shared by the library's
// device and by the tools' entry points in device_state.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "emu/lu_store.h"
#include "emu/ufs_model.h"

namespace kt62::emu {

std::filesystem::path StateFile(const std::filesystem::path& device_dir);

// Installs a saver that replaces the folder's state file; the reason of a failed save goes to
// *last_error.
void InstallSaver(UfsModel& model, const std::filesystem::path& device_dir, std::string* last_error);

// Loads the stored device into the model. Without stored state, or with the state of another
// device (the profile changed), the model is made factory-fresh and `fresh` set; `notice` then
// says why when state was there. KT62_E_STATE_IO for a state that cannot be read or checked.
int32_t LoadDevice(const std::filesystem::path& device_dir, UfsModel& model, bool& fresh, std::string& notice,
                   std::string& error);

// What switching the device on does: load (a fresh device starts with its logical units empty and
// is saved), apply a pending configuration, drop data files no unit uses any more.
int32_t PowerUpDevice(const std::filesystem::path& device_dir, UfsModel& model, LuStore& units,
                      std::string& notice, std::string& error);

}  // namespace kt62::emu
