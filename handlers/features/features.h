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

}  // namespace kt::features
