#include "emu/state_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "config.h"
#include "fileio/file_access.h"

namespace kt62::emu {

bool PrepareStateFolder(const std::filesystem::path& dir, std::string& why) {
    const std::string name = dir.string();
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0 && errno == ENOENT) {
        std::error_code ec;
        if (dir == DefaultStateDir()) {
            // Private, as the base folders of a user's files are: a umask that lets the group
            // write would otherwise make a folder refused below.
            if (const int error = kt::fileio::MakeFolders(name, 0700); error != 0)
                ec.assign(error, std::generic_category());
        } else if (!std::filesystem::is_directory(dir.parent_path(), ec)) {
            why = dir.parent_path().string() + ": no such folder; nothing created";
            return false;
        } else if (::mkdir(name.c_str(), 0755) != 0 && errno != EEXIST) {
            ec.assign(errno, std::generic_category());
        }
        if (ec) {
            why = name + ": cannot create: " + ec.message();
            return false;
        }
    }
    if (::stat(name.c_str(), &st) != 0) {
        why = name + ": " + std::generic_category().message(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        why = name + ": not a folder";
        return false;
    }
    if (st.st_uid != ::geteuid() && st.st_uid != 0) {
        why = name + ": owned by uid " + std::to_string(st.st_uid) +
              ", another user; state is kept only in a folder of this user's own";
        return false;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) {
        why = name + ": other users may write to it (mode " + std::to_string((st.st_mode >> 6) & 7) +
              std::to_string((st.st_mode >> 3) & 7) + std::to_string(st.st_mode & 7) +
              "); state is kept only in a folder they cannot change";
        return false;
    }
    return true;
}

bool PrepareDeviceFolder(const std::filesystem::path& dir, std::string& why) {
    return PrepareStateFolder(dir.parent_path(), why) && PrepareStateFolder(dir, why);
}

int CreateFresh(const std::filesystem::path& file, int access) {
    // A name that cannot be removed is then refused by the exclusive create.
    (void)::unlink(file.c_str());
    return ::open(file.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

bool ReplaceStateFile(const std::filesystem::path& file, std::string_view bytes, std::string& why) {
    const std::string temp = file.string() + ".tmp";
    (void)::unlink(temp.c_str());  // as in CreateFresh
    const char* step = "";
    const int error = kt::fileio::ReplaceVia(file.string(), temp, bytes, 0644, step);
    if (error == 0) return true;
    const bool temp_named = std::string_view(step) == "create" || std::string_view(step) == "write" ||
                            std::string_view(step) == "close";
    why = std::string("cannot ") + step + " " + (temp_named ? temp : file.string()) + ": " +
          std::generic_category().message(error);
    return false;
}

}  // namespace kt62::emu
