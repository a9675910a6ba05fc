// SCSI identification of the storage behind the programmer.
#include <array>

#include "common/failure_text.h"
#include "common/text_format.h"
#include "dialog/KT6200DemoDlg.h"

namespace kt {

void CKT6200DemoDlg::OnInquiry() {
    // Bytes the device does not return show as 00 in the dump.
    std::array<std::uint8_t, 192> buffer{};
    const std::int32_t r = kt62ScsiInquiry(m_hDevice.load(), buffer.data());
    if (r != 0) {
        ShowLog(FailToText("scsi inquiry", r));
        return;
    }
    ShowLog("scsi inquiry done.");
    for (const std::string& line : HexDumpLines(buffer)) AppendLog(line);
}

void CKT6200DemoDlg::OnGetCapacity() {
    std::uint32_t sectors = 0;
    std::uint32_t sectorSize = 0;
    const std::int32_t r = kt62ScsiReadCapacity(m_hDevice.load(), &sectors, &sectorSize);
    if (r != 0) {
        ShowLog(FailToText("scsi read capacity", r));
        return;
    }
    ShowLog(
        Format("%d sectors. %d bytes per sector.", static_cast<int>(sectors), static_cast<int>(sectorSize)));
    AppendLog(
        Format("%8.2lfMB.", static_cast<double>(sectors) * static_cast<double>(sectorSize) / 1048576.0));
}

}  // namespace kt
