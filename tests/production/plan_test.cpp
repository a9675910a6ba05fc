// The planner against layouts worked out by hand on the emulated 32 GiB part of each version
// (allocation unit 4 MiB, 8192 of them; enhanced 1 at factor 3 up to 512 units, enhanced 2 at
// factor 2; a WriteBooster buffer of up to 512 units at factor 3 from 3.1), whose own check must
// take every planned descriptor.
#include <gtest/gtest.h>

#include <functional>

#include "emu/device_model.h"
#include "emu/ufs_model.h"
#include "production/facts_source.h"
#include "production/plan.h"
#include "tests/support/fake_context.h"
#include "ufs/idn.h"

namespace kt::production {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

struct Part {
    std::shared_ptr<const kt62::emu::DeviceModel> model;
    DeviceFacts facts;
};

Part EmulatedPart(const char* version) {
    kt62::UfsProfile profile;
    profile.spec_version = version;
    Part part{kt62::emu::MakeDeviceModel(profile).model, {}};
    const kt62::emu::UfsModel device(part.model);
    auto facts = DecodeDeviceFacts(*device.Descriptor(ufs::kDeviceDescriptor, 0),
                                   *device.Descriptor(ufs::kGeometryDescriptor, 0));
    part.facts = std::get<DeviceFacts>(facts);
    return part;
}

UnitRequest Unit(int lun, std::uint64_t size, MemoryType type = MemoryType::Normal,
                 BootRole boot = BootRole::None) {
    return UnitRequest{.lun = lun, .rest = size == 0, .size_bytes = size, .memory_type = type, .boot = boot};
}

Layout BootSystemEnhancedRest() {
    Layout l;
    l.units = {Unit(0, 0), Unit(1, 8 * kMiB, MemoryType::Enhanced1, BootRole::A),
               Unit(2, 8 * kMiB, MemoryType::Enhanced1, BootRole::B),
               Unit(3, 64 * kMiB, MemoryType::SystemCode), Unit(4, 9 * kMiB, MemoryType::Enhanced2)};
    l.write_booster = {.enabled = true, .lun = 0, .size_bytes = 62 * kMiB};
    return l;
}

TEST(Plan, HandWorkedLayoutsPerVersion) {
    Layout worked;  // the reference's worked example: boot A and B of 4 MiB enhanced 1, the rest normal
    worked.units = {Unit(0, 0), Unit(1, 4 * kMiB, MemoryType::Enhanced1, BootRole::A),
                    Unit(2, 4 * kMiB, MemoryType::Enhanced1, BootRole::B)};
    Layout shared;  // a shared buffer that spares user space; an enhanced rest up to its type's limit
    shared.units = {Unit(0, 1024 * kMiB), Unit(1, 0, MemoryType::Enhanced1)};
    shared.write_booster = {
        .enabled = true, .shared = true, .size_bytes = 32 * kMiB, .preserve_user_space = true};
    struct Case {
        const char* version;
        Layout layout;
        std::vector<std::uint32_t> alloc_units;
        std::vector<std::uint64_t> blocks;
        std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>>
            bytes;  // at an offset of the descriptor
    };
    const Case cases[] = {
        {"2.1",
         worked,
         {8186, 3, 3},
         {8382464, 1024, 1024},
         {{0x00, {0x90, 0x01, 0x00, 0x01, 0x00, 0x01, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
          {0x10, {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F, 0xFA, 0x00, 0x0C, 0, 0, 0, 0, 0, 0}},
          {0x20, {0x01, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x03, 0x00, 0x0C, 0, 0, 0, 0, 0, 0}}}},
        // 8192 - 6 - 6 - 16 - 5 - 16 x 3 for the buffer (62 MiB, rounded up) = 8111 (0x1FAF);
        // 9 MiB x 2 / 4 MiB rounds up to 5 units, granting 10 MiB.
        {"3.1",
         BootSystemEnhancedRest(),
         {8111, 6, 6, 16, 5},
         {8305664, 2048, 2048, 16384, 2560},
         {{0x00, {0xE6, 0x01}},
          {0x10, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
          {0x16 + 0x04, {0x00, 0x00, 0x1F, 0xAF}},
          {0x16 + 0x16, {0x00, 0x00, 0x00, 0x10}},
          {0x16 + 4 * 0x1A, {0x01, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05}}}},
        // The rest gets enhanced 1's 512 units: 512 x 4 MiB / 3 = 715827882 bytes, 174762 blocks.
        {"4.0",
         shared,
         {256, 512},
         {262144, 174762},
         {{0x10, {0x01, 0x01, 0x00, 0x00, 0x00, 0x08}}, {0x16 + 0x1A + 0x04, {0x00, 0x00, 0x02, 0x00}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        const Part part = EmulatedPart(c.version);
        const auto made = MakePlan(c.layout, part.facts);
        ASSERT_TRUE(std::holds_alternative<Plan>(made)) << std::get<Refusal>(made).Text();
        const Plan& plan = std::get<Plan>(made);
        for (std::size_t i = 0; i < plan.units.size(); ++i) {
            EXPECT_EQ(plan.units[i].alloc_units, c.alloc_units[i]) << "unit " << i;
            EXPECT_EQ(plan.units[i].blocks, c.blocks[i]) << "unit " << i;
            const auto entry =
                kt62::emu::DecodeUnit(*part.model, plan.configuration.data(), plan.units[i].request.lun);
            EXPECT_EQ(kt62::emu::UnitBlocks(*part.model, entry), c.blocks[i])
                << "the part's count, unit " << i;
        }
        for (const auto& [at, want] : c.bytes)
            EXPECT_EQ(std::vector<std::uint8_t>(
                          plan.configuration.begin() + static_cast<std::ptrdiff_t>(at),
                          plan.configuration.begin() + static_cast<std::ptrdiff_t>(at + want.size())),
                      want)
                << "at " << at;
        EXPECT_EQ(kt62::emu::CheckConfig(*part.model, plan.configuration.data()), std::nullopt);
        EXPECT_NE(RenderPlan(plan).find("Allocation units used: " + std::to_string(plan.used_alloc_units) +
                                        " of 8192"),
                  std::string::npos);
    }
}

TEST(Plan, RefusalsNameTheUnitAndTheRule) {
    struct Case {
        const char* version;
        std::function<void(Layout&, DeviceFacts&)> change;  // of BootSystemEnhancedRest on the part
        int lun;
        Rule rule;
    };
    const Case cases[] = {
        {"3.1", [](Layout& l, DeviceFacts&) { l.units[3] = Unit(3, 40ULL << 30); }, 3, Rule::TotalCapacity},
        {"3.1", [](Layout& l, DeviceFacts&) { l.units[2].size_bytes = 1ULL << 30; }, 2, Rule::TypeCapacity},
        {"3.1", [](Layout&, DeviceFacts& f) { f.supported_memory_types = 0x800F; }, 4, Rule::MemoryType},
        {"3.1", [](Layout& l, DeviceFacts&) { l.units[4].lun = 8; }, 8, Rule::UnitNumber},
        {"3.1", [](Layout& l, DeviceFacts&) { l.units[2].boot = BootRole::A; }, 2, Rule::BootRole},
        {"3.1",
         [](Layout& l, DeviceFacts&) {
             l.boot_lun_en = 2;
             l.units[2].boot = BootRole::None;
         },
         -1, Rule::BootRole},
        {"3.1", [](Layout& l, DeviceFacts&) { l.units[1].block_exponent = 11; }, 1, Rule::BlockSize},
        // The others and the buffer take all 8192 units.
        {"3.1", [](Layout& l, DeviceFacts&) { l.units[3] = Unit(3, 8127 * 4 * kMiB); }, 0, Rule::Empty},
        {"3.1", [](Layout& l, DeviceFacts&) { l.units[4].size_bytes = ~0ULL; }, 4, Rule::Overflow},
        {"3.1", [](Layout& l, DeviceFacts&) { l.write_booster.size_bytes = 4ULL << 30; }, 0,
         Rule::WriteBoosterCapacity},
        {"3.1",
         [](Layout& l, DeviceFacts& f) {
             l.write_booster.shared = true;
             f.write_booster.buffer_types = 0;
         },
         -1, Rule::WriteBooster},
        {"2.1", [](Layout&, DeviceFacts&) {}, 0, Rule::WriteBooster},
        {"2.1", [](Layout& l, DeviceFacts&) { l.units[3].provisioning_type = 1; }, 3, Rule::UnitSetting},
        {"2.1", [](Layout& l, DeviceFacts&) { l.device.secure_removal_type = 1; }, -1, Rule::DeviceSetting},
    };
    for (const Case& c : cases) {
        Part part = EmulatedPart(c.version);
        Layout layout = BootSystemEnhancedRest();
        c.change(layout, part.facts);
        const auto made = MakePlan(layout, part.facts);
        ASSERT_TRUE(std::holds_alternative<Refusal>(made)) << RuleName(c.rule);
        const Refusal& r = std::get<Refusal>(made);
        EXPECT_EQ(r.lun, c.lun) << r.Text();
        EXPECT_EQ(r.rule, c.rule) << r.Text();
    }
}

TEST(Plan, SavedDescriptorsGiveTheConnectedPartsFacts) {
    kt62::UfsProfile profile;
    profile.spec_version = "3.1";
    const kt62::emu::UfsModel device(kt62::emu::MakeDeviceModel(profile).model);
    auto device_bytes = *device.Descriptor(ufs::kDeviceDescriptor, 0);
    const auto geometry = *device.Descriptor(ufs::kGeometryDescriptor, 0);
    const auto facts = std::get<DeviceFacts>(FactsFromSaved(device_bytes, geometry));
    EXPECT_TRUE(facts.write_booster.supported);
    EXPECT_EQ(facts.memory[3].cap_adj_factor, 0x0300);
    EXPECT_EQ(facts.spec_version, 0x0310);
    // Cut short, a saved file no longer matches its length byte; a layout no version has is refused.
    EXPECT_EQ(std::get<Refusal>(FactsFromSaved(std::span(device_bytes).first(0x40), geometry)).rule,
              Rule::Descriptor);
    device_bytes[ufs::kDeviceUdConfigPLength] = 0x11;
    EXPECT_EQ(std::get<Refusal>(FactsFromSaved(device_bytes, geometry)).rule, Rule::Descriptor);
}

TEST(Plan, FactsOfTheConnectedPartEqualThoseOfItsSavedFiles) {
    const test::TempDir dir;
    const KT62_HANDLE h = test::OpenEmulated(dir, R"("ufs": {"spec_version": "4.0"})");
    ASSERT_NE(h, KT62_INVALID_HANDLE);
    std::string saved[2];
    for (const std::uint8_t idn : {ufs::kDeviceDescriptor, ufs::kGeometryDescriptor}) {
        std::array<std::uint8_t, 255> bytes{};
        ASSERT_EQ(kt62UfsReadDescriptor(h, idn, 0, 0, bytes.data(), bytes.size()), 0);
        saved[idn == ufs::kGeometryDescriptor] =
            dir.Write(std::to_string(idn) + ".descr", std::string(bytes.begin(), bytes.begin() + bytes[0]));
    }
    const auto live = ReadDeviceFacts(h);
    kt62Close(h);
    ASSERT_TRUE(std::holds_alternative<DeviceFacts>(live)) << std::get<Refusal>(live).Text();
    EXPECT_EQ(std::get<DeviceFacts>(live).spec_version, 0x0400);
    EXPECT_EQ(std::get<DeviceFacts>(ReadSavedFacts(saved[0], saved[1])), std::get<DeviceFacts>(live));
    EXPECT_EQ(std::get<Refusal>(ReadSavedFacts(saved[0], dir.Path() + "/none")).rule, Rule::Descriptor);
}

}  // namespace
}  // namespace kt::production
