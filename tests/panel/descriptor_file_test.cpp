// Saving and reading descriptor files on disk.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "handlers/ufs/descriptor_file.h"
#include "tests/support/temp_dir.h"

namespace kt {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

TEST(DescriptorFileSave, ReplacesThePreviousFileAndLeavesNoTemporary) {
    test::TempDir dir;
    const std::string path = dir.Write("configuration.descr", std::string(300, 'x'));
    std::vector<std::uint8_t> d(144, 0x5A);
    d[0] = 0x90;
    d[1] = 0x01;
    ASSERT_EQ(SaveDescriptorFile(path, d), "");
    EXPECT_EQ(Bytes(test::TempDir::Read(path)), d);
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"configuration.descr"});

    // An empty descriptor gives an empty file, not a leftover of the last one.
    ASSERT_EQ(SaveDescriptorFile(path, {}), "");
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(DescriptorFileSave, AFailureIsReportedAndLeavesNothingLookingSaved) {
    test::TempDir dir;
    const std::vector<std::uint8_t> d{0x02, 0x01};

    EXPECT_EQ(SaveDescriptorFile(dir.Path() + "/missing/configuration.descr", d),
              "No such file or directory");
    EXPECT_TRUE(Names(dir.Path()).empty());

    // Something that is not a file stands under the name: it stays as it
    // was, and no partial file is left beside it.
    const std::string blocked = dir.Path() + "/configuration.descr";
    dir.Write("configuration.descr/keep", "k");
    EXPECT_EQ(SaveDescriptorFile(blocked, d), "not a regular file (a directory); not replaced");
    EXPECT_TRUE(fs::is_directory(blocked));
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"configuration.descr"});
}

TEST(DescriptorFileRead, ReadsAtMostOneBufferAndKeepsTheWholeLength) {
    test::TempDir dir;
    struct Case {
        std::size_t size;
        std::size_t headBytes;
    };
    for (const Case& c : {Case{0, 0}, Case{1, 1}, Case{144, 144}, Case{512, 512}, Case{600, 512}}) {
        std::string content(c.size, '\x11');
        for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i);
        const std::string path = dir.Write("f" + std::to_string(c.size) + ".descr", content);
        const DescriptorFileContent f = ReadDescriptorFile(path);
        ASSERT_EQ(f.status, DescriptorFileContent::Status::Ok) << c.size;
        EXPECT_EQ(f.length, c.size);
        EXPECT_EQ(f.head, Bytes(content.substr(0, c.headBytes))) << c.size;
    }
}

TEST(DescriptorFileRead, SaysWhyAFileCannotBeOpened) {
    test::TempDir dir;
    const DescriptorFileContent missing = ReadDescriptorFile(dir.Path() + "/none.descr");
    EXPECT_EQ(missing.status, DescriptorFileContent::Status::OpenFailed);
    EXPECT_EQ(missing.reason, "No such file or directory");

    const DescriptorFileContent folder = ReadDescriptorFile(dir.Path());
    EXPECT_EQ(folder.status, DescriptorFileContent::Status::OpenFailed);
    EXPECT_EQ(folder.reason, "not a regular file (a directory)");
    EXPECT_TRUE(folder.head.empty());
}

}  // namespace
}  // namespace kt
