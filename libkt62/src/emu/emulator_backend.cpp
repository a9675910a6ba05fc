#include "emu/emulator_backend.h"

#include <string>
#include <utility>

#include "diag.h"
#include "emu/lock_file.h"
#include "emu/programmer.h"

namespace kt62::emu {
namespace {

// One handle on an emulated programmer: it holds the programmer's lock file, so that no other
// handle, here or in another process, opens it meanwhile.
class EmulatorConnection final : public Connection {
public:
    EmulatorConnection(std::shared_ptr<Programmer> programmer, LockFile lock)
        : programmer_(std::move(programmer)), lock_(std::move(lock)) {}

    int32_t GetVersion(uint8_t* version) override { return programmer_->GetVersion(version); }
    int32_t GetProduct(uint8_t* version, uint8_t* name, uint8_t* extra) override {
        return programmer_->GetProduct(version, name, extra);
    }

    int32_t ScsiInquiry(uint8_t* buffer) override { return Device().ScsiInquiry(buffer); }
    int32_t ScsiReadCapacity(uint32_t* sectors, uint32_t* bytes_per_sector) override {
        return Device().ScsiReadCapacity(sectors, bytes_per_sector);
    }
    int32_t ScsiRead10(uint32_t lba, uint32_t bytes_per_sector, uint8_t* buffer, uint32_t count,
                       uint32_t packet_bytes) override {
        return Device().ScsiRead10(lba, bytes_per_sector, buffer, count, packet_bytes);
    }
    int32_t ScsiWrite10(uint32_t lba, uint32_t bytes_per_sector, const uint8_t* buffer, uint32_t count,
                        uint32_t packet_bytes) override {
        return Device().ScsiWrite10(lba, bytes_per_sector, buffer, count, packet_bytes);
    }

    int32_t ReadFlag(uint8_t idn, uint8_t* value) override { return Device().ReadFlag(idn, value); }
    int32_t SetFlag(uint8_t idn) override { return Device().SetFlag(idn); }
    int32_t ClearFlag(uint8_t idn) override { return Device().ClearFlag(idn); }
    int32_t ToggleFlag(uint8_t idn) override { return Device().ToggleFlag(idn); }
    int32_t ReadAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t* value) override {
        return Device().ReadAttribute(idn, index, selector, value);
    }
    int32_t WriteAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t value) override {
        return Device().WriteAttribute(idn, index, selector, value);
    }
    int32_t ReadDescriptor(uint8_t idn, uint8_t index, uint8_t selector, uint8_t* buffer,
                           uint32_t length) override {
        return Device().ReadDescriptor(idn, index, selector, buffer, length);
    }
    int32_t WriteDescriptor(uint8_t idn, uint8_t index, uint8_t selector, const uint8_t* buffer,
                            uint32_t length) override {
        return Device().WriteDescriptor(idn, index, selector, buffer, length);
    }
    int32_t GetDme(uint32_t attr_id, uint8_t selector, uint8_t kind, uint32_t* value) override {
        return Device().GetDme(attr_id, selector, kind, value);
    }
    int32_t Reset(uint8_t kind) override { return Device().Reset(kind); }
    int32_t Update(const kt62_char16* path) override { return programmer_->Update(path); }

    void Close() override {
        if (!programmer_) return;
        Device().OnClose();
        lock_.Release();
        programmer_.reset();
    }

private:
    UfsDevice& Device() { return programmer_->Device(); }

    std::shared_ptr<Programmer> programmer_;
    LockFile lock_;
};

class EmulatorBackend final : public Backend {
public:
    EmulatorBackend(int position, const ProgrammerProfile& profile, const std::filesystem::path& state_dir)
        : programmer_(std::make_shared<Programmer>(position, profile, state_dir)) {}

    FaultSet& Faults() override { return programmer_->Faults(); }
    bool Restarting() const override { return programmer_->Restarting(); }

    std::unique_ptr<Connection> Open(int32_t position) override {
        const std::string name = "programmer " + std::to_string(position);
        if (programmer_->StateDir().empty()) {
            Complain(name + " cannot be opened: no state folder (neither XDG_DATA_HOME nor HOME is set)");
            return nullptr;
        }
        LockFile lock;
        std::string why;
        switch (LockFile::Acquire(programmer_->LockPath(), lock, why)) {
            case LockFile::Outcome::Locked:
                break;
            case LockFile::Outcome::InUse:
                Complain(name + " is in use" + why + " (" + programmer_->LockPath().string() + ")");
                return nullptr;
            case LockFile::Outcome::Failed:
                Complain(name + " cannot be opened: " + why);
                return nullptr;
        }
        programmer_->Attach();
        programmer_->Device().OnOpen();
        return std::make_unique<EmulatorConnection>(programmer_, std::move(lock));
    }

private:
    std::shared_ptr<Programmer> programmer_;
};

}  // namespace

std::shared_ptr<Backend> MakeEmulatorBackend(int position, const ProgrammerProfile& profile,
                                             const std::filesystem::path& state_dir) {
    return std::make_shared<EmulatorBackend>(position, profile, state_dir);
}

}  // namespace kt62::emu
