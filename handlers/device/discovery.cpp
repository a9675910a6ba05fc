// Discovery of the attached programmers and the open step.
#include <array>

#include "common/control_ids.h"
#include "common/failure_text.h"
#include "common/text_format.h"
#include "handlers/device/device.h"

namespace kt::device {

void Refresh(CommandContext& ctx) {
    IUiPort& ui = ctx.Ui();
    (void)kt62LastMessage(nullptr, 0);  // an older reason is not this search's
    const std::int32_t n = kt62Search();
    while (ui.ListCount(IDC_COMBO_DEVICE) > 0) ui.ListDelete(IDC_COMBO_DEVICE, 0);
    if (n == 0) {
        // A device opened earlier stays open and in use.
        ctx.ShowLog("No device found.");
        ctx.ShowLibraryReason();
        return;
    }
    for (std::int32_t i = 0; i < n; ++i) ui.ListAppend(IDC_COMBO_DEVICE, Format("Dev%d", i));
    ctx.ShowLog(Format("%d device found.", n));
    ui.ListSelect(IDC_COMBO_DEVICE, 0);
    Select(ctx);
}

void Select(CommandContext& ctx) {
    if (ctx.Device() != KT62_INVALID_HANDLE) kt62Close(ctx.Device());
    const int position = ctx.Ui().ListSelection(IDC_COMBO_DEVICE);
    (void)kt62LastMessage(nullptr, 0);
    const KT62_HANDLE h = kt62Open(position);
    ctx.ExchangeDevice(h);
    if (h == KT62_INVALID_HANDLE) {
        ctx.ShowLog("Fail to open disk.");
        ctx.ShowLibraryReason();
        return;
    }
    // The version buffer is shared with the product call, as the library
    // expects; it starts zeroed so no stale stack bytes can be shown.
    std::array<std::uint8_t, 4> version{};
    if (kt62GetVersion(h, version.data()) == 0) {
        ctx.ShowLog(Format("Firmware version: %d.%d.%d", version[0], version[1], version[2]));
        return;
    }
    std::array<std::uint8_t, 16> name{};
    std::array<std::uint8_t, 8> extra{};
    const std::int32_t p = kt62GetProduct(h, version.data(), name.data(), extra.data());
    if (p != 0) {
        ctx.ShowLog(FailToText("get version", p));
        return;
    }
    ctx.ShowLog(WidenSignedBytes(name) + " Ver:" + WidenUnsignedBytes(version));
}

}  // namespace kt::device
