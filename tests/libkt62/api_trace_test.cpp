// The call trace: one exact line per call, in call order, appended to the file.
#include "emulator_fixture.h"

namespace kt62test {
namespace {

// The e2e cases pin the lines of the common calls; these are the rest and the odd arguments.
TEST_F(EmulatorTest, EveryCallAppendsOneLineWithItsArgumentsAndResult) {
    UseProfile(R"({"programmers":[{},{}]})");
    setenv("KT62_TRACE", dir_.Write("trace.txt", "earlier\n").c_str(), 1);
    ASSERT_EQ(kt62Search(), 2);
    KT62_HANDLE h = kt62Open(1);
    const std::string n = std::to_string(Id(h));
    uint8_t buf[256];
    uint32_t a;
    const kt62_char16 path[] = {'C', ':', '\\', 'f', 'w', ' ', '"', '1', '"', 0x00E9, '\n', 0};
    kt62ScsiInquiry(h, buf);
    kt62ScsiWrite10(h, 4294967295u, 512, buf, 0);
    kt62UfsToggleFlag(h, 255);
    kt62UfsWriteAttribute(h, 11, 1, 2, 4294967295u);
    kt62UfsGetDME(h, 0x1560, 4, 3, &a);  // selector 4 on a lane-less attribute: UIC bad index
    kt62Update(h, path);
    kt62Update(h, nullptr);
    kt62Close(h);
    kt62Close(h);
    kt62Close(KT62_INVALID_HANDLE);
    kt62Open(-1);
    unsetenv("KT62_TRACE");
    kt62Search();
    const std::vector<std::string> expected = {
        "earlier",
        "kt62Search -> 2",
        "kt62Open position=1 -> " + n,
        "kt62ScsiInquiry h=" + n + " -> 0",
        "kt62ScsiWrite10 h=" + n + " lba=4294967295 bytes_per_sector=512 count=0 -> 3",
        "kt62UfsToggleFlag h=" + n + " idn=255 -> -3",
        "kt62UfsWriteAttribute h=" + n + " idn=11 index=1 selector=2 value=4294967295 -> -6",
        "kt62UfsGetDME h=" + n + " attr_id=5472 selector=4 kind=3 -> -196603",
        "kt62Update h=" + n + " path=\"C:\\\\fw \\\"1\\\"\xC3\xA9\\x0a\" -> 11",
        "kt62Update h=" + n + " path=null -> 3",
        "kt62Close h=" + n + " -> 0",
        "kt62Close h=" + n + " -> 2",
        "kt62Close h=-1 -> 1",
        "kt62Open position=-1 -> -1",
    };
    EXPECT_EQ(TraceLines(), expected);
}

}  // namespace
}  // namespace kt62test
