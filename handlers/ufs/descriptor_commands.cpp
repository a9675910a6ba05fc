// Descriptor read (with the dump and the save of the configuration
// descriptor) and descriptor write from a file.
#include <array>
#include <cstring>
#include <system_error>

#include "common/query_text.h"
#include "common/text_format.h"
#include "common/user_files.h"
#include "handlers/base/config_lock.h"
#include "handlers/ufs/descriptor_file.h"
#include "handlers/ufs/hex_field.h"
#include "handlers/ufs/panel.h"
#include "ufs/descriptor_fields.h"
#include "ufs/idn.h"

namespace kt::panel {

void DescriptorRead(CommandContext& ctx, PanelState& state) {
    const auto a = ReadQueryAddress(ctx);
    if (!a) return;
    const KT62_HANDLE h = ctx.Device();
    state.last_descriptor.reset();
    // Zeroed, so that a read the device answers short never shows stale bytes.
    std::array<std::uint8_t, kDescriptorBufferSize> buffer{};

    std::int32_t r =
        kt62UfsReadDescriptor(h, Low8(a->idn), Low8(a->index), Low8(a->selector), buffer.data(), 2);
    if (r != 0) {
        ctx.ShowLog(ReportStatusText("UFS Read Descriptor", r));
        return;
    }
    const std::uint8_t length_byte0 = buffer[0];
    const std::uint32_t n = std::min<std::uint32_t>(length_byte0, kDescriptorReadLimit);
    r = kt62UfsReadDescriptor(h, Low8(a->idn), Low8(a->index), Low8(a->selector), buffer.data(), n);
    if (r != 0) {
        ctx.ShowLog(FailToText("ufs read decriptor", r));
        return;
    }
    ctx.ShowLog("ufs descriptor read done.");

    const DescriptorOutputPlan plan =
        PlanDescriptorOutput(length_byte0, buffer[0], a->idn == ufs::kConfigurationDescriptor);
    for (const std::string& line : HexDumpLines(std::span(buffer.data(), plan.dump_bytes)))
        ctx.AppendLog(line);
    state.last_descriptor =
        ShownDescriptor{Low8(a->idn), Low8(a->index),
                        std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + plan.dump_bytes)};
    if (a->idn == ufs::kDeviceDescriptor && plan.dump_bytes >= ufs::kDeviceSpecVersion + 2) {
        state.spec_version = ufs::VersionOf(std::span(buffer.data(), plan.dump_bytes));
        state.spec_version_of = h;
    }
    for (const std::string& note : plan.notes) ctx.AppendLog(note);
    if (!plan.save) return;

    const std::string dir = WritableFileFolder(ctx.AppDir(), UserDataDir(), kConfigurationFileName);
    if (dir != ctx.AppDir()) (void)MakeUserFolders(dir);
    const std::string path = Format("%s%s", dir.c_str(), kConfigurationFileName);
    const std::string why = SaveDescriptorFile(path, std::span(buffer.data(), buffer[0]));
    ctx.AppendLog(why.empty() ? std::string("Saved.")
                              : Format("Fail to save %s: %s.", path.c_str(), why.c_str()));
}

std::uint16_t DeviceSpecVersion(CommandContext& ctx, PanelState& state, bool transfer_running) {
    const KT62_HANDLE h = ctx.Device();
    // Asked afresh (another device may sit behind the same handle value),
    // unless the worker owns the handle: then the last device descriptor
    // read of this handle answers.
    std::array<std::uint8_t, ufs::kDeviceSpecVersion + 2> head{};
    if (h != KT62_INVALID_HANDLE && !transfer_running &&
        kt62UfsReadDescriptor(h, ufs::kDeviceDescriptor, 0, 0, head.data(),
                              static_cast<std::uint32_t>(head.size())) == 0) {
        state.spec_version = ufs::VersionOf(head);
        state.spec_version_of = h;
    }
    return state.spec_version_of == h ? state.spec_version : 0;
}

void DescriptorWrite(CommandContext& ctx) {
    const auto a = ReadQueryAddress(ctx);
    if (!a) return;
    const KT62_HANDLE h = ctx.Device();
    if (a->idn == ufs::kConfigurationDescriptor && ConfigDescriptorLockedOnDevice(h)) {
        ctx.ShowLog(kConfigLockedText);
        return;
    }
    const auto path = ctx.Ui().ChooseFile(FileChooserMode::Open, kDescriptorFileFilter);
    if (!path) return;

    const DescriptorFileContent file = ReadDescriptorFile(*path);
    if (file.status == DescriptorFileContent::Status::OpenFailed) {
        ctx.ShowLog("Fail to open file.");
        ctx.ShowStatus(*path + ": " + file.reason);
        return;
    }
    if (file.status == DescriptorFileContent::Status::ReadFailed) {
        ctx.ShowLog(Format("Fail to read file: %s.", file.reason.c_str()));
        ctx.ShowStatus(*path + ": " + file.reason);
        return;
    }
    if (!DescriptorFileAccepted(file.head, file.length, a->idn)) {
        ctx.ShowLog("Invalid idn or length with your setting.");
        return;
    }
    const std::int32_t r = kt62UfsWriteDescriptor(h, Low8(a->idn), Low8(a->index), Low8(a->selector),
                                                  file.head.data(), static_cast<std::uint32_t>(file.length));
    ctx.ShowLog(QueryOutcomeText(r, "UFS Write Descriptor", [] {
        return "write descriptor done. Press \"Reset\" button to make it effective.";
    }));
}

}  // namespace kt::panel
