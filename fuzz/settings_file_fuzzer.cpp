// The settings file: reads of any bytes a Config.ini may hold, and a write
// into them that a read then finds.
//
// Input: section, key and value texts (each ends at a backslash followed by
// another character), the file's bytes, then 2 bytes of buffer size at the
// very end.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "common/settings_file.h"
#include "common/text_format.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/temp_dir.h"

namespace {

bool ValidUtf8(const std::string& s) { return kt::Utf16ToUtf8(kt::Utf8ToUtf16(s)) == s; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(32);
    const std::string key = in.ConsumeRandomLengthString(32);
    const std::string value = in.ConsumeRandomLengthString(64);
    const auto bufferChars = in.ConsumeIntegralInRange<std::size_t>(0, 300);
    const std::string bytes = in.ConsumeRemainingBytesAsString();

    const std::string path = kt::fuzz::ScratchDir() + "/Config.ini";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;

    (void)kt::ReadSettingInt(path, section, key, -7);
    const std::string read = kt::ReadSettingString(path, section, key, "default", bufferChars);
    KT_FUZZ_CHECK(ValidUtf8(read));
    KT_FUZZ_CHECK(kt::Utf8ToUtf16(read).size() < std::max<std::size_t>(bufferChars, 1));

    if (!kt::WriteSettingString(path, section, key, value)) {
        KT_FUZZ_CHECK(kt::test::TempDir::Read(path) == bytes);  // a refused write leaves the file alone
        return 0;
    }
    const std::string written = kt::test::TempDir::Read(path);
    const std::string back = kt::ReadSettingString(path, section, key, "\x01missing", 4096);
    if (ValidUtf8(value)) KT_FUZZ_CHECK(back == value);
    // Writing the value that is there already changes no byte.
    KT_FUZZ_CHECK(kt::WriteSettingString(path, section, key, value));
    KT_FUZZ_CHECK(kt::test::TempDir::Read(path) == written);
    return 0;
}
