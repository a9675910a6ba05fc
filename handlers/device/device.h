// The programmer commands: discovery, the open step and the SCSI identification of the storage
// behind it.
#pragma once

#include "handlers/base/command_context.h"

namespace kt::device {

// Lists the attached programmers and opens the first (OnRefresh).
void Refresh(CommandContext& ctx);
// Closes the open programmer, opens the one chosen in the list and shows its version.
void Select(CommandContext& ctx);
void Inquiry(CommandContext& ctx);
void Capacity(CommandContext& ctx);

}  // namespace kt::device
