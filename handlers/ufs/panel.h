// The engineering panel's commands: flags, attributes, descriptors and the DME read, each on the
// IDN, Index, Selector, Value and REG fields.
#pragma once

#include <kt62/apiKT6200.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "handlers/base/command_context.h"

namespace kt::panel {

// A descriptor as the pane last showed it, for its decoded view.
struct ShownDescriptor {
    std::uint8_t idn = 0, index = 0;
    std::vector<std::uint8_t> bytes;
};

// What the panel remembers between commands.
struct PanelState {
    // nullopt until a descriptor read shows bytes; a failed read clears it.
    std::optional<ShownDescriptor> last_descriptor;
    // wSpecVersion of spec_version_of, from its last device descriptor read.
    std::uint16_t spec_version = 0;
    KT62_HANDLE spec_version_of = KT62_INVALID_HANDLE;
};

void FlagRead(CommandContext& ctx);
void FlagClear(CommandContext& ctx);
void FlagSet(CommandContext& ctx);
void FlagToggle(CommandContext& ctx);
void AttributeRead(CommandContext& ctx);
void AttributeWrite(CommandContext& ctx);
void DescriptorRead(CommandContext& ctx, PanelState& state);
void DescriptorWrite(CommandContext& ctx);
void DmeRead(CommandContext& ctx);

// wSpecVersion of the open device, asked of it; while a transfer owns the handle, from the last
// device descriptor read of that handle. 0 when not known.
std::uint16_t DeviceSpecVersion(CommandContext& ctx, PanelState& state, bool transfer_running);

}  // namespace kt::panel
