#include "registry.h"

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
    const Attached* found = nullptr;
    int32_t seen = 0;
    for (const Attached& p : emulation.programmers) {
        if (p.backend->Restarting()) continue;
        if (seen++ == position) {
            found = &p;
            break;
        }
    }
    if (!found) return KT62_INVALID_HANDLE;
    auto session = std::make_shared<Session>();
    session->connection = found->backend->Open(position);
    if (!session->connection) return KT62_INVALID_HANDLE;
    session->faults = found->faults;

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
    if (session.connection) session.connection->Close();
    session.connection.reset();
    session.closed = true;
}

void Registry::Detach(Session& session) {
    if (session.connection) session.connection->Close();
    session.connection.reset();
    session.gone = true;
}

}  // namespace kt62
