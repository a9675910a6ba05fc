#include "production/saved_facts.h"

#include "handlers/ufs/descriptor_file.h"

namespace kt::production {
namespace {

std::variant<std::vector<std::uint8_t>, Refusal> ReadWhole(const std::string& path) {
    DescriptorFileContent file = ReadDescriptorFile(path);
    if (file.status != DescriptorFileContent::Status::Ok)
        return Refusal{-1, Rule::Descriptor, path + ": " + file.reason};
    // The reader keeps a descriptor buffer's worth: no descriptor is longer.
    if (file.length != file.head.size())
        return Refusal{-1, Rule::Descriptor,
                       path + ": " + std::to_string(file.length) + " bytes, no descriptor file"};
    return std::move(file.head);
}

}  // namespace

FactsOrRefusal ReadSavedFacts(const std::string& device_path, const std::string& geometry_path) {
    auto device = ReadWhole(device_path);
    if (auto* r = std::get_if<Refusal>(&device)) return *r;
    auto geometry = ReadWhole(geometry_path);
    if (auto* r = std::get_if<Refusal>(&geometry)) return *r;
    return FactsFromSaved(std::get<0>(device), std::get<0>(geometry));
}

}  // namespace kt::production
