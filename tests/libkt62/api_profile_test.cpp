// Reading the profile: when it is read again, and what a bad one does.
#include <fstream>

#include "emulator_fixture.h"

namespace kt62test {
namespace {

using ProfileTest = EmulatorTest;

std::string Captured(const std::function<void()>& f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

TEST_F(ProfileTest, ChangedFileIsReadAgainAtTheNextSearch) {
    UseProfile(R"({"programmers":[{"firmware_version":[1,2,3]}]})");
    KT62_HANDLE old = OpenAfterSearch(0);

    // Same size, same folder, rewritten at once: the bytes tell the change.
    UseProfile(R"({"programmers":[{"firmware_version":[4,5,6]},{}]})");
    EXPECT_EQ(kt62Search(), 2);
    uint8_t v[4];
    ASSERT_EQ(kt62GetVersion(old, v), KT62_OK) << "an open handle outlives a reload";
    EXPECT_EQ(v[0], 1);

    EXPECT_EQ(kt62Open(0), KT62_INVALID_HANDLE) << "position 0 is still held by the old handle";
    KT62_HANDLE fresh = kt62Open(1);
    opened_.push_back(fresh);
    ASSERT_EQ(kt62GetVersion(fresh, v), KT62_OK);
    EXPECT_EQ(v[0], 1) << "position 1 has defaults";

    kt62Close(old);
    KT62_HANDLE zero = kt62Open(0);
    opened_.push_back(zero);
    ASSERT_EQ(kt62GetVersion(zero, v), KT62_OK);
    EXPECT_EQ(v[0], 4);
}

TEST_F(ProfileTest, SwitchingTheVariableSwitchesProfiles) {
    const std::string two = dir_.Write("two.json", R"({"programmers":[{},{}]})");
    const std::string none = dir_.Write("none.json", R"({"programmers":[]})");
    for (int round = 0; round < 2; ++round) {
        setenv("KT62_EMULATOR", two.c_str(), 1);
        EXPECT_EQ(kt62Search(), 2);
        setenv("KT62_EMULATOR", none.c_str(), 1);
        EXPECT_EQ(kt62Search(), 0);
        unsetenv("KT62_EMULATOR");
        EXPECT_EQ(kt62Search(), 1);
    }
}

struct BadProfile {
    const char* content;
    const char* key;     // expected after the file name; "" for the file as a whole
    const char* reason;  // a fragment of the reason
};

// The message names the file, the key and the reason, and the library then has no programmer.
TEST_F(ProfileTest, BadProfileLeavesNoProgrammerAndSaysWhy) {
    const BadProfile cases[] = {
        {"", "", "empty"},
        {"not json", "", "not valid JSON"},
        {"[1,2]", "", "must be a JSON object"},
        {R"({"programmers":{}})", "programmers: ", "list"},
        {R"({"programers":[]})", "programers: ", "unknown key"},
        {R"({"programmers":[{"firmware_version":[1,2]}]})", "programmers[0].firmware_version: ", "3 numbers"},
        {R"({"programmers":[{"firmware_version":[1,2,256]}]})",
         "programmers[0].firmware_version[2]: ", "from 0 to 255"},
        {R"({"programmers":[{"product_name":"12345678901234567"}]})",
         "programmers[0].product_name: ", "at most 16 bytes"},
        {R"({"programmers":[{},{"faults":[{},{"call":"kt62UfsReadFlag","after":1e400}]}]})", "",
         "not valid JSON"},
        {R"({"programmers":[{},{"faults":[{"call":"kt62UfsReadFlag"},{"call":"kt62UfsReadFlag","after":-1}]}]})",
         "programmers[1].faults[1].after: ", "from 0 to 4294967295"},
        {R"({"programmers":[{"faults":[{"call":"kt62UfsReadFlag","after":99999999999999999999999}]}]})",
         "programmers[0].faults[0].after: ", "integer"},
        {"{\"a\":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[", "",
         "nested deeper"},
    };
    for (const BadProfile& c : cases) {
        const std::string path = UseProfile(c.content);
        std::string err = Captured([] { EXPECT_EQ(kt62Search(), 0); });
        EXPECT_EQ(err.rfind("kt62: " + path + ": " + c.key, 0), 0u) << c.content << "\n" << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << c.content << "\n" << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(kt62Open(0), KT62_INVALID_HANDLE);
        EXPECT_EQ(Captured([] { kt62Search(); }), "") << "an unchanged file is not reported again";
    }
}

TEST_F(ProfileTest, UnreadableProfilesLeaveNoProgrammer) {
    const std::string missing = dir_.Path() + "/missing.json";
    setenv("KT62_EMULATOR", missing.c_str(), 1);
    std::string err = Captured([] { EXPECT_EQ(kt62Search(), 0); });
    EXPECT_EQ(err, "kt62: " + missing + ": cannot be read: No such file or directory\n");

    setenv("KT62_EMULATOR", dir_.Path().c_str(), 1);
    err = Captured([] { EXPECT_EQ(kt62Search(), 0); });
    EXPECT_NE(err.find("not a regular file"), std::string::npos) << err;

    const std::string big = dir_.Path() + "/big.json";
    {
        std::ofstream out(big);
        out << "{\"state_dir\":\"" << std::string(2 << 20, 'x') << "\"}";
    }
    setenv("KT62_EMULATOR", big.c_str(), 1);
    err = Captured([] { EXPECT_EQ(kt62Search(), 0); });
    EXPECT_NE(err.find("larger than"), std::string::npos) << err;

    // Fixing the file brings the programmer back.
    UseProfile(R"({})", "missing.json");
    setenv("KT62_EMULATOR", missing.c_str(), 1);
    EXPECT_EQ(kt62Search(), 1);
}

}  // namespace
}  // namespace kt62test
