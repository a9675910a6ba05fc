// Any descriptor file, saved and read back as the write command reads it. Input: 4 bytes of IDN, the file.
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "handlers/ufs/descriptor_file.h"

KT_FUZZ_TARGET(data, size) {
    FuzzedDataProvider in(data, size);
    const auto idn = in.ConsumeIntegral<std::uint32_t>();
    const std::vector<std::uint8_t> bytes = in.ConsumeRemainingBytes<std::uint8_t>();

    // The write command hands file.head with file.length bytes to the library.
    const std::string path = kt::fuzz::ScratchDir() + "/chosen.descr";
    KT_FUZZ_CHECK(kt::SaveDescriptorFile(path, bytes).empty());
    const kt::DescriptorFileContent file = kt::ReadDescriptorFile(path);
    const std::size_t head_bytes = std::min(bytes.size(), kt::kDescriptorBufferSize);
    KT_FUZZ_CHECK(file.status == kt::DescriptorFileContent::Status::Ok);
    KT_FUZZ_CHECK(file.length == bytes.size());
    KT_FUZZ_CHECK(file.head == std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + head_bytes));
    if (kt::DescriptorFileAccepted(file.head, file.length, idn))
        KT_FUZZ_CHECK(file.length <= file.head.size() && file.length >= 2 && file.head[0] == file.length &&
                      file.head[1] == idn);
}
