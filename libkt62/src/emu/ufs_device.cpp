#include "emu/ufs_device.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include <kt62/apiKT6200.h>

#include "diag.h"
#include "emu/device_state.h"
#include "emu/device_store.h"
#include "emu/link_model.h"
#include "emu/lu_store.h"
#include "emu/ufs_model.h"

namespace kt62::emu {
namespace {

// Sense keys and additional sense codes of the failures a unit reports.
constexpr int32_t kLbaOutOfRange = KT62_SCSI_FAILURE(0x05, 0x21);     // ILLEGAL REQUEST
constexpr int32_t kUnitNotSupported = KT62_SCSI_FAILURE(0x05, 0x25);  // ILLEGAL REQUEST
constexpr int32_t kWriteProtected = KT62_SCSI_FAILURE(0x07, 0x27);    // DATA PROTECT

// Transfer unit inside one READ(10)/WRITE(10) call when kt62SetPacketSize left it at 0.
constexpr uint64_t kDefaultPacketBytes = uint64_t{8} << 20;
// A READ(10)/WRITE(10) command carries at most this many blocks.
constexpr uint64_t kMaxBlocksPerCommand = 0xFFFF;

// The device of one programmer. Its state is loaded at the first call after an open (power-up),
// kept in memory, and written back only when something that survives power loss changes.
class EmulatedUfsDevice final : public PoweredDevice {
public:
    EmulatedUfsDevice(const UfsProfile& profile, const DeviceContext& context)
        : position_(context.position),
          dir_(context.state_dir.empty() ? std::filesystem::path()
                                         : DeviceDir(context.state_dir, context.position)),
          units_(dir_) {
        ModelOrError made = MakeDeviceModel(profile);
        if (made.model)
            model_ = std::make_unique<UfsModel>(std::move(made.model));
        else
            model_error_ = "ufs." + made.error->key + ": " + made.error->reason;
    }

    void OnOpen() override {
        std::lock_guard lock(mutex_);
        ready_ = false;
        failed_ = false;
    }
    void OnClose() override {
        std::lock_guard lock(mutex_);
        ready_ = false;
        units_.CloseAll();
    }

    int32_t ScsiInquiry(uint8_t* buffer) override {
        std::lock_guard lock(mutex_);
        if (const int32_t r = Ready(); r != KT62_OK) return r;
        model_->Inquiry(0, buffer);
        return KT62_OK;
    }

    int32_t ScsiReadCapacity(uint8_t lun, uint32_t* sectors, uint32_t* bytes_per_sector) override {
        std::lock_guard lock(mutex_);
        if (const int32_t r = Ready(); r != KT62_OK) return r;
        if (lun >= kUnits || !model_->Unit(lun).enabled) return kUnitNotSupported;
        const UnitTarget& unit = model_->Unit(lun);
        // As READ CAPACITY(10) does, a unit too large for 32 bits answers all ones.
        *sectors = static_cast<uint32_t>(std::min<uint64_t>(unit.blocks, UINT32_MAX));
        *bytes_per_sector = unit.block_bytes;
        return KT62_OK;
    }

    int32_t ScsiRead10(uint8_t lun, uint32_t lba, uint32_t bytes_per_sector, uint8_t* buffer, uint32_t count,
                       uint32_t packet_bytes) override {
        std::lock_guard lock(mutex_);
        const UnitTarget* unit = nullptr;
        if (const int32_t r = CheckTransfer(lun, lba, bytes_per_sector, count, unit);
            r != KT62_OK || count == 0)
            return r;
        std::string error;
        const int32_t r =
            units_.Read(lun, *unit, uint64_t{lba} * unit->block_bytes, buffer,
                        uint64_t{count} * unit->block_bytes, PacketBytes(*unit, packet_bytes), error);
        if (r != KT62_OK) Complain(Who() + error);
        return r;
    }

    int32_t ScsiWrite10(uint8_t lun, uint32_t lba, uint32_t bytes_per_sector, const uint8_t* buffer,
                        uint32_t count, uint32_t packet_bytes) override {
        std::lock_guard lock(mutex_);
        const UnitTarget* unit = nullptr;
        if (const int32_t r = CheckTransfer(lun, lba, bytes_per_sector, count, unit); r != KT62_OK) return r;
        if (unit->write_protected) return kWriteProtected;
        if (count == 0) return KT62_OK;
        std::string error;
        const int32_t r =
            units_.Write(lun, *unit, uint64_t{lba} * unit->block_bytes, buffer,
                         uint64_t{count} * unit->block_bytes, PacketBytes(*unit, packet_bytes), error);
        if (r != KT62_OK) Complain(Who() + error);
        return r;
    }

