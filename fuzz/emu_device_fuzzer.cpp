// The emulated UFS device, factory-fresh for each input, fed queries, DME gets,
// resets, power cycles and SCSI on unit 0. Every result is success, a library
// error or a failure of its call's family; the state always stores (never
// KT62_E_STATE_IO); a descriptor read writes a prefix of the buffer as long as
// asked and allowed, nothing after it; READ CAPACITY agrees with unit descriptor 0.
#include <kt62/apiKT6200.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "emu/profile.h"
#include "emu/ufs_device.h"
#include "fuzz/fuzz_support.h"
#include "registry.h"

using kt62::emu::PoweredDevice;

#define KT62_COUNT_ENTRY(sym, num, text) +1
constexpr int32_t kLastLibraryError = 0 KT62_RESULT_TABLE(KT62_COUNT_ENTRY) - 1;
#undef KT62_COUNT_ENTRY

bool LibraryError(int32_t r) { return r >= 1 && r <= kLastLibraryError && r != KT62_E_STATE_IO; }
bool QueryResult(int32_t r) { return r == KT62_OK || LibraryError(r) || (r >= -10 && r <= -1); }
bool ScsiResult(int32_t r) {
    return r == KT62_OK || LibraryError(r) || (static_cast<uint32_t>(r) & 0xFFFF0000u) == 0xFFFE0000u;
}
bool DmeResult(int32_t r) {
    return r == KT62_OK || LibraryError(r) || (static_cast<uint32_t>(r) & 0xFFFFFF00u) == 0xFFFD0000u;
}

// The devices an input may start from: the default one, small ones whose units fill up, and
// the versions whose descriptors differ in size.
kt62::UfsProfile ProfileVariant(uint8_t which) {
    using kt62::LogicalUnitProfile;
    const kt62::UfsProfile variants[] = {
        {},
        {.raw_capacity_bytes = uint64_t{64} << 20, .segment_size_bytes = uint64_t{1} << 20},
        {.spec_version = "3.1", .raw_capacity_bytes = uint64_t{256} << 20},
        {.spec_version = "2.0",
         .raw_capacity_bytes = uint64_t{8} << 20,
         .segment_size_bytes = 512 * 8,
         .logical_units = std::vector{LogicalUnitProfile{.enable = 1, .alloc_units = 4},
                                      LogicalUnitProfile{.enable = 1, .block_size_exponent = 16}}},
        {.spec_version = "3.0", .raw_capacity_bytes = uint64_t{32} << 20, .config_descr_lock = 1},
    };
    return variants[which % 5];
}

// Buffers are of exactly n bytes, so that the address sanitizer sees any byte past them, and
// filled with a pattern, so that untouched bytes can be told from written ones.
using Patterned = std::vector<uint8_t>;

// How many leading bytes the call wrote: bytes after a written one are never untouched. Two runs
// over different fills tell written bytes (equal in both) from untouched ones.
template <class Read>
size_t WrittenPrefix(size_t n, Read&& read, int32_t& result) {
    std::vector<uint8_t> a = Patterned(n, 0xA5), b = Patterned(n, 0x5A);
    result = read(a.data());
    KT_FUZZ_CHECK(read(b.data()) == result);
    size_t written = 0;
    while (written < n && a[written] == b[written]) ++written;
    for (size_t i = written; i < n; ++i) KT_FUZZ_CHECK(a[i] == 0xA5 && b[i] == 0x5A);
    return written;
}

class Driver {
public:
    explicit Driver(FuzzedDataProvider& in) : in_(in) {}

    void Run(PoweredDevice& device) {
        for (int step = 0; step < 64 && in_.remaining_bytes() > 0; ++step) Step(device);
    }

private:
    uint8_t Byte() { return in_.ConsumeIntegral<uint8_t>(); }

    void Step(PoweredDevice& d) {
        const uint8_t idn = Byte(), index = Byte(), selector = Byte();
        const int op = in_.ConsumeIntegralInRange(0, 15);
        uint8_t flag = 0;
        uint32_t value = 0;
        if (op < 6) {  // flag and attribute queries
            KT_FUZZ_CHECK(QueryResult(
                op == 0   ? d.ReadFlag(idn, &flag)
                : op == 1 ? d.SetFlag(idn)
                : op == 2 ? d.ClearFlag(idn)
                : op == 3 ? d.ToggleFlag(idn)
                : op == 4 ? d.ReadAttribute(idn, index, selector, &value)
                          : d.WriteAttribute(idn, index, selector, in_.ConsumeIntegral<uint32_t>())));
        } else if (op == 6) {
            ReadDescriptor(d, idn, index, selector);
        } else if (op == 7) {
            WriteDescriptor(d, idn, index, selector);
        } else if (op == 8) {
            const uint32_t attr =
                in_.ConsumeBool() ? in_.ConsumeIntegral<uint32_t>() : in_.ConsumeIntegral<uint16_t>();
            const uint8_t kind = in_.ConsumeBool() ? (in_.ConsumeBool() ? 1 : 3) : Byte();
            KT_FUZZ_CHECK(DmeResult(d.GetDme(attr, selector, kind, &value)));
        } else if (op == 9) {
            const int32_t r = d.Reset(in_.ConsumeBool() ? 1 : Byte());
            KT_FUZZ_CHECK(r == KT62_OK || LibraryError(r));
        } else if (op == 10) {
            std::vector<uint8_t> buffer = Patterned(192, 0xA5);
            KT_FUZZ_CHECK(ScsiResult(d.ScsiInquiry(buffer.data())));
            KT_FUZZ_CHECK(
                std::all_of(buffer.begin() + 36, buffer.end(), [](uint8_t b) { return b == 0xA5; }));
        } else if (op == 11) {
            ReadCapacity(d);
        } else if (op < 14) {
            Transfer(d, in_.ConsumeBool());
        } else if (op == 14) {
            d.OnClose();
            d.OnOpen();
        } else {
            static constexpr uint32_t kPackets[] = {0, 1, 512, 4096, 12345, 65536, 0xFFFFFFFF};
            kt62::Registry::SetPacketSize(in_.PickValueInArray(kPackets));
        }
    }

