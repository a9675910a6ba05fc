#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <tuple>

#include "fileio/file_access.h"
#include "tests/support/temp_dir.h"

namespace {
bool write_takes_nothing = false;  // as a full device may say it is full
}  // namespace

// Every write(2) of the program, the one under test included.
extern "C" ssize_t write(int fd, const void* data, size_t size) {
    return write_takes_nothing ? 0 : syscall(SYS_write, fd, data, size);
}

namespace kt::fileio {
namespace {

using kt::test::TempDir;

bool Make(const std::string& kind, const std::string& p, const TempDir& d) {
    if (kind == "regular") return !d.Write(p, "old").empty();
    if (kind == "fifo") return mkfifo(p.c_str(), 0644) == 0;
    if (kind == "oversized") return !d.Write(p, std::string(65, 'x')).empty();
    if (kind == "symlink") return !d.Write("target", "old").empty() && symlink("target", p.c_str()) == 0;
    return kind == "missing";
}

TEST(FileAccess, EachKindIsReadOrRefusedAndOnlyRegularFilesAreReplaced) {
    // clang-format off
    const struct { const char* kind; const char* read; int error; const char* replace; } cases[] = {  // "": done
        {"regular", "", 0, ""},
        {"fifo", "not a regular file (a FIFO)", EINVAL, "not a regular file (a FIFO); not replaced"},
        {"symlink", "", 0, ""},
        {"missing", "No such file or directory", ENOENT, ""},
        {"oversized", "larger than 64 bytes, the limit for this file", EFBIG, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);  // a FIFO that blocked would hang: the timeout catches that
        const TempDir dir;
        const std::string path = dir.Path() + "/name";
        ASSERT_TRUE(Make(c.kind, path, dir));
        struct stat before {
        }, after{};
        const bool existed = lstat(path.c_str(), &before) == 0;
        std::string why_read, why_open, why;
        int error = 0;
        EXPECT_EQ(ReadWhole(path, 64, why_read, &error).value_or("-"), *c.read ? "-" : "old");
        EXPECT_EQ(why_read, c.read);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(OpenForWriting(path, WriteMode::Append, why_open).IsOpen(), !*c.replace) << why_open;
        EXPECT_EQ(ReplaceWhole(path, "new", why), !*c.replace);
        EXPECT_EQ(why, c.replace);
        ASSERT_EQ(lstat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, existed ? before.st_mode & S_IFMT : S_IFREG)
            << "a link stays a link";
        EXPECT_EQ(*c.replace ? "new" : TempDir::Read(path), "new");
    }
}

TEST(FileAccess, OldContentGoesOnlyWhenAskedOrWhenTheNewIsWhole) {
    const TempDir dir;
    std::string why;
    EXPECT_TRUE(OpenForWriting(dir.Write("a", "old"), WriteMode::Append, why).IsOpen());
    EXPECT_TRUE(OpenForWriting(dir.Write("t", "old"), WriteMode::Truncate, why).IsOpen());
    EXPECT_EQ(TempDir::Read(dir.Path() + "/a") + "|" + TempDir::Read(dir.Path() + "/t"), "old|");
    write_takes_nothing = true;
    const bool replaced = ReplaceWhole(dir.Path() + "/a", "new", why);
    write_takes_nothing = false;
    EXPECT_FALSE(replaced);
    EXPECT_EQ(why, "No space left on device");
    EXPECT_EQ(TempDir::Read(dir.Path() + "/a"), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2)
        << "a temporary file left";
}

TEST(FileAccess, FoldersAreMadeWithTheirParentsOnlyWhereAsked) {
    const TempDir dir;
    const std::string d = dir.Path() + "/";
    dir.Write("file", "x");
    for (const auto& [made, error] :
         {std::pair{"a/b", 0}, {"a/b/c/", 0}, {"file", ENOTDIR}, {"file/x/y", ENOTDIR}})
        EXPECT_EQ(MakeFolders(d + made, 0700), error) << made;
    struct stat st {};
    ASSERT_EQ(stat((d + "a/b/c").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::string why;
    EXPECT_FALSE(ReplaceWhole(d + "no/such/file", "x", why)) << "writing makes no folder";
    EXPECT_EQ(why, "No such file or directory");
    EXPECT_FALSE(OpenForWriting(d + "no/file", WriteMode::Truncate, why).IsOpen());
    EXPECT_FALSE(std::filesystem::exists(d + "no"));
}

TEST(FileAccess, WritesFollowOnlyLinksOwnedByTheUserOrTheTargetsOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "links of another user are made as root";
    // The link "l", another user's, to `link_to`; `f` belongs to `owner`. "": written.
    const std::tuple<const char*, const char*, uid_t, const char*> cases[] = {
        {"f", "l", 0, "a symbolic link owned by uid 65534 to a file owned by uid 0"},
        {"f", "l", 65534, ""},
        {"none", "l", 0, "a symbolic link owned by uid 65534 to nothing"},
        {"d", "l/f", 0, "a symbolic link (@/l) owned by uid 65534 to a file owned by uid 0"}};
    for (const auto& [link_to, written, owner, reason] : cases) {
        const TempDir dir;
        const std::string d = dir.Path() + "/";
        ASSERT_EQ(mkdir((d + "d").c_str(), 0755), 0);
        ASSERT_EQ(chown(dir.Write("f", "old").c_str(), owner, owner), 0);
        dir.Write("d/f", "old");
        ASSERT_EQ(symlink(link_to, (d + "l").c_str()), 0);
        ASSERT_EQ(lchown((d + "l").c_str(), 65534, 65534), 0);
        std::string refused = *reason ? std::string(reason) + "; not followed for writing" : "";
        if (const auto at = refused.find('@'); at != std::string::npos) refused.replace(at, 1, dir.Path());
        std::string why, why_replaced;
        EXPECT_EQ(OpenForWriting(d + written, WriteMode::Append, why).IsOpen(), refused.empty());
        EXPECT_EQ(ReplaceWhole(d + written, "new", why_replaced), refused.empty());
        EXPECT_EQ(why, refused);
        EXPECT_EQ(why_replaced, refused) << link_to;
        EXPECT_EQ(TempDir::Read(d + "f") + TempDir::Read(d + "d/f"), refused.empty() ? "newold" : "oldold");
        EXPECT_FALSE(std::filesystem::exists(d + "none"));
    }
}

// What another user meets in folders it may not change or not list: root is let through both.
TEST(FileAccess, AFolderRefusingNewFilesHasItsFilesRewrittenInPlaceAndAnUnlistableOneIsNoBar) {
    const struct {
        mode_t folder;
        const char* bytes;
    } cases[] = {{0555, "a longer content"}, {0555, "n"}, {0333, "a longer content"}};
    for (const auto& [folder, bytes] : cases) {
        const TempDir dir;
        const std::string f = dir.Write("d/f", "old");
        const std::string d = dir.Path() + "/d";
        ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
        if (geteuid() == 0) {
            ASSERT_EQ(chown(f.c_str(), 65534, 65534), 0);
        }
        ASSERT_EQ(chmod(d.c_str(), folder), 0);
        const pid_t child = fork();
        if (child == 0) {
            std::string why;
            const bool dropped = geteuid() != 0 ||
                                 (setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0);
            _exit(dropped && ReplaceWhole(f, bytes, why) ? 0 : 1);
        }
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        chmod(d.c_str(), 0755);
        EXPECT_EQ(status, 0) << std::oct << folder;
        EXPECT_EQ(TempDir::Read(f), bytes);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d), {}), 1);
    }
}

}  // namespace
}  // namespace kt::fileio
