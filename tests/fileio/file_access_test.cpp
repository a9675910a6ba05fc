// Every kind of thing a name can point at, through each way of opening it. A FIFO or a device
// that blocked or was replaced would hang the test (the timeout catches it) or change its kind.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "fileio/file_access.h"
#include "tests/support/temp_dir.h"

namespace kt::fileio {
namespace {

using kt::test::TempDir;

constexpr std::size_t kLimit = 64;

struct Kind {
    const char* name;
    std::function<bool(const std::string& path, const TempDir& dir)> make;  // false: cannot here
    const char* read_reason;     // nullptr: read and replaced like a regular file
    const char* replace_reason;  // nullptr: replaced
};

bool MakeSocket(const std::string& path) {
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const bool ok = ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(s);
    return ok;
}

const Kind kKinds[] = {
    {"regular", [](const std::string& p, const TempDir& d) { return !d.Write(p, "old").empty(); }, nullptr,
     nullptr},
    {"fifo", [](const std::string& p, const TempDir&) { return ::mkfifo(p.c_str(), 0644) == 0; },
     "not a regular file (a FIFO)", "not a regular file (a FIFO); not replaced"},
    {"socket", [](const std::string& p, const TempDir&) { return MakeSocket(p); },
     "not a regular file (a socket)", "not a regular file (a socket); not replaced"},
    {"device",  // a copy of /dev/null's node: what a mistake destroys is the copy
     [](const std::string& p, const TempDir&) {
         return ::mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
     },
     "not a regular file (a character device)", "not a regular file (a character device); not replaced"},
    {"directory", [](const std::string& p, const TempDir&) { return ::mkdir(p.c_str(), 0755) == 0; },
     "not a regular file (a directory)", "not a regular file (a directory); not replaced"},
    {"symlink to regular",
     [](const std::string& p, const TempDir& d) {
         d.Write("target", "old");
         return ::symlink((d.Path() + "/target").c_str(), p.c_str()) == 0;
     },
     nullptr, nullptr},
    {"symlink to fifo",
     [](const std::string& p, const TempDir& d) {
         const std::string fifo = d.Path() + "/fifo-target";
         return ::mkfifo(fifo.c_str(), 0644) == 0 && ::symlink(fifo.c_str(), p.c_str()) == 0;
     },
     "not a regular file (a FIFO)", "not a regular file (a FIFO); not replaced"},
    {"missing", [](const std::string&, const TempDir&) { return true; }, "No such file or directory",
     nullptr},
    {"unreadable",
     [](const std::string& p, const TempDir& d) {
         d.Write(p, "old");
         return ::geteuid() != 0 && ::chmod(p.c_str(), 0) == 0;  // root reads everything
     },
     "Permission denied", nullptr},
    {"oversized",
     [](const std::string& p, const TempDir& d) { return !d.Write(p, std::string(kLimit + 1, 'x')).empty(); },
     "larger than 64 bytes, the limit for this file", nullptr},
};

TEST(FileAccess, EachKindIsReadOrRefusedAndNeverReplacedUnlessRegular) {
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        const TempDir dir;
        const std::string path = dir.Path() + "/name";
        if (!k.make(path, dir)) continue;
        struct stat before {};
        const bool existed = ::stat(path.c_str(), &before) == 0;

        std::string why;
        const auto text = ReadWhole(path, kLimit, why);
        EXPECT_EQ(text.has_value(), k.read_reason == nullptr) << why;
        if (k.read_reason) {
            EXPECT_EQ(why, k.read_reason);
        }

        why.clear();
        const bool replaced = ReplaceWhole(path, "new", why);
        EXPECT_EQ(replaced, k.replace_reason == nullptr) << why;
        if (k.replace_reason) {
            EXPECT_EQ(why, k.replace_reason);
        }
        struct stat after {};
        if (replaced) {
            EXPECT_EQ(TempDir::Read(path), "new");
            struct stat link {};
            // A link stays a link; the file behind it changed.
            if (existed && ::lstat(path.c_str(), &link) == 0 &&
                std::string(k.name).rfind("symlink", 0) == 0) {
                EXPECT_TRUE(S_ISLNK(link.st_mode));
            }
        } else if (existed) {
            ASSERT_EQ(::stat(path.c_str(), &after), 0);
            EXPECT_EQ(after.st_mode, before.st_mode);
            EXPECT_EQ(after.st_ino, before.st_ino);
        }

        why.clear();
        File w = OpenForWriting(path, WriteMode::Append, why);
        EXPECT_EQ(w.IsOpen(), k.replace_reason == nullptr) << why;
    }
}

TEST(FileAccess, ReplacingNeverCreatesFolders) {
    const TempDir dir;
    std::string why;
    EXPECT_FALSE(ReplaceWhole(dir.Path() + "/no/such/folder/file", "x", why));
    EXPECT_EQ(why, "No such file or directory");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/no"));
    why.clear();
    EXPECT_FALSE(OpenForWriting(dir.Path() + "/no/file", WriteMode::Truncate, why).IsOpen());
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/no"));
}

}  // namespace
}  // namespace kt::fileio
