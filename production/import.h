// Importing the unit layout a board's provisioning file describes, as a job's layout. Two forms:
//   - the provisioning XML of a board's flashing tool: a <data> root holding <ufs .../> elements,
//     first the device-wide attributes, then one element per unit (LUNum, size_in_kb, bMemoryType
//     ...), last the one naming the unit that takes the rest (LUNtoGrow);
//   - "lunN.field=value" lines, with "#" comments and device-wide "field=value" lines.
// Values are decimal or 0x-hex. What has no meaning here (an unknown attribute, a value out of
// range, a unit count that disagrees with the units) is refused, naming the element or the line.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "production/job.h"

namespace kt::production {

struct ImportedLayout {
    Layout layout;
    bool lock = false;  // the file asks for bConfigDescrLock
    std::vector<std::string>
        became;  // what each value became: "lun1.bMemoryType=3 -> unit 1 memory enhanced1"
};

using ImportResult = std::variant<ImportedLayout, std::string>;

// The XML form; messages start with "NAME:LINE: ".
ImportResult ImportProvisioningXml(std::string_view text, std::string_view name);
// The line form; messages start with "NAME:LINE: ".
ImportResult ImportLunLines(std::string_view text, std::string_view name);
// Either form: XML when the name ends in ".xml" or the text starts with '<'.
ImportResult ImportLayout(std::string_view text, std::string_view name);
// Reads the file (through fileio) and imports it.
ImportResult ImportLayoutFile(const std::string& path);

}  // namespace kt::production
