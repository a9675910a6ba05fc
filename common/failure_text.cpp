#include "common/failure_text.h"

#include "common/text_format.h"

namespace kt {
namespace {

bool DeviceFailure(std::int32_t r) { return r < 0; }
int ScsiStatus(std::int32_t r) { return static_cast<int>(r & 0xFF); }

}  // namespace

std::string ReportStatusText(std::string_view label, std::int32_t r) {
    if (DeviceFailure(r)) return Format("Fail to %s scsi err %d.", std::string(label).c_str(), ScsiStatus(r));
    return FailToText(label, r);
}

std::string FailToText(std::string_view label, std::int32_t r) {
    return Format("Fail to %s %d.", std::string(label).c_str(), static_cast<int>(r));
}

std::string CommandFailText(std::int32_t r) {
    if (DeviceFailure(r)) return Format("Command fail scsi err %d.", ScsiStatus(r));
    return CommandFailRawText(r);
}

std::string CommandFailRawText(std::int32_t r) { return Format("Command fail err %d.", static_cast<int>(r)); }

}  // namespace kt