    uint32_t Length() {
        const int kind = in_.ConsumeIntegralInRange(0, 3);
        return kind == 0   ? Byte()
               : kind == 1 ? in_.ConsumeIntegralInRange<uint32_t>(0, 600)
               : kind == 2 ? 0
                           : 255;
    }

    void ReadDescriptor(PoweredDevice& d, uint8_t idn, uint8_t index, uint8_t selector) {
        const uint32_t length = Length();
        int32_t r = 0, whole_r = 0;
        const size_t written = WrittenPrefix(
            length, [&](uint8_t* b) { return d.ReadDescriptor(idn, index, selector, b, length); }, r);
        KT_FUZZ_CHECK(QueryResult(r));
        if (r != KT62_OK) return KT_FUZZ_CHECK(written == 0);
        // As much as the whole descriptor, as a 255-byte read shows it, and no more than asked.
        const size_t whole = WrittenPrefix(
            255, [&](uint8_t* b) { return d.ReadDescriptor(idn, index, selector, b, 255); }, whole_r);
        KT_FUZZ_CHECK(whole_r == KT62_OK);
        KT_FUZZ_CHECK(written == std::min<size_t>(length, whole));
    }

    void WriteDescriptor(PoweredDevice& d, uint8_t idn, uint8_t index, uint8_t selector) {
        std::vector<uint8_t> bytes;
        if (in_.ConsumeBool()) {
            // Mostly the configuration the device holds, with a few bytes changed: provisioning
            // that gets past the first checks.
            bytes = Patterned(255, 0);
            int32_t r = 0;
            bytes.resize(WrittenPrefix(
                255, [&](uint8_t* b) { return d.ReadDescriptor(1, 0, 0, b, 255); }, r));
            for (int n = in_.ConsumeIntegralInRange(0, 4); n > 0 && !bytes.empty(); --n)
                bytes[in_.ConsumeIntegralInRange<size_t>(0, bytes.size() - 1)] = Byte();
            if (in_.ConsumeBool()) bytes.resize(in_.ConsumeIntegralInRange<size_t>(0, 300));
            idn = 1;
        } else {
            bytes = in_.ConsumeBytes<uint8_t>(Length());
        }
        KT_FUZZ_CHECK(QueryResult(
            d.WriteDescriptor(idn, index, selector, bytes.data(), static_cast<uint32_t>(bytes.size()))));
    }

    void ReadCapacity(PoweredDevice& d) {
        uint32_t sectors = 0, block = 0;
        const int32_t r = d.ScsiReadCapacity(&sectors, &block);
        KT_FUZZ_CHECK(ScsiResult(r));
        if (r != KT62_OK) return;
        std::vector<uint8_t> unit(255);
        KT_FUZZ_CHECK(d.ReadDescriptor(2, 0, 0, unit.data(), 255) == KT62_OK);
        uint64_t count = 0;
        for (int i = 0; i < 8; ++i) count = count << 8 | unit[0x0B + i];
        KT_FUZZ_CHECK(unit[0x03] != 0);  // enabled
        KT_FUZZ_CHECK(unit[0x0A] < 32 && block == uint32_t{1} << unit[0x0A]);
        KT_FUZZ_CHECK(sectors == std::min<uint64_t>(count, UINT32_MAX));
        sectors_ = sectors;
        block_ = block;
    }

    void Transfer(PoweredDevice& d, bool write) {
        static constexpr uint32_t kSizes[] = {0, 512, 4096, 8192, 65536};
        const uint32_t block = in_.ConsumeBool() && block_ ? block_ : in_.PickValueInArray(kSizes);
        const uint32_t count = in_.ConsumeIntegralInRange<uint32_t>(0, 16);
        uint32_t lba = in_.ConsumeIntegral<uint32_t>();
        if (in_.ConsumeBool()) lba = sectors_ - std::min(sectors_, lba % 40);  // near the end
        std::vector<uint8_t> buffer = Patterned(size_t{block} * count, Byte());
        const int32_t r = write ? d.ScsiWrite10(lba, block, buffer.data(), count, 0)
                                : d.ScsiRead10(lba, block, buffer.data(), count, 0);
        KT_FUZZ_CHECK(ScsiResult(r));
    }

    FuzzedDataProvider& in_;
    uint32_t sectors_ = 0, block_ = 0;
};

KT_FUZZ_TARGET(data, size) {
    FuzzedDataProvider in(data, size);
    const std::filesystem::path state = kt::fuzz::ScratchDir() + "/state";
    std::filesystem::remove_all(state);
    kt62::Registry::SetPacketSize(0);
    const std::unique_ptr<PoweredDevice> device =
        kt62::emu::MakeUfsDevice(ProfileVariant(in.ConsumeIntegral<uint8_t>()), {state, 0});
    device->OnOpen();
    Driver(in).Run(*device);
    device->OnClose();
}
