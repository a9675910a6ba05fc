// The emulated device's state file: whatever a crash, a full disk or a hand edit left in it.
#include <kt62/apiKT6200.h>

#include "emu/device_model.h"
#include "emu/state_file.h"
#include "fuzz/fuzz_support.h"

KT_FUZZ_TARGET(data, size) {
    namespace emu = kt62::emu;
    const std::string text(reinterpret_cast<const char*>(data), size);
    emu::StoredState state;
    if (emu::ParseState(text, state)) return;
    for (const std::uint32_t g : state.unit_generation) KT_FUZZ_CHECK(g < UINT32_MAX);

    // What loads, saves and loads again unchanged.
    const std::string file = kt::fuzz::ScratchDir() + "/state.json";
    std::string error;
    KT_FUZZ_CHECK(emu::SaveState(file, state, error) == KT62_OK);
    emu::StoredState back;
    KT_FUZZ_CHECK(emu::LoadState(file, back, error) == emu::LoadOutcome::Loaded);
    KT_FUZZ_CHECK(back == state);

    // The device takes it or says why; what it takes it keeps.
    static const emu::ModelOrError made = emu::MakeDeviceModel(kt62::UfsProfile{});
    emu::UfsModel model(made.model);
    if (!model.Restore(state)) {
        const emu::StoredState kept = model.Stored();
        KT_FUZZ_CHECK(kept.config_written == state.config_written);
        KT_FUZZ_CHECK(kept.config_active == state.config_active);
        KT_FUZZ_CHECK(kept.unit_generation == state.unit_generation);
        KT_FUZZ_CHECK(kept.sequence == state.sequence);
    }
}
