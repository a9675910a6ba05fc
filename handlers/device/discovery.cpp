// Discovery of the attached programmers and the open step.
#include <array>

#include "common/control_ids.h"
#include "common/failure_text.h"
#include "common/text_format.h"
#include "dialog/KT6200DemoDlg.h"

namespace kt {

void CKT6200DemoDlg::OnRefresh() {
    (void)kt62LastMessage(nullptr, 0);  // an older reason is not this search's
    const std::int32_t n = kt62Search();
    while (m_ui.ListCount(IDC_COMBO_DEVICE) > 0) m_ui.ListDelete(IDC_COMBO_DEVICE, 0);
    if (n == 0) {
        // A device opened earlier stays open and in use.
        ShowLog("No device found.");
        ShowLibraryReason();
        return;
    }
    for (std::int32_t i = 0; i < n; ++i) m_ui.ListAppend(IDC_COMBO_DEVICE, Format("Dev%d", i));
    ShowLog(Format("%d device found.", n));
    m_ui.ListSelect(IDC_COMBO_DEVICE, 0);
    OnSelChangeDevice();
}

void CKT6200DemoDlg::OnSelChangeDevice() {
    if (m_hDevice.load() != KT62_INVALID_HANDLE) kt62Close(m_hDevice.load());
    const int position = m_ui.ListSelection(IDC_COMBO_DEVICE);
    (void)kt62LastMessage(nullptr, 0);
    m_hDevice = kt62Open(position);
    if (m_hDevice.load() == KT62_INVALID_HANDLE) {
        ShowLog("Fail to open disk.");
        ShowLibraryReason();
        return;
    }
    // The version buffer is shared with the product call, as the library
    // expects; it starts zeroed so no stale stack bytes can be shown.
    std::array<std::uint8_t, 4> version{};
    if (kt62GetVersion(m_hDevice.load(), version.data()) == 0) {
        ShowLog(Format("Firmware version: %d.%d.%d", version[0], version[1], version[2]));
        return;
    }
    std::array<std::uint8_t, 16> name{};
    std::array<std::uint8_t, 8> extra{};
    const std::int32_t p = kt62GetProduct(m_hDevice.load(), version.data(), name.data(), extra.data());
    if (p != 0) {
        ShowLog(FailToText("get version", p));
        return;
    }
    ShowLog(WidenSignedBytes(name) + " Ver:" + WidenUnsignedBytes(version));
}

}  // namespace kt
