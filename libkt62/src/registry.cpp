#include "registry.h"

#include "diag.h"

namespace kt62 {

std::atomic<uint32_t> Registry::packet_size_{0};

// Never destroyed: a handle closed from another static object's destructor at exit must still find
// the registry. The kernel drops the locks with the process.
Registry& Registry::Instance() {
    static auto* registry = new Registry;
    return *registry;
}

std::shared_ptr<Emulation> Registry::Current(bool check_for_change) {
    std::lock_guard lock(mutex_);
    return config_.Get(check_for_change);
}

KT62_HANDLE Registry::Open(const Emulation& emulation, int32_t position) {
    // A restarting programmer is not attached: the ones after it move up, as on a bus.
    std::shared_ptr<emu::Programmer> programmer;
    int32_t seen = 0;
    for (const auto& p : emulation.programmers) {
        if (p->Restarting()) continue;
        if (seen++ == position) {
            programmer = p;
            break;
        }
    }
    if (!programmer) return KT62_INVALID_HANDLE;
    const std::string name = "programmer " + std::to_string(position);
    if (programmer->StateDir().empty()) {
        Complain(name + " cannot be opened: no state folder (neither XDG_DATA_HOME nor HOME is set)");
        return KT62_INVALID_HANDLE;
    }

    auto session = std::make_shared<Session>();
    std::string why;
    switch (emu::LockFile::Acquire(programmer->LockPath(), session->lock, why)) {
        case emu::LockFile::Outcome::Locked:
            break;
        case emu::LockFile::Outcome::InUse:
            Complain(name + " is in use" + why + " (" + programmer->LockPath().string() + ")");
            return KT62_INVALID_HANDLE;
        case emu::LockFile::Outcome::Failed:
            Complain(name + " cannot be opened: " + why);
            return KT62_INVALID_HANDLE;
    }
    programmer->Attach();
    session->programmer = programmer;

    programmer->Device().OnOpen();

    std::lock_guard lock(mutex_);
    const intptr_t id = next_id_++;
    sessions_.emplace(id, std::move(session));
    return reinterpret_cast<KT62_HANDLE>(id);
}

std::shared_ptr<Session> Registry::Find(KT62_HANDLE h, int32_t& error) {
    const auto id = reinterpret_cast<intptr_t>(h);
    std::lock_guard lock(mutex_);
    const auto it = sessions_.find(id);
    if (it == sessions_.end()) {
        error = KT62_E_INVALID_HANDLE;
        return nullptr;
    }
    return it->second;
}

void Registry::Close(Session& session) {
    if (session.programmer) session.programmer->Device().OnClose();
    session.closed = true;
    session.lock.Release();
    session.programmer.reset();
}

void Registry::Detach(Session& session) {
    if (session.programmer) session.programmer->Device().OnClose();
    session.gone = true;
    session.lock.Release();
    session.programmer.reset();
}

}  // namespace kt62
