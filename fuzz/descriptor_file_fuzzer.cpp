// The descriptor file: whatever a file chosen for the descriptor write holds,
// and whatever lengths a device gives the descriptor read to save. Input: the
// file's bytes, the two reads' byte 0 and 4 bytes of IDN (numbers from the end).
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "handlers/ufs/descriptor_file.h"

KT_FUZZ_TARGET(data, size) {
    FuzzedDataProvider in(data, size);
    const auto idn = in.ConsumeIntegral<std::uint32_t>();
    const auto lengthByte0 = in.ConsumeIntegral<std::uint8_t>();
    const auto fullByte0 = in.ConsumeIntegral<std::uint8_t>();
    const std::vector<std::uint8_t> bytes = in.ConsumeRemainingBytes<std::uint8_t>();

    // The write command: read, check, and hand file.head with file.length
    // bytes to the library.
    const std::string path = kt::fuzz::ScratchDir() + "/chosen.descr";
    KT_FUZZ_CHECK(kt::SaveDescriptorFile(path, bytes).empty());
    const kt::DescriptorFileContent file = kt::ReadDescriptorFile(path);
    KT_FUZZ_CHECK(file.status == kt::DescriptorFileContent::Status::Ok);
    KT_FUZZ_CHECK(file.length == bytes.size());
    const std::size_t headBytes = std::min(bytes.size(), kt::kDescriptorBufferSize);
    KT_FUZZ_CHECK(std::equal(file.head.begin(), file.head.end(), bytes.begin(), bytes.begin() + headBytes));
    KT_FUZZ_CHECK(file.head.size() == headBytes);
    if (kt::DescriptorFileAccepted(file.head, file.length, idn)) {
        // The library reads file.length bytes from file.head.
        KT_FUZZ_CHECK(file.length <= file.head.size());
        KT_FUZZ_CHECK(file.length >= 2 && file.head[0] == file.length && file.head[1] == idn);
    }

    // The read command: the device answers a 2-byte read with lengthByte0
    // first, then the full read with fullByte0 first; a saved file holds
    // only bytes the full read asked for, and the write command takes it back.
    const kt::DescriptorOutputPlan plan = kt::PlanDescriptorOutput(lengthByte0, fullByte0, idn == 1);
    KT_FUZZ_CHECK(plan.bytes_read <= std::min<std::uint32_t>(lengthByte0, kt::kDescriptorReadLimit));
    KT_FUZZ_CHECK(plan.dump_bytes <= plan.bytes_read);
    if (plan.save) {
        KT_FUZZ_CHECK(idn == 1 && fullByte0 <= plan.bytes_read);
        std::vector<std::uint8_t> answer(fullByte0);
        std::copy_n(bytes.begin(), std::min(bytes.size(), answer.size()), answer.begin());
        if (!answer.empty()) answer[0] = fullByte0;
        if (answer.size() > 1) answer[1] = 1;
        const std::string saved = kt::fuzz::ScratchDir() + "/configuration.descr";
        KT_FUZZ_CHECK(kt::SaveDescriptorFile(saved, answer).empty());
        const kt::DescriptorFileContent back = kt::ReadDescriptorFile(saved);
        KT_FUZZ_CHECK(back.status == kt::DescriptorFileContent::Status::Ok && back.head == answer);
        KT_FUZZ_CHECK(kt::DescriptorFileAccepted(back.head, back.length, 1) == (fullByte0 >= 2));
    }
}
