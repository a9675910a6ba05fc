// Reports whose fault rules answer from the input: the pane stays UTF-8; a saved descriptor is byte 0 long.
#include <kt62/apiKT6200.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/control_ids.h"
#include "dialog/KT6200DemoDlg.h"
#include "fuzz/fuzz_support.h"
#include "handlers/ufs/descriptor_file.h"
#include "tests/support/fake_ui_port.h"

constexpr std::int32_t kFailures[] = {0, 0, 0, 0, -1, KT62_SCSI_FAILURE(5, 0x24), KT62_E_TIMEOUT, INT32_MIN};

// A rule for one descriptor the reports read (or any other), or for a link attribute.
static std::string Rule(FuzzedDataProvider& in) {
    std::string rule =
        in.ConsumeBool()
            ? kt::Format(R"({"call":"kt62UfsGetDME","value":%u)", in.ConsumeIntegral<std::uint32_t>())
            : kt::Format(
                  R"({"call":"kt62UfsReadDescriptor","match":{"idn":%d},"bytes":")",
                  in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 7) : in.ConsumeIntegral<std::uint8_t>());
    if (rule.back() == '"') {
        for (std::uint8_t b : in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 255)))
            rule += kt::Format("%02X", b);
        rule += "\"";
    }
    return rule + kt::Format(R"(,"result":%d,"after":%d,"times":%d})", in.PickValueInArray(kFailures),
                             in.ConsumeIntegralInRange(0, 3), in.ConsumeIntegralInRange(1, 3));
}

KT_FUZZ_TARGET(data, size) {
    FuzzedDataProvider in(data, size);
    const std::string& dir = kt::fuzz::ScratchDir();
    std::string faults;
    for (int n = in.ConsumeIntegralInRange(0, 16); n > 0; --n)
        faults += (faults.empty() ? "" : ",") + Rule(in);
    const std::string profile = dir + "/profile.json";
    std::ofstream(profile, std::ios::trunc) << R"({"programmers":[{"faults":[)" << faults << "]}]}";
    setenv("KT62_EMULATOR", profile.c_str(), 1);
    kt::test::FakeUiPort ui;
    kt::CKT6200DemoDlg dlg(ui, dir + "/prog");
    dlg.OnInitDialog();
    const KT62_HANDLE h = dlg.DeviceHandle();
    KT_FUZZ_CHECK(h != KT62_INVALID_HANDLE);
    ui.SetText(kt::IDC_EDIT_IDN, kt::Format("%X", in.ConsumeBool() ? 1 : in.ConsumeIntegral<std::uint8_t>()));
    ui.SetText(kt::IDC_EDIT_INDEX, kt::Format("%X", in.ConsumeIntegralInRange(0, 8)));
    const std::string saved = dir + "/" + kt::kConfigurationFileName;
    std::filesystem::remove(saved);
    for (int id : {kt::IDC_BTN_IC_INFO, kt::IDC_BTN_LUN_INFO, kt::IDC_BTN_WORK_MODE, kt::IDC_BTN_DESC_READ}) {
        dlg.Dispatch(kt::DialogMessage::Command, static_cast<std::uintptr_t>(id));
        KT_FUZZ_CHECK(kt::fuzz::ValidUtf8(ui.Pane()));
    }
    kt62Close(h);
    if (!std::filesystem::exists(saved)) return;
    const kt::DescriptorFileContent file = kt::ReadDescriptorFile(saved);
    KT_FUZZ_CHECK(file.status == kt::DescriptorFileContent::Status::Ok);
    KT_FUZZ_CHECK(file.length <= kt::kDescriptorReadLimit);
    KT_FUZZ_CHECK(file.length == 0 || file.head[0] == file.length);
}
