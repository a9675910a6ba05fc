// Where the program's own files live. A program folder its user may write
// (a portable copy, a build tree) holds them, as it always has. The folder
// of an installed program is not the user's: what the program writes goes
// to the user's own folders instead, and Config.ini is read from there
// first, then from the installed copy, so captions come from the package
// and the choice of language from the user.
#pragma once

#include <string>
#include <string_view>

namespace kt {

inline constexpr const char* kUserFolderName = "kt6200";

// The folder a file named name is written to: user_dir for an installed
// program (its Config.ini in the data folder, see ShippedFile, whoever runs
// it); else app_dir (ending in '/') when the folder may be written, or when
// the file is already there and may be written itself; otherwise user_dir.
// app_dir when user_dir is "" (no home known). Decided on each call, as the
// running user sees the folder.
std::string WritableFileFolder(const std::string& app_dir, const std::string& user_dir,
                               std::string_view name);

// The shipped copy of a file: beside the executable (app_dir) as in a build
// tree or a portable copy, else in the installed data folder
// (app_dir/../share/kt6200/); app_dir + name when neither exists.
std::string ShippedFile(const std::string& app_dir, std::string_view name);

// $XDG_CONFIG_HOME/kt6200/ and $XDG_DATA_HOME/kt6200/, ending in '/'; a
// variable that is unset, empty or not an absolute path gives
// ~/.config/kt6200/ and ~/.local/share/kt6200/. "" when no home is known.
std::string UserConfigDir();
std::string UserDataDir();

// Creates dir and the folders above it that are missing (private to the
// user, as the base folders of the user's files are). False when it cannot
// be made, with errno saying why.
bool MakeUserFolders(const std::string& dir);

}  // namespace kt
