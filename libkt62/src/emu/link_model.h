// The UniPro / M-PHY attributes of the link between the programmer and the
// device, as DME get answers them: one table of attributes, each computed
// from the link settings of one side.
#pragma once

#include <cstdint>
#include <span>

#include "emu/device_model.h"

namespace kt62::emu {

enum class LinkSide : uint8_t { Local, Peer };  // the programmer's side, the device's side

struct DmeAttribute {
    uint16_t id;
    const char* name;
    enum Scope : uint8_t { TxLane, RxLane, Global } scope;
    uint32_t (*value)(const LinkSettings& side, const VersionLayout& layout, LinkSide which);
};

// Every attribute a DME get answers, in id order.
std::span<const DmeAttribute> DmeAttributes();

// Lanes each direction physically has (PA_AvailTx/RxDataLanes); M-PHY selectors address them:
// TX lane n is selector n, RX lane n selector 4 + n.
inline constexpr uint8_t kAvailableLanes = 2;
inline constexpr uint8_t kFirstRxSelector = 4;

// KT62_OK with *value set, or KT62_DME_FAILURE of the UIC result code (1 unknown attribute,
// 5 selector out of range).
int32_t DmeGet(const DeviceModel& device, LinkSide side, uint32_t attr_id, uint8_t selector, uint32_t* value);

// The settings one side sees: the programmer transmits what the device receives.
LinkSettings SideSettings(const LinkSettings& link, LinkSide side);

}  // namespace kt62::emu
