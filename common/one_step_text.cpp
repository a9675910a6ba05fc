#include "common/one_step_text.h"

#include "common/text_format.h"

namespace kt {

std::string CommandFailText(std::int32_t r) {
    if (r < 0) return Format("Command fail scsi err %d.", static_cast<int>(r & 0xFF));
    return Format("Command fail err %d.", static_cast<int>(r));
}

}  // namespace kt
