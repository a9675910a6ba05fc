// Where a part's facts come from: the part itself, through the library, or its saved device and
// geometry descriptor files, read as the descriptor write reads a file, to plan without the part.
#pragma once

#include <kt62/apiKT6200.h>

#include <string>

#include "production/plan.h"

namespace kt::production {

// A descriptor the part does not give is refused under Rule::Descriptor with the library's failure.
FactsOrRefusal ReadDeviceFacts(KT62_HANDLE h);
// A file that cannot be read is refused under Rule::Descriptor, naming the file and why.
FactsOrRefusal ReadSavedFacts(const std::string& device_path, const std::string& geometry_path);

}  // namespace kt::production
