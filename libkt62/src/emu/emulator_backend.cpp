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

    UfsDevice& Device() override { return programmer_->Device(); }

    int32_t GetVersion(uint8_t* version) override { return programmer_->GetVersion(version); }
    int32_t GetProduct(uint8_t* version, uint8_t* name, uint8_t* extra) override {
        return programmer_->GetProduct(version, name, extra);
    }

    int32_t Update(const kt62_char16* path) override { return programmer_->Update(path); }

    void Close() override {
        if (!programmer_) return;
        programmer_->Device().OnClose();
        programmer_.reset();  // the lock goes with the connection, which the registry drops next
    }

private:
    std::shared_ptr<Programmer> programmer_;
    LockFile lock_;
};

class EmulatorBackend final : public Backend {
public:
    EmulatorBackend(int position, const ProgrammerProfile& profile, const std::filesystem::path& state_dir)
        : programmer_(std::make_shared<Programmer>(position, profile, state_dir)) {}

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