    int32_t ReadFlag(uint8_t idn, uint8_t* value) override {
        std::lock_guard lock(mutex_);
        if (const int32_t r = Ready(); r != KT62_OK) return r;
        return model_->ReadFlag(idn, value);
    }
    int32_t SetFlag(uint8_t idn) override {
        std::lock_guard lock(mutex_);
        if (const int32_t r = Ready(); r != KT62_OK) return r;
        return Reported(model_->SetFlag(idn));
    }
    int32_t ClearFlag(uint8_t idn) override {
        std::lock_guard lock(mutex_);
        if (const int32_t r = Ready(); r != KT62_OK) return r;
        return Reported(model_->ClearFlag(idn));
    }
    int32_t ToggleFlag(uint8_t idn) override {
        std::lock_guard lock(mutex_);
        if (const int32_t r = Ready(); r != KT62_OK) return r;
        return Reported(model_->ToggleFlag(idn));
    }
    int32_t ReadAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t* value) override {
        std::lock_guard lock(mutex_);
        if (const int32_t r = Ready(); r != KT62_OK) return r;
        return model_->ReadAttribute(idn, index, selector, value);
    }
    int32_t WriteAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t value) override {
        std::lock_guard lock(mutex_);
        if (const int32_t r = Ready(); r != KT62_OK) return r;
        return Reported(model_->WriteAttribute(idn, index, selector, value));
    }
    int32_t ReadDescriptor(uint8_t idn, uint8_t index, uint8_t selector, uint8_t* buffer,
                           uint32_t length) override {
        std::lock_guard lock(mutex_);
        if (const int32_t r = Ready(); r != KT62_OK) return r;
        return model_->ReadDescriptor(idn, index, selector, buffer, length);
    }
    int32_t WriteDescriptor(uint8_t idn, uint8_t index, uint8_t selector, const uint8_t* buffer,
                            uint32_t length) override {
        std::lock_guard lock(mutex_);
        if (const int32_t r = Ready(); r != KT62_OK) return r;
        return Reported(model_->WriteDescriptor(idn, index, selector, buffer, length));
    }
    int32_t GetDme(uint32_t attr_id, uint8_t selector, uint8_t kind, uint32_t* value) override {
        if (kind != 1 && kind != 3) return KT62_E_BAD_ARGUMENT;
        std::lock_guard lock(mutex_);
        if (const int32_t r = Ready(); r != KT62_OK) return r;
        return DmeGet(model_->Device(), kind == 1 ? LinkSide::Local : LinkSide::Peer, attr_id, selector,
                      value);
    }

    // Kind 1, the hardware reset, is the only one: it does what a power cycle does.
    int32_t Reset(uint8_t kind) override {
        if (kind != 1) return KT62_E_BAD_ARGUMENT;
        std::lock_guard lock(mutex_);
        if (!ready_) return Ready();  // powering up applies a pending configuration already
        if (const int32_t r = Reported(model_->PowerOn()); r != KT62_OK) return r;
        std::string error;
        const int32_t r = units_.Prepare(model_->Units(), error);
        if (r != KT62_OK) {
            Complain(Who() + error);
            return r;
        }
        units_.RemoveUnused(model_->Units());
        return KT62_OK;
    }

private:
    std::string Who() const { return "programmer " + std::to_string(position_) + ": "; }

    // Powers the device up on its first call after an open. A state that cannot be used is
    // reported once and refuses every call until the programmer is opened again.
    int32_t Ready() {
        if (ready_) return KT62_OK;
        if (failed_) return KT62_E_STATE_IO;
        std::string notice;
        std::string error;
        int32_t r = KT62_E_STATE_IO;
        if (!model_) {
            error = model_error_;
        } else if (dir_.empty()) {
            error = "no state folder (neither XDG_DATA_HOME nor HOME is set)";
        } else {
            r = PowerUpDevice(dir_, *model_, units_, notice, error);
        }
        if (!notice.empty()) Complain(Who() + notice);
        if (r != KT62_OK) {
            Complain(Who() + error + " (the device answers " + kt62ResultName(KT62_E_STATE_IO) +
                     " until the state is repaired or removed)");
            failed_ = true;
            return KT62_E_STATE_IO;
        }
        InstallSaver(*model_, dir_, &save_error_);
        ready_ = true;
        return KT62_OK;
    }

    int32_t Reported(int32_t r) {
        if (r == KT62_E_STATE_IO) Complain(Who() + save_error_);
        return r;
    }

    int32_t CheckTransfer(uint8_t lun, uint32_t lba, uint32_t bytes_per_sector, uint32_t count,
                          const UnitTarget*& unit) {
        if (const int32_t r = Ready(); r != KT62_OK) return r;
        if (lun >= kUnits || !model_->Unit(lun).enabled) return kUnitNotSupported;
        unit = &model_->Unit(lun);
        if (bytes_per_sector != unit->block_bytes) return KT62_E_BAD_ARGUMENT;
        if (uint64_t{lba} + count > unit->blocks) return kLbaOutOfRange;
        return KT62_OK;
    }

    // The packet size in whole blocks, at least one block and at most one command's worth.
    static uint64_t PacketBytes(const UnitTarget& unit, uint32_t packet_bytes) {
        const uint64_t packet = packet_bytes ? packet_bytes : kDefaultPacketBytes;
        const uint64_t blocks = std::clamp<uint64_t>(packet / unit.block_bytes, 1, kMaxBlocksPerCommand);
        return blocks * unit.block_bytes;
    }

    std::mutex mutex_;
    const int position_;
    const std::filesystem::path dir_;
    std::unique_ptr<UfsModel> model_;
    std::string model_error_;
    LuStore units_;
    std::string save_error_;
    bool ready_ = false;
    bool failed_ = false;
};

}  // namespace

std::unique_ptr<PoweredDevice> MakeUfsDevice(const UfsProfile& profile, const DeviceContext& context) {
    return std::make_unique<EmulatedUfsDevice>(profile, context);
}

}  // namespace kt62::emu
