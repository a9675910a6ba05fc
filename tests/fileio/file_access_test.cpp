// Every kind of thing a name can point at, through each way of opening it. A FIFO that blocked
// would hang the test (its timeout catches that); a device or a folder that was replaced would
// change its kind.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "fileio/file_access.h"
#include "tests/support/temp_dir.h"

namespace kt::fileio {
namespace {

using kt::test::TempDir;

bool Make(const std::string& kind, const std::string& p, const TempDir& d) {
    if (kind == "regular") return !d.Write(p, "old").empty();
    if (kind == "fifo") return mkfifo(p.c_str(), 0644) == 0;
    if (kind == "directory") return mkdir(p.c_str(), 0755) == 0;
    if (kind == "device")
        return mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // /dev/null's, as root
    if (kind == "oversized") return !d.Write(p, std::string(65, 'x')).empty();
    if (kind == "unreadable") return !d.Write(p, "old").empty() && geteuid() != 0 && chmod(p.c_str(), 0) == 0;
    if (kind == "symlink") return !d.Write("target", "old").empty() && symlink("target", p.c_str()) == 0;
    if (kind == "symlink to fifo")
        return mkfifo((p + ".fifo").c_str(), 0644) == 0 && symlink((p + ".fifo").c_str(), p.c_str()) == 0;
    if (kind == "socket") {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, p.c_str(), sizeof addr.sun_path - 1);
        const int s = socket(AF_UNIX, SOCK_STREAM, 0);
        const bool ok = bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        close(s);
        return ok;
    }
    return kind == "missing";
}

TEST(FileAccess, EachKindIsReadOrRefusedAndOnlyRegularFilesAreReplaced) {
    // clang-format off
    const struct { const char* kind; const char* read; const char* replace; } cases[] = {  // "": done
        {"regular", "", ""},
        {"fifo", "not a regular file (a FIFO)", "not a regular file (a FIFO); not replaced"},
        {"socket", "not a regular file (a socket)", "not a regular file (a socket); not replaced"},
        {"device", "not a regular file (a character device)", "not a regular file (a character device); not replaced"},
        {"directory", "not a regular file (a directory)", "not a regular file (a directory); not replaced"},
        {"symlink", "", ""},
        {"symlink to fifo", "not a regular file (a FIFO)", "not a regular file (a FIFO); not replaced"},
        {"missing", "No such file or directory", ""},
        {"unreadable", "Permission denied", ""},
        {"oversized", "larger than 64 bytes, the limit for this file", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const TempDir dir;
        const std::string path = dir.Path() + "/name";
        if (!Make(c.kind, path, dir)) continue;  // not here (a device needs root, root reads all)
        struct stat before {};
        const bool existed = lstat(path.c_str(), &before) == 0;
        std::string why;
        EXPECT_EQ(ReadWhole(path, 64, why).has_value(), !*c.read);
        EXPECT_EQ(why, c.read);
        why.clear();
        EXPECT_EQ(OpenForWriting(path, WriteMode::Append, why).IsOpen(), !*c.replace) << why;
        why.clear();
        EXPECT_EQ(ReplaceWhole(path, "new", why), !*c.replace);
        EXPECT_EQ(why, c.replace);
        struct stat after {};
        ASSERT_EQ(lstat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, existed ? before.st_mode & S_IFMT : S_IFREG)
            << "a link stays a link";
        EXPECT_EQ(*c.replace ? "new" : TempDir::Read(path), "new");
    }
}

TEST(FileAccess, OpeningToWriteEmptiesAnOldFileOnlyWhenAskedTo) {
    // A new image over a longer old one must not keep the old one's tail.
    for (const auto& [mode, left] :
         {std::pair{WriteMode::Truncate, ""}, std::pair{WriteMode::Append, "old"}}) {
        const TempDir dir;
        const std::string path = dir.Write("name", "old");
        std::string why;
        EXPECT_TRUE(OpenForWriting(path, mode, why).IsOpen()) << why;
        EXPECT_EQ(TempDir::Read(path), left);
    }
}

TEST(FileAccess, WritingNeverCreatesFolders) {
    const TempDir dir;
    std::string why;
    EXPECT_FALSE(ReplaceWhole(dir.Path() + "/no/such/file", "x", why));
    EXPECT_EQ(why, "No such file or directory");
    EXPECT_FALSE(OpenForWriting(dir.Path() + "/no/file", WriteMode::Truncate, why).IsOpen());
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/no"));
}

TEST(FileAccess, WritesFollowOnlyLinksOwnedByTheUserOrTheTargetsOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "links of another user are made as root";
    // The link "l", another user's, to `link_to`; `f` belongs to `owner`. "": written.
    const struct {
        const char *link_to, *written;
        uid_t owner;
        const char* refused;
    } cases[] = {{"f", "l", 0, "a symbolic link owned by uid 65534 to a file owned by uid 0"},
                 {"f", "l", 65534, ""},
                 {"none", "l", 0, "a symbolic link owned by uid 65534 to nothing"},
                 {"d", "l/f", 0, "a symbolic link (@/l) owned by uid 65534 to a file owned by uid 0"}};
    for (const auto& c : cases) {
        const TempDir dir;
        const std::string d = dir.Path() + "/";
        ASSERT_EQ(mkdir((d + "d").c_str(), 0755) | chown(dir.Write("f", "old").c_str(), c.owner, c.owner), 0);
        dir.Write("d/f", "old");
        ASSERT_EQ(symlink(c.link_to, (d + "l").c_str()) | lchown((d + "l").c_str(), 65534, 65534), 0);
        std::string refused = *c.refused ? std::string(c.refused) + "; not followed for writing" : "";
        if (const auto at = refused.find('@'); at != std::string::npos) refused.replace(at, 1, dir.Path());
        std::string why, why_replaced;
        EXPECT_EQ(OpenForWriting(d + c.written, WriteMode::Append, why).IsOpen(), refused.empty());
        EXPECT_EQ(ReplaceWhole(d + c.written, "new", why_replaced), refused.empty());
        EXPECT_EQ(why + "|" + why_replaced, refused + "|" + refused) << c.link_to;
        EXPECT_EQ(TempDir::Read(d + "f") + TempDir::Read(d + "d/f"), refused.empty() ? "newold" : "oldold");
        EXPECT_FALSE(std::filesystem::exists(d + "none"));
    }
}

}  // namespace
}  // namespace kt::fileio
