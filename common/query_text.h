// The one message a panel query command shows: its own success text for a
// result of 0, otherwise the failure report with its operation label.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/failure_text.h"

namespace kt {

template <typename SuccessText>
std::string QueryOutcomeText(std::int32_t r, std::string_view label, SuccessText&& success) {
    return r == 0 ? std::string(success()) : ReportStatusText(label, r);
}

}  // namespace kt
