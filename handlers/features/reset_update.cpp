// "Reset" and "Update".
#include "handlers/features/reset_update.h"

#include <string>
#include <thread>

#include "common/control_ids.h"
#include "common/failure_text.h"
#include "common/text_format.h"
#include "encoding/utf16.h"
#include "handlers/features/features.h"

namespace kt::features {

bool RefusedDuringTransfer(CommandContext& ctx, const char* command) {
    if (!ctx.TransferRunning()) return false;
    ctx.AppendLog(kRefusedDuringTransferText);
    ctx.ShowStatus(Format("%s: refused while a sector transfer runs; nothing was sent.", command));
    return true;
}

// The pane never speaks of a reset; a reset that did not happen (refused on
// a read-only host, a failing device) is said in the status line, so that
// nobody takes the silence for a reset.
void Reset(CommandContext& ctx) {
    if (RefusedDuringTransfer(ctx, "Reset")) return;
    (void)kt62LastMessage(nullptr, 0);
    const std::int32_t r = kt62UfsReset(ctx.Device(), kHardwareReset);
    if (r != 0) {
        ctx.ShowStatus(Format("Reset failed: %s (%d)", kt62ResultText(r), static_cast<int>(r)));
        // The library's own reason says more where it gives one (what the kernel asks for).
        ctx.ShowLibraryReason();
    }
    std::this_thread::sleep_for(kResetPause);
}

void Update(CommandContext& ctx) {
    if (RefusedDuringTransfer(ctx, "Update")) return;  // before the file is asked for
    const auto path = ctx.Ui().ChooseFile(FileChooserMode::Open, kFirmwareFileFilter);
    if (!path) return;
    ctx.ShowLog(kUpdatingText);
    const std::u16string wide = Utf8ToUtf16(*path);  // zero-terminated by c_str()
    static_assert(sizeof(char16_t) == sizeof(kt62_char16));
    (void)kt62LastMessage(nullptr, 0);
    const std::int32_t r = kt62Update(ctx.Device(), reinterpret_cast<const kt62_char16*>(wide.c_str()));
    // The raw code, negative ones included: a firmware failure is not a SCSI status.
    ctx.ShowLog(r == 0 ? std::string(kUpdateDoneText) : CommandFailRawText(r));
    if (r != 0) ctx.ShowLibraryReason();  // a file that cannot be read says which and why
    // The programmer restarts: the user picks it again once it is back.
    ctx.Ui().ListSelect(IDC_COMBO_DEVICE, -1);
}

}  // namespace kt::features
