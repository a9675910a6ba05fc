// The one-step feature commands: reports, single-LUN provisioning, reset and firmware update.
#pragma once

#include "handlers/base/command_context.h"

namespace kt::features {

void IcInfo(CommandContext& ctx);
void LunInfo(CommandContext& ctx);
// The whole capacity as logical unit 0, enabled or left disabled.
void ProvisionSingleLun(CommandContext& ctx, bool enable_unit0);
void WorkMode(CommandContext& ctx);
void Reset(CommandContext& ctx);
void Update(CommandContext& ctx);

// The commands that change the device's configuration or state (CFG 1 LUN, Reset, Update) would
// pull it from under a running transfer, which would then end as if it had written everything.
// While one runs they are refused before anything is sent: a line in the pane and the command's
// name in the status line. True when refused.
bool RefusedDuringTransfer(CommandContext& ctx, const char* command);
inline constexpr const char* kRefusedDuringTransferText = "Refused: a transfer is running.";

}  // namespace kt::features
