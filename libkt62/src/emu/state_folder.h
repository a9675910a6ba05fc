// The folders emulator state is kept in: a programmer's state folder and its device<N>/ below.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kt62::emu {

// Makes sure `dir` is a folder to keep state in, and says why not in `why` ("<dir>: <reason>").
// A missing folder is made only where its parent is there already; the default per-user folder
// (DefaultStateDir) is made with its missing parents. A folder that another user could change
// is refused: one owned by another user (but root), or one the group or others may write to
// without the sticky bit, where anyone could put a link in place of a lock or state file.
bool PrepareStateFolder(const std::filesystem::path& dir, std::string& why);

// A device<N>/ folder and the programmer's state folder it sits in, each held to
// PrepareStateFolder.
bool PrepareDeviceFolder(const std::filesystem::path& dir, std::string& why);

// Creates `file` anew for `access` (O_WRONLY, O_RDWR): a name left behind is removed first and
// never followed, so no link put in its place is written through. The descriptor, or -1 with
// errno set.
int CreateFresh(const std::filesystem::path& file, int access);

// Replaces `file` with `bytes` through a temporary file beside it (left over by a crash, it is
// made anew), so that a process killed at any instant leaves the old content or the new.
// False with "cannot <step> <file>: <reason>" in `why`.
bool ReplaceStateFile(const std::filesystem::path& file, std::string_view bytes, std::string& why);

}  // namespace kt62::emu
