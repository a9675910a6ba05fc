// How the pane says that a library call failed. A result r < 0 is a device
// failure: the text gives the SCSI status in its low byte, as
// "scsi err <r & 0xFF>". A result r > 0 is the library's own error, given as
// the number. Some calls show the raw number whatever its sign; their texts
// are here too, so that every failure line has one home.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kt {

// "Fail to <label> scsi err <r & 0xFF>." or "Fail to <label> <r>.".
std::string ReportStatusText(std::string_view label, std::int32_t r);
// "Fail to <label> <r>.", the raw result.
std::string FailToText(std::string_view label, std::int32_t r);

// The line every one-step report ends with when its library call fails:
// "Command fail scsi err <r & 0xFF>." or "Command fail err <r>.".
std::string CommandFailText(std::int32_t r);
// "Command fail err <r>.", the raw result: a firmware failure is no SCSI status.
std::string CommandFailRawText(std::int32_t r);

}  // namespace kt
