// The call trace: one exact line per call, in call order, appended to the file.
#include "emulator_fixture.h"

namespace kt62test {
namespace {

TEST_F(EmulatorTest, EveryCallAppendsOneLineWithItsArgumentsAndResult) {
    UseProfile(R"({"programmers":[{},{}]})");
    setenv("KT62_TRACE", dir_.Write("trace.txt", "earlier\n").c_str(), 1);
    ASSERT_EQ(kt62Search(), 2);
    KT62_HANDLE h = kt62Open(1);
    const std::string n = std::to_string(Id(h));
    uint8_t buf[256], v4[4], name[16], extra[8], flag;
    uint32_t a, b;
    const kt62_char16 path[] = {'C', ':', '\\', 'f', 'w', ' ', '"', '1', '"', 0x00E9, '\n', 0};
    kt62GetVersion(h, v4);
    kt62GetProduct(h, v4, name, extra);
    kt62ScsiInquiry(h, buf);
    kt62ScsiReadCapacity(h, &a, &b);
    kt62ScsiRead10(h, 7, 4096, buf, 0);
    kt62ScsiWrite10(h, 4294967295u, 512, buf, 0);
    kt62SetPacketSize(65536);
    kt62UfsReadFlag(h, 5, &flag);
    kt62UfsSetFlag(h, 6);
    kt62UfsClearFlag(h, 7);
    kt62UfsToggleFlag(h, 255);
    kt62UfsReadAttribute(h, 11, 0, 0, &a);
    kt62UfsWriteAttribute(h, 11, 1, 2, 4294967295u);
    kt62UfsReadDescriptor(h, 1, 0, 0, buf, 144);
    kt62UfsWriteDescriptor(h, 1, 0, 0, buf, 144);
    kt62UfsGetDME(h, 0x1560, 4, 3, &a);  // selector 4 on a lane-less attribute: UIC bad index
    kt62UfsReset(h, 1);
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
        "kt62GetVersion h=" + n + " -> 0",
        "kt62GetProduct h=" + n + " -> 0",
        "kt62ScsiInquiry h=" + n + " -> 0",
        "kt62ScsiReadCapacity h=" + n + " -> 0",
        "kt62ScsiRead10 h=" + n + " lba=7 bytes_per_sector=4096 count=0 -> 0",
        "kt62ScsiWrite10 h=" + n + " lba=4294967295 bytes_per_sector=512 count=0 -> 3",
        "kt62SetPacketSize packet_bytes=65536 -> 0",
        "kt62UfsReadFlag h=" + n + " idn=5 -> 0",
        "kt62UfsSetFlag h=" + n + " idn=6 -> 0",
        "kt62UfsClearFlag h=" + n + " idn=7 -> -3",
        "kt62UfsToggleFlag h=" + n + " idn=255 -> -3",
        "kt62UfsReadAttribute h=" + n + " idn=11 index=0 selector=0 -> 0",
        "kt62UfsWriteAttribute h=" + n + " idn=11 index=1 selector=2 value=4294967295 -> -6",
        "kt62UfsReadDescriptor h=" + n + " idn=1 index=0 selector=0 length=144 -> 0",
        "kt62UfsWriteDescriptor h=" + n + " idn=1 index=0 selector=0 length=144 -> 0",
        "kt62UfsGetDME h=" + n + " attr_id=5472 selector=4 kind=3 -> -196603",
        "kt62UfsReset h=" + n + " kind=1 -> 0",
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
