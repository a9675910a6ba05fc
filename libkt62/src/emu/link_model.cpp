#include "emu/link_model.h"

#include <algorithm>

#include <kt62/apiKT6200.h>

namespace kt62::emu {
namespace {

using L = LinkSettings;
using V = VersionLayout;
using S = LinkSide;

constexpr uint8_t kUicInvalidAttribute = 0x01;
constexpr uint8_t kUicBadIndex = 0x05;

bool Hs(uint8_t mode) { return mode == 2; }
// PA_PWRMode nibble: UniPro counts FAST (HS) as 1 and SLOW (PWM) as 2, the reverse of M-PHY.
uint32_t PowerMode(uint8_t mphy_mode) { return Hs(mphy_mode) ? 1 : 2; }

// A gear attribute of the mode not in use keeps gear 1: the value a link starts from.
constexpr DmeAttribute kAttributes[] = {
    {0x0001, "TX_HSMODE_Capability", DmeAttribute::TxLane,
     [](const L&, const V&, S) -> uint32_t { return 1; }},
    {0x0002, "TX_HSGEAR_Capability", DmeAttribute::TxLane,
     [](const L&, const V& v, S) -> uint32_t { return v.max_hs_gear; }},
    {0x0003, "TX_PWMG0_Capability", DmeAttribute::TxLane,
     [](const L&, const V&, S) -> uint32_t { return 0; }},
    {0x0004, "TX_PWMGEAR_Capability", DmeAttribute::TxLane,
     [](const L&, const V&, S) -> uint32_t { return kMaxPwmGear; }},
    {0x0021, "TX_MODE", DmeAttribute::TxLane, [](const L& l, const V&, S) -> uint32_t { return l.tx_mode; }},
    {0x0022, "TX_HSRATE_Series", DmeAttribute::TxLane,
     [](const L& l, const V&, S) -> uint32_t { return l.tx_rate_series; }},
    {0x0023, "TX_HSGEAR", DmeAttribute::TxLane,
     [](const L& l, const V&, S) -> uint32_t { return Hs(l.tx_mode) ? l.tx_gear : 1; }},
    {0x0024, "TX_PWMGEAR", DmeAttribute::TxLane,
     [](const L& l, const V&, S) -> uint32_t { return Hs(l.tx_mode) ? 1 : l.tx_gear; }},
    {0x0081, "RX_HSMODE_Capability", DmeAttribute::RxLane,
     [](const L&, const V&, S) -> uint32_t { return 1; }},
    {0x0082, "RX_HSGEAR_Capability", DmeAttribute::RxLane,
     [](const L&, const V& v, S) -> uint32_t { return v.max_hs_gear; }},
    {0x0083, "RX_PWMG0_Capability", DmeAttribute::RxLane,
     [](const L&, const V&, S) -> uint32_t { return 0; }},
    {0x0084, "RX_PWMGEAR_Capability", DmeAttribute::RxLane,
     [](const L&, const V&, S) -> uint32_t { return kMaxPwmGear; }},
    {0x00A1, "RX_MODE", DmeAttribute::RxLane, [](const L& l, const V&, S) -> uint32_t { return l.rx_mode; }},
    {0x00A2, "RX_HSRATE_Series", DmeAttribute::RxLane,
     [](const L& l, const V&, S) -> uint32_t { return l.rx_rate_series; }},
    {0x00A3, "RX_HSGEAR", DmeAttribute::RxLane,
     [](const L& l, const V&, S) -> uint32_t { return Hs(l.rx_mode) ? l.rx_gear : 1; }},
    {0x00A4, "RX_PWMGEAR", DmeAttribute::RxLane,
     [](const L& l, const V&, S) -> uint32_t { return Hs(l.rx_mode) ? 1 : l.rx_gear; }},
    {0x1500, "PA_PHY_Type", DmeAttribute::Global, [](const L&, const V&, S) -> uint32_t { return 1; }},
    {0x1520, "PA_AvailTxDataLanes", DmeAttribute::Global,
     [](const L&, const V&, S) -> uint32_t { return kAvailableLanes; }},
    {0x1540, "PA_AvailRxDataLanes", DmeAttribute::Global,
     [](const L&, const V&, S) -> uint32_t { return kAvailableLanes; }},
    {0x155E, "PA_Local_TX_LCC_Enable", DmeAttribute::Global,
     [](const L&, const V&, S) -> uint32_t { return 0; }},
    {0x155F, "PA_Peer_TX_LCC_Enable", DmeAttribute::Global,
     [](const L&, const V&, S) -> uint32_t { return 0; }},
    {0x1560, "PA_ActiveTxDataLanes", DmeAttribute::Global,
     [](const L& l, const V&, S) -> uint32_t { return l.lanes; }},
    {0x1561, "PA_ConnectedTxDataLanes", DmeAttribute::Global,
     [](const L& l, const V&, S) -> uint32_t { return l.lanes; }},
    {0x1562, "PA_TxForceClock", DmeAttribute::Global, [](const L&, const V&, S) -> uint32_t { return 0; }},
    {0x1568, "PA_TxGear", DmeAttribute::Global,
     [](const L& l, const V&, S) -> uint32_t { return l.tx_gear; }},
    {0x1569, "PA_TxTermination", DmeAttribute::Global,
     [](const L& l, const V&, S) -> uint32_t { return Hs(l.tx_mode) ? 1 : 0; }},
    {0x156A, "PA_HSSeries", DmeAttribute::Global,
     [](const L& l, const V&, S) -> uint32_t { return l.tx_rate_series; }},
    {0x1571, "PA_PWRMode", DmeAttribute::Global,
     [](const L& l, const V&, S) -> uint32_t { return PowerMode(l.rx_mode) << 4 | PowerMode(l.tx_mode); }},
    {0x1580, "PA_ActiveRxDataLanes", DmeAttribute::Global,
     [](const L& l, const V&, S) -> uint32_t { return l.lanes; }},
    {0x1581, "PA_ConnectedRxDataLanes", DmeAttribute::Global,
     [](const L& l, const V&, S) -> uint32_t { return l.lanes; }},
    {0x1583, "PA_RxGear", DmeAttribute::Global,
     [](const L& l, const V&, S) -> uint32_t { return l.rx_gear; }},
    {0x1584, "PA_RxTermination", DmeAttribute::Global,
     [](const L& l, const V&, S) -> uint32_t { return Hs(l.rx_mode) ? 1 : 0; }},
    {0x1585, "PA_Scrambling", DmeAttribute::Global, [](const L&, const V&, S) -> uint32_t { return 0; }},
    {0x1586, "PA_MaxRxPWMGear", DmeAttribute::Global,
     [](const L&, const V&, S) -> uint32_t { return kMaxPwmGear; }},
    {0x1587, "PA_MaxRxHSGear", DmeAttribute::Global,
     [](const L&, const V& v, S) -> uint32_t { return v.max_hs_gear; }},
    {0x15A0, "PA_RemoteVerInfo", DmeAttribute::Global,
     [](const L&, const V& v, S) -> uint32_t { return v.unipro_ver_info; }},
    {0x15A9, "PA_LocalVerInfo", DmeAttribute::Global,
     [](const L&, const V& v, S) -> uint32_t { return v.unipro_ver_info; }},
    {0x2041, "DL_FC0ProtectionTimeOutVal", DmeAttribute::Global,
     [](const L&, const V&, S) -> uint32_t { return 8191; }},
    {0x2042, "DL_TC0ReplayTimeOutVal", DmeAttribute::Global,
     [](const L&, const V&, S) -> uint32_t { return 65535; }},
    {0x2043, "DL_AFC0ReqTimeOutVal", DmeAttribute::Global,
     [](const L&, const V&, S) -> uint32_t { return 32767; }},
    {0x2046, "DL_PeerTC0Present", DmeAttribute::Global, [](const L&, const V&, S) -> uint32_t { return 1; }},
    {0x3000, "N_DeviceID", DmeAttribute::Global,
     [](const L&, const V&, S s) -> uint32_t { return s == S::Local ? 0 : 1; }},
    {0x3001, "N_DeviceID_valid", DmeAttribute::Global, [](const L&, const V&, S) -> uint32_t { return 1; }},
    {0x4000, "T_NumCPorts", DmeAttribute::Global, [](const L&, const V&, S) -> uint32_t { return 1; }},
    {0x4020, "T_ConnectionState", DmeAttribute::Global, [](const L&, const V&, S) -> uint32_t { return 1; }},
    {0x4021, "T_PeerDeviceID", DmeAttribute::Global,
     [](const L&, const V&, S s) -> uint32_t { return s == S::Local ? 1 : 0; }},
    {0x4022, "T_PeerCPortID", DmeAttribute::Global, [](const L&, const V&, S) -> uint32_t { return 0; }},
    {0x4023, "T_TrafficClass", DmeAttribute::Global, [](const L&, const V&, S) -> uint32_t { return 0; }},
};

static_assert(std::is_sorted(std::begin(kAttributes), std::end(kAttributes),
                             [](const DmeAttribute& a, const DmeAttribute& b) { return a.id < b.id; }));

}  // namespace

std::span<const DmeAttribute> DmeAttributes() { return kAttributes; }

LinkSettings SideSettings(const LinkSettings& link, LinkSide side) {
    if (side == LinkSide::Local) return link;
    LinkSettings s = link;
    s.tx_mode = link.rx_mode;
    s.tx_gear = link.rx_gear;
    s.tx_rate_series = link.rx_rate_series;
    s.rx_mode = link.tx_mode;
    s.rx_gear = link.tx_gear;
    s.rx_rate_series = link.tx_rate_series;
    return s;
}

int32_t DmeGet(const DeviceModel& device, LinkSide side, uint32_t attr_id, uint8_t selector,
               uint32_t* value) {
    const auto* const it = std::lower_bound(std::begin(kAttributes), std::end(kAttributes), attr_id,
                                            [](const DmeAttribute& a, uint32_t id) { return a.id < id; });
    if (it == std::end(kAttributes) || it->id != attr_id) return KT62_DME_FAILURE(kUicInvalidAttribute);
    bool selector_ok = false;
    switch (it->scope) {
        case DmeAttribute::TxLane:
            selector_ok = selector < kAvailableLanes;
            break;
        case DmeAttribute::RxLane:
            selector_ok = selector >= kFirstRxSelector && selector < kFirstRxSelector + kAvailableLanes;
            break;
        case DmeAttribute::Global:
            selector_ok = selector == 0;
            break;
    }
    if (!selector_ok) return KT62_DME_FAILURE(kUicBadIndex);
    *value = it->value(SideSettings(device.link, side), *device.layout, side);
    return KT62_OK;
}

}  // namespace kt62::emu
