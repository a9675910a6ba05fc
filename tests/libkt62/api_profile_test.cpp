// Reading the profile: when it is read again, and what a bad one does (the parser's own table
// names every refusal's key).
#include <fstream>

#include "emulator_fixture.h"

namespace kt62test {
namespace {

using ProfileTest = EmulatorTest;

TEST_F(ProfileTest, ChangedFileIsReadAgainAtTheNextSearch) {
    UseProfile(R"({"programmers":[{"firmware_version":[1,2,3]}]})");
    KT62_HANDLE old = OpenAfterSearch(0);
    // Same size, same folder, rewritten at once: the bytes tell the change.
    UseProfile(R"({"programmers":[{"firmware_version":[4,5,6]},{}]})");
    uint8_t v[4];
    EXPECT_EQ(kt62Open(1), KT62_INVALID_HANDLE) << "only a search looks for changes";
    EXPECT_EQ(kt62Search(), 2);
    ASSERT_EQ(kt62GetVersion(old, v), KT62_OK) << "an open handle outlives a reload";
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(kt62Open(0), KT62_INVALID_HANDLE) << "position 0 is still held by the old handle";
    kt62Close(old);
    ASSERT_EQ(kt62GetVersion(OpenAfterSearch(0), v), KT62_OK);
    EXPECT_EQ(v[0], 4);
    unsetenv("KT62_EMULATOR");
    EXPECT_EQ(kt62Search(), 1) << "without the variable, the built-in programmer";
}

// The message names the file, the key and the reason, once; the library then has no programmer
// until the file is fixed.
TEST_F(ProfileTest, BadOrUnreadableProfileLeavesNoProgrammerAndSaysWhy) {
    const std::string big = dir_.Path() + "/big.json", missing = dir_.Path() + "/missing.json";
    std::ofstream(big) << "{\"state_dir\":\"" << std::string(2 << 20, 'x') << "\"}";
    const struct {
        const char* content;  // nullptr: the path alone
        std::string path, message;
    } cases[] = {
        {"", dir_.Path() + "/profile.json", "the file is empty"},
        {R"({"programmers":[{"firmware_version":[1,2,256]}]})", dir_.Path() + "/profile.json",
         "programmers[0].firmware_version[2]: "},
        {nullptr, missing, "cannot be read: No such file or directory\n"},
        {nullptr, dir_.Path(), "not a regular file"},
        {nullptr, big, "larger than"},
    };
    for (const auto& c : cases) {
        c.content ? (void)UseProfile(c.content) : (void)setenv("KT62_EMULATOR", c.path.c_str(), 1);
        const std::string err = Stderr([] { EXPECT_EQ(kt62Search(), 0); });
        EXPECT_EQ(err.rfind("kt62: " + c.path + ": ", 0), 0u) << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(kt62Open(0), KT62_INVALID_HANDLE);
        if (c.content) {
            EXPECT_EQ(Stderr([] { kt62Search(); }), "") << "an unchanged file is not reported again";
        }
    }
    UseProfile(R"({})", "missing.json");
    setenv("KT62_EMULATOR", missing.c_str(), 1);
    EXPECT_EQ(kt62Search(), 1) << "fixing the file brings the programmer back";
}

}  // namespace
}  // namespace kt62test
