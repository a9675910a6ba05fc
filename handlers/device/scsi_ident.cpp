// SCSI identification of the storage behind the programmer.
#include <array>

#include "common/failure_text.h"
#include "common/text_format.h"
#include "handlers/device/device.h"

namespace kt::device {

void Inquiry(CommandContext& ctx) {
    // Bytes the device does not return show as 00 in the dump.
    std::array<std::uint8_t, 192> buffer{};
    (void)kt62LastMessage(nullptr, 0);
    const std::int32_t r = kt62ScsiInquiry(ctx.Device(), buffer.data());
    if (r != 0) {
        ctx.ShowLog(FailToText("scsi inquiry", r));
        ctx.ShowLibraryReason();  // the whole sense data, which the pane's code cannot carry
        return;
    }
    ctx.ShowLog("scsi inquiry done.");
    for (const std::string& line : HexDumpLines(buffer)) ctx.AppendLog(line);
}

void Capacity(CommandContext& ctx) {
    std::uint32_t sectors = 0;
    std::uint32_t sector_size = 0;
    (void)kt62LastMessage(nullptr, 0);
    const std::int32_t r = kt62ScsiReadCapacity(ctx.Device(), &sectors, &sector_size);
    if (r != 0) {
        ctx.ShowLog(FailToText("scsi read capacity", r));
        ctx.ShowLibraryReason();
        return;
    }
    ctx.ShowLog(
        Format("%d sectors. %d bytes per sector.", static_cast<int>(sectors), static_cast<int>(sector_size)));
    ctx.AppendLog(
        Format("%8.2lfMB.", static_cast<double>(sectors) * static_cast<double>(sector_size) / 1048576.0));
}

}  // namespace kt::device
