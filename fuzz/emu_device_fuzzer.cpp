// The emulated UFS device, factory-fresh for each input, fed any calls: every result is success, a
// library error or a failure of its call's family; a descriptor read writes a prefix of the buffer.
#include <kt62/apiKT6200.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "emu/profile.h"
#include "emu/ufs_device.h"
#include "fuzz/fuzz_support.h"

bool LibraryError(int32_t r) { return r >= 1 && r <= KT62_E_UNIT_IN_USE && r != KT62_E_STATE_IO; }
bool InFamily(int32_t r, uint32_t family) {
    return r == KT62_OK || LibraryError(r) || (static_cast<uint32_t>(r) & 0xFFFF0000u) == family;
}
bool QueryResult(int32_t r) { return r == KT62_OK || LibraryError(r) || (r >= -10 && r <= -1); }

// The default device, a small one whose units fill up, and versions whose descriptors differ.
kt62::UfsProfile ProfileVariant(uint8_t which) {
    const kt62::UfsProfile variants[] = {
        {},
        {.raw_capacity_bytes = uint64_t{64} << 20, .segment_size_bytes = uint64_t{1} << 20},
        {.spec_version = "3.1", .raw_capacity_bytes = uint64_t{256} << 20},
        {.spec_version = "2.0", .raw_capacity_bytes = uint64_t{32} << 20, .config_descr_lock = 1},
    };
    return variants[which % std::size(variants)];
}

void ReadDescriptor(FuzzedDataProvider& in, kt62::emu::PoweredDevice& d, uint8_t idn, uint8_t index) {
    // Exactly `length` bytes, so that the address sanitizer sees any byte past them.
    const uint32_t length = in.ConsumeIntegralInRange<uint32_t>(0, 300);
    std::vector<uint8_t> a(length, 0xA5), b(length, 0x5A);
    const int32_t r = d.ReadDescriptor(idn, index, 0, a.data(), length);
    KT_FUZZ_CHECK(QueryResult(r));
    KT_FUZZ_CHECK(d.ReadDescriptor(idn, index, 0, b.data(), length) == r);
    const auto written = std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin();
    KT_FUZZ_CHECK(std::count(a.begin() + written, a.end(), 0xA5) == length - written);
    KT_FUZZ_CHECK(std::count(b.begin() + written, b.end(), 0x5A) == length - written);
    KT_FUZZ_CHECK(r == KT62_OK || written == 0);
}

void Step(FuzzedDataProvider& in, kt62::emu::PoweredDevice& d) {
    const auto byte = [&] { return in.ConsumeIntegral<uint8_t>(); };
    const uint8_t idn = byte(), index = byte(), selector = byte();
    uint8_t flag = 0;
    uint32_t value = 0, sectors = 0, block = 0;
    switch (in.ConsumeIntegralInRange(0, 12)) {
        case 0:
            return KT_FUZZ_CHECK(QueryResult(d.ReadFlag(idn, &flag)));
        case 1:
            return KT_FUZZ_CHECK(QueryResult(in.ConsumeBool() ? d.SetFlag(idn) : d.ToggleFlag(idn)));
        case 2:
            return KT_FUZZ_CHECK(QueryResult(d.ReadAttribute(idn, index, selector, &value)));
        case 3:
            return KT_FUZZ_CHECK(
                QueryResult(d.WriteAttribute(idn, index, selector, in.ConsumeIntegral<uint32_t>())));
        case 4:
            return ReadDescriptor(in, d, idn, index);
        case 5: {
            std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 300));
            const auto n = static_cast<uint32_t>(bytes.size());
            return KT_FUZZ_CHECK(
                QueryResult(d.WriteDescriptor(in.ConsumeBool() ? 1 : idn, index, 0, bytes.data(), n)));
        }
        case 6:
            return KT_FUZZ_CHECK(InFamily(
                d.GetDme(in.ConsumeIntegral<uint32_t>(), selector, byte() & 3, &value), 0xFFFD0000u));
        case 7:
            return KT_FUZZ_CHECK(InFamily(d.Reset(in.ConsumeBool() ? 1 : byte()), 0));
        case 8:
            d.OnClose();
            return d.OnOpen();
        case 9:
            return KT_FUZZ_CHECK(InFamily(
                d.ScsiReadCapacity(static_cast<uint8_t>(byte() % 10), &sectors, &block), 0xFFFE0000u));
        default: {
            const auto lun = static_cast<uint8_t>(byte() % 10);  // 8 and 9: units the device does not have
            d.ScsiReadCapacity(lun, &sectors, &block);
            const uint32_t count = in.ConsumeIntegralInRange<uint32_t>(0, 16);
            const uint32_t lba = sectors - std::min(sectors, in.ConsumeIntegral<uint32_t>() % 40);
            if (in.ConsumeBool()) block = 512;
            std::vector<uint8_t> buffer(size_t{block} * count, byte());
            const uint32_t packet = in.ConsumeIntegral<uint32_t>();
            KT_FUZZ_CHECK(InFamily(in.ConsumeBool()
                                       ? d.ScsiWrite10(lun, lba, block, buffer.data(), count, packet)
                                       : d.ScsiRead10(lun, lba, block, buffer.data(), count, packet),
                                   0xFFFE0000u));
        }
    }
}

KT_FUZZ_TARGET(data, size) {
    FuzzedDataProvider in(data, size);
    const std::filesystem::path state = kt::fuzz::ScratchDir() + "/state";
    std::filesystem::remove_all(state);
    const std::unique_ptr<kt62::emu::PoweredDevice> device =
        kt62::emu::MakeUfsDevice(ProfileVariant(in.ConsumeIntegral<uint8_t>()), {state, 0});
    device->OnOpen();
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) Step(in, *device);
    device->OnClose();
}
