// Handles: opaque values from a registry, so that closed and never-issued
// handles are told apart and never dereferenced. Ids are small integers cast
// to the handle type, counted up from 1 and never reused.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include <kt62/apiKT6200.h>

#include "backend.h"
#include "config.h"

namespace kt62 {

struct Session {
    std::mutex mutex;                 // serialises every call on this handle
    std::atomic<bool> closed{false};  // set under mutex; read without it for an early answer
    bool gone = false;                // under mutex: the programmer restarted under this handle
    // The rules of the load that opened it: a reload does not change a session's rules.
    std::shared_ptr<FaultSet> faults;
    std::unique_ptr<Connection> connection;  // under mutex; null once closed or gone
};

class Registry {
public:
    static Registry& Instance();

    // The configuration in force; see ConfigSource::Get.
    std::shared_ptr<Emulation> Current(bool check_for_change);

    // Opens the programmer at `position` among those of `emulation` attached now (not
    // restarting): KT62_INVALID_HANDLE when there is none or when its backend cannot open it
    // (with a line on stderr).
    KT62_HANDLE Open(const Emulation& emulation, int32_t position);

    // The session of a handle ever issued, closed or not; nullptr and KT62_E_INVALID_HANDLE
    // for any other value.
    std::shared_ptr<Session> Find(KT62_HANDLE h, int32_t& error);

    // Ends a session; the caller holds its mutex. What the open took is released at once.
    static void Close(Session& session);
    // The programmer left under an open session (it restarts after an update): the session
    // answers KT62_E_NO_PROGRAMMER until closed, and the programmer is free for the next open.
    static void Detach(Session& session);

    static void SetPacketSize(uint32_t bytes) { packet_size_.store(bytes); }
    // 0 = the default.
    static uint32_t PacketSize() { return packet_size_.load(); }

private:
    std::mutex mutex_;
    ConfigSource config_;
    // Closed sessions stay, so that their handles keep answering KT62_E_NOT_OPEN.
    std::unordered_map<intptr_t, std::shared_ptr<Session>> sessions_;
    intptr_t next_id_ = 1;
    static std::atomic<uint32_t> packet_size_;
};

}  // namespace kt62
