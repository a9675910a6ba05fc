// A part's facts from its saved device and geometry descriptor files, read as the descriptor write
// reads a file, for planning without the part.
#pragma once

#include <string>

#include "production/plan.h"

namespace kt::production {

// A file that cannot be read is refused under Rule::Descriptor, naming the file and why.
FactsOrRefusal ReadSavedFacts(const std::string& device_path, const std::string& geometry_path);

}  // namespace kt::production
