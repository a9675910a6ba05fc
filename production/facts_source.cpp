#include "production/facts_source.h"

#include <algorithm>

#include "common/failure_text.h"
#include "handlers/ufs/descriptor_file.h"
#include "ufs/descriptor_fields.h"
#include "ufs/idn.h"

namespace kt::production {
namespace {

using Bytes = std::variant<std::vector<std::uint8_t>, Refusal>;

Bytes ReadFromPart(KT62_HANDLE h, std::uint8_t idn) {
    std::vector<std::uint8_t> bytes(kDescriptorReadLimit, 0);
    const std::int32_t r = kt62UfsReadDescriptor(h, idn, 0, 0, bytes.data(), kDescriptorReadLimit);
    if (r != 0)
        return Refusal{-1, Rule::Descriptor,
                       std::string(ufs::DescriptorName(idn)) + " descriptor: " + CommandFailText(r)};
    bytes.resize(std::min<std::size_t>(bytes[0], bytes.size()));
    return bytes;
}

Bytes ReadFromFile(const std::string& path) {
    DescriptorFileContent file = ReadDescriptorFile(path);
    if (file.status != DescriptorFileContent::Status::Ok)
        return Refusal{-1, Rule::Descriptor, path + ": " + file.reason};
    // The reader keeps a descriptor buffer's worth: no descriptor is longer.
    if (file.length != file.head.size())
        return Refusal{-1, Rule::Descriptor,
                       path + ": " + std::to_string(file.length) + " bytes, no descriptor file"};
    return std::move(file.head);
}

template <typename Decode>
FactsOrRefusal FromBoth(Bytes device, Bytes geometry, Decode decode) {
    if (auto* r = std::get_if<Refusal>(&device)) return *r;
    if (auto* r = std::get_if<Refusal>(&geometry)) return *r;
    return decode(std::get<0>(device), std::get<0>(geometry));
}

}  // namespace

FactsOrRefusal ReadDeviceFacts(KT62_HANDLE h) {
    return FromBoth(ReadFromPart(h, ufs::kDeviceDescriptor), ReadFromPart(h, ufs::kGeometryDescriptor),
                    [](const auto& d, const auto& g) { return DecodeDeviceFacts(d, g); });
}

FactsOrRefusal ReadSavedFacts(const std::string& device_path, const std::string& geometry_path) {
    return FromBoth(ReadFromFile(device_path), ReadFromFile(geometry_path),
                    [](const auto& d, const auto& g) { return FactsFromSaved(d, g); });
}

}  // namespace kt::production
