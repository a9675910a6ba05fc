// Reads of any bytes a Config.ini may hold, and a write into them that a read then finds.
#include <fstream>

#include "common/settings_file.h"
#include "encoding/utf16.h"
#include "fuzz/fuzz_support.h"

KT_FUZZ_TARGET(data, size) {
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
    KT_FUZZ_CHECK(kt::fuzz::ValidUtf8(read));
    KT_FUZZ_CHECK(kt::Utf8ToUtf16(read).size() < std::max<std::size_t>(bufferChars, 1));

    // A refused write changes nothing; an accepted one reads back, and rewriting it changes no byte.
    if (!kt::WriteSettingString(path, section, key, value))
        return KT_FUZZ_CHECK(kt::test::TempDir::Read(path) == bytes);
    const std::string written = kt::test::TempDir::Read(path);
    if (kt::fuzz::ValidUtf8(value))
        KT_FUZZ_CHECK(kt::ReadSettingString(path, section, key, "\x01missing", 4096) == value);
    KT_FUZZ_CHECK(kt::WriteSettingString(path, section, key, value));
    KT_FUZZ_CHECK(kt::test::TempDir::Read(path) == written);
}
