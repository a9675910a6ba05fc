// The exported C functions: the session layer over the backends. Each one
// traces itself and follows one path: check the handle, check the arguments,
// take the handle's lock, let the programmer's fault rules answer, else ask
// the programmer's backend. No exception leaves a C function.
#include <kt62/apiKT6200.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "diag.h"
#include "faults.h"
#include "registry.h"
#include "trace.h"

namespace {

using kt62::CallArgs;
using kt62::FaultOutputs;
using kt62::Fn;
using kt62::MatchKey;
using kt62::Registry;
using kt62::Session;
using kt62::TraceLine;
using kt62::UfsDevice;

void Pause(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Byte outputs into a buffer of fixed size: the rule's bytes, then zeros.
void PutPadded(const std::vector<uint8_t>& bytes, uint8_t* out, size_t size) {
    std::memset(out, 0, size);
    std::copy_n(bytes.begin(), std::min(bytes.size(), size), out);
}

const auto kNoOutputs = [](const FaultOutputs&) {};

// Runs a C function's body with its trace line, named from the function table; an exception
// becomes `failed` (KT62_E_INTERNAL, or the invalid handle) with a line on stderr, since the
// caller cannot catch it.
template <class Result, class Body>
Result Traced(Fn fn, Result failed, Body&& body) noexcept {
    const char* function = kt62::Info(fn).name;
    try {
        TraceLine trace(function);
        return body(trace);
    } catch (const std::exception& e) {
        try {
            kt62::Complain(std::string(function) + ": " + e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            kt62::Complain(std::string(function) + ": unexpected failure");
        } catch (...) {
        }
    }
    return failed;
}
template <class Body>
int32_t Traced(Fn fn, Body&& body) noexcept {
    return Traced<int32_t>(fn, KT62_E_INTERNAL, std::forward<Body>(body));
}

template <class FromRule, class FromDevice>
int32_t OnRules(Session& session, const CallArgs& call, FromRule&& from_rule, FromDevice&& from_device,
                bool bookkeeping) {
    if (const auto action = session.faults->Apply(call)) {
        Pause(action->delay_ms);
        if (action->outputs.Any()) {
            from_rule(action->outputs);
            return action->result.value_or(KT62_OK);
        }
        if (action->result && !(bookkeeping && *action->result == KT62_OK)) return *action->result;
    }
    return from_device(session);
}

// A call's result with the handle's lock still held. Call sites write `trace.Finish(OnHandle(...))`:
// the temporary lives until the line is written, so the trace lists the calls on one handle in
// the order the device took them, even when another thread was waiting for the lock.
struct Held {
    int32_t result = KT62_OK;
    std::unique_lock<std::mutex> lock;
    operator int32_t() const {
        return result;
    }  // NOLINT(google-explicit-constructor,hicpp-explicit-conversions)
};

// A bad handle or a bad argument never reaches the rules, so it never uses one up.
// Bookkeeping (closing) still happens under a rule that answers 0 without outputs.
template <class FromRule, class FromDevice>
Held OnHandle(KT62_HANDLE h, bool args_ok, const CallArgs& call, FromRule&& from_rule,
              FromDevice&& from_device, bool bookkeeping = false) {
    int32_t error = KT62_OK;
    const std::shared_ptr<Session> session = Registry::Instance().Find(h, error);
    if (!session) return {error, {}};
    if (session->closed) return {KT62_E_NOT_OPEN, {}};
    if (!args_ok) return {KT62_E_BAD_ARGUMENT, {}};
    Held held{KT62_OK, std::unique_lock(session->mutex)};
    if (session->closed) {
        held.result = KT62_E_NOT_OPEN;
    } else if (session->gone) {
        // The programmer restarted under this handle: nothing to ask, only the handle to close.
        held.result = bookkeeping ? KT62_OK : KT62_E_NO_PROGRAMMER;
        if (bookkeeping) Registry::Close(*session);
    } else {
        held.result = OnRules(*session, call, from_rule, from_device, bookkeeping);
    }
    return held;
}

UfsDevice& Device(Session& s) { return s.connection->Device(); }

CallArgs QueryCall(Fn fn, uint8_t idn, uint8_t index, uint8_t selector) {
    return CallArgs(fn).Set(MatchKey::Idn, idn).Set(MatchKey::Index, index).Set(MatchKey::Selector, selector);
}

// Set, clear and toggle differ only in function and device call.
template <class Op>
int32_t FlagOp(Fn fn, KT62_HANDLE h, uint8_t idn, Op&& op) {
    return Traced(fn, [&](TraceLine& trace) {
        trace.Handle(h).Arg("idn", idn);
        return trace.Finish(OnHandle(h, true, CallArgs(fn).Set(MatchKey::Idn, idn), kNoOutputs,
                                     [&](Session& s) { return op(Device(s)); }));
    });
}

// The unit calls and those of unit 0 differ in name only: a unit call's trace line and rules
// carry its lun as well.
CallArgs SectorArgs(Fn fn, uint8_t lun, TraceLine& trace) {
    CallArgs call(fn);
    if (fn == Fn::ScsiReadCapacityUnit || fn == Fn::ScsiRead10Unit || fn == Fn::ScsiWrite10Unit) {
        trace.Arg("lun", lun);
        call.Set(MatchKey::Lun, lun);
    }
    return call;
}

int32_t ReadCapacity(Fn fn, KT62_HANDLE h, uint8_t lun, uint32_t* sectors, uint32_t* bytes_per_sector) {
    return Traced(fn, [&](TraceLine& trace) {
        trace.Handle(h);
        const CallArgs call = SectorArgs(fn, lun, trace);
        return trace.Finish(OnHandle(
            h, sectors != nullptr && bytes_per_sector != nullptr, call,
            [&](const FaultOutputs& o) {
                if (o.sectors) *sectors = *o.sectors;
                if (o.sector_size) *bytes_per_sector = *o.sector_size;
            },
            [&](Session& s) { return Device(s).ScsiReadCapacity(lun, sectors, bytes_per_sector); }));
    });
}

struct SectorCall {
    uint8_t lun;
    uint32_t lba;
    uint32_t bytes_per_sector;
    uint32_t count;
};

// READ(10) into `in`, or WRITE(10) from `out`.
int32_t Sectors(Fn fn, KT62_HANDLE h, const SectorCall& c, uint8_t* in, const uint8_t* out) {
    return Traced(fn, [&](TraceLine& trace) {
        trace.Handle(h);
        CallArgs call = SectorArgs(fn, c.lun, trace);
        trace.Arg("lba", c.lba).Arg("bytes_per_sector", c.bytes_per_sector).Arg("count", c.count);
        const bool write = fn == Fn::ScsiWrite10 || fn == Fn::ScsiWrite10Unit;
        const bool args_ok = (write ? out != nullptr : in != nullptr) || c.count == 0;
        return trace.Finish(OnHandle(h, args_ok, call.Sectors(c.lba, c.count), kNoOutputs, [&](Session& s) {
            const uint32_t packet = Registry::PacketSize();
            return write ? Device(s).ScsiWrite10(c.lun, c.lba, c.bytes_per_sector, out, c.count, packet)
                         : Device(s).ScsiRead10(c.lun, c.lba, c.bytes_per_sector, in, c.count, packet);
        }));
    });
}

}  // namespace

extern "C" {

KT62_API int32_t kt62Search(void) {
    return Traced<int32_t>(Fn::Search, 0, [&](TraceLine& trace) {
        const auto emulation = Registry::Instance().Current(true);
        // Restarting programmers are not attached.
        const auto count_attached =
            std::count_if(emulation->programmers.begin(), emulation->programmers.end(),
                          [](const kt62::Attached& p) { return !p.backend->Restarting(); });
        auto count = static_cast<int32_t>(count_attached);
        if (const auto action = emulation->faults.Apply(CallArgs(Fn::Search))) {
            Pause(action->delay_ms);
            if (action->outputs.value) count = static_cast<int32_t>(*action->outputs.value);
        }
        return trace.Finish(count);
    });
}

KT62_API KT62_HANDLE kt62Open(int32_t position) {
    return Traced<KT62_HANDLE>(Fn::Open, KT62_INVALID_HANDLE, [&](TraceLine& trace) {
        trace.Arg("position", position);
        const auto emulation = Registry::Instance().Current(false);
        if (const auto action =
                emulation->faults.Apply(CallArgs(Fn::Open).Set(MatchKey::Position, position))) {
            Pause(action->delay_ms);
            if (action->result.value_or(KT62_OK) != KT62_OK) return trace.Finish(KT62_INVALID_HANDLE);
        }
        return trace.Finish(Registry::Instance().Open(*emulation, position));
    });
}

KT62_API int32_t kt62Close(KT62_HANDLE h) {
    return Traced(Fn::Close, [&](TraceLine& trace) {
        trace.Handle(h);
        return trace.Finish(OnHandle(
            h, true, CallArgs(Fn::Close), kNoOutputs,
            [](Session& s) {
                Registry::Close(s);
                return KT62_OK;
            },
            true));
    });
}

KT62_API int32_t kt62GetVersion(KT62_HANDLE h, uint8_t* version) {
    return Traced(Fn::GetVersion, [&](TraceLine& trace) {
        trace.Handle(h);
        return trace.Finish(OnHandle(
            h, version != nullptr, CallArgs(Fn::GetVersion),
            [&](const FaultOutputs& o) {
                if (o.bytes) PutPadded(*o.bytes, version, 4);
            },
            [&](Session& s) { return s.connection->GetVersion(version); }));
    });
}

KT62_API int32_t kt62GetProduct(KT62_HANDLE h, uint8_t* version, uint8_t* name, uint8_t* extra) {
    return Traced(Fn::GetProduct, [&](TraceLine& trace) {
        trace.Handle(h);
        const bool args_ok = version != nullptr && name != nullptr && extra != nullptr;
        return trace.Finish(OnHandle(
            h, args_ok, CallArgs(Fn::GetProduct),
            [&](const FaultOutputs& o) {
                if (o.version_bytes) PutPadded(*o.version_bytes, version, 4);
                if (o.name_bytes) PutPadded(*o.name_bytes, name, 16);
            },
            [&](Session& s) { return s.connection->GetProduct(version, name, extra); }));
    });
}

KT62_API int32_t kt62ScsiInquiry(KT62_HANDLE h, uint8_t* buffer) {
    return Traced(Fn::ScsiInquiry, [&](TraceLine& trace) {
        trace.Handle(h);
        return trace.Finish(OnHandle(
            h, buffer != nullptr, CallArgs(Fn::ScsiInquiry),
            [&](const FaultOutputs& o) {
                if (o.bytes) std::copy(o.bytes->begin(), o.bytes->end(), buffer);
            },
            [&](Session& s) { return Device(s).ScsiInquiry(buffer); }));
    });
}

KT62_API int32_t kt62ScsiReadCapacity(KT62_HANDLE h, uint32_t* sectors, uint32_t* bytes_per_sector) {
    return ReadCapacity(Fn::ScsiReadCapacity, h, 0, sectors, bytes_per_sector);
}

KT62_API int32_t kt62ScsiRead10(KT62_HANDLE h, uint32_t lba, uint32_t bytes_per_sector, uint8_t* buffer,
                                uint32_t count) {
    return Sectors(Fn::ScsiRead10, h, SectorCall{0, lba, bytes_per_sector, count}, buffer, nullptr);
}

KT62_API int32_t kt62ScsiWrite10(KT62_HANDLE h, uint32_t lba, uint32_t bytes_per_sector,
                                 const uint8_t* buffer, uint32_t count) {
    return Sectors(Fn::ScsiWrite10, h, SectorCall{0, lba, bytes_per_sector, count}, nullptr, buffer);
}

KT62_API int32_t kt62ScsiReadCapacityUnit(KT62_HANDLE h, uint8_t lun, uint32_t* sectors,
                                          uint32_t* bytes_per_sector) {
    return ReadCapacity(Fn::ScsiReadCapacityUnit, h, lun, sectors, bytes_per_sector);
}

KT62_API int32_t kt62ScsiRead10Unit(KT62_HANDLE h, uint8_t lun, uint32_t lba, uint32_t bytes_per_sector,
                                    uint8_t* buffer, uint32_t count) {
    return Sectors(Fn::ScsiRead10Unit, h, SectorCall{lun, lba, bytes_per_sector, count}, buffer, nullptr);
}

KT62_API int32_t kt62ScsiWrite10Unit(KT62_HANDLE h, uint8_t lun, uint32_t lba, uint32_t bytes_per_sector,
                                     const uint8_t* buffer, uint32_t count) {
    return Sectors(Fn::ScsiWrite10Unit, h, SectorCall{lun, lba, bytes_per_sector, count}, nullptr, buffer);
}

KT62_API int32_t kt62SetPacketSize(uint32_t packet_bytes) {
    return Traced(Fn::SetPacketSize, [&](TraceLine& trace) {
        trace.Arg("packet_bytes", packet_bytes);
        const auto emulation = Registry::Instance().Current(false);
        if (const auto action = emulation->faults.Apply(CallArgs(Fn::SetPacketSize))) {
            Pause(action->delay_ms);
            if (action->result.value_or(KT62_OK) != KT62_OK) return trace.Finish(*action->result);
        }
        Registry::SetPacketSize(packet_bytes);
        return trace.Finish(KT62_OK);
    });
}

KT62_API int32_t kt62UfsReadFlag(KT62_HANDLE h, uint8_t idn, uint8_t* value) {
    return Traced(Fn::UfsReadFlag, [&](TraceLine& trace) {
        trace.Handle(h).Arg("idn", idn);
        return trace.Finish(OnHandle(
            h, value != nullptr, CallArgs(Fn::UfsReadFlag).Set(MatchKey::Idn, idn),
            [&](const FaultOutputs& o) {
                if (o.value) *value = static_cast<uint8_t>(*o.value);
            },
            [&](Session& s) { return Device(s).ReadFlag(idn, value); }));
    });
}

KT62_API int32_t kt62UfsSetFlag(KT62_HANDLE h, uint8_t idn) {
    return FlagOp(Fn::UfsSetFlag, h, idn, [&](auto& d) { return d.SetFlag(idn); });
}

KT62_API int32_t kt62UfsClearFlag(KT62_HANDLE h, uint8_t idn) {
    return FlagOp(Fn::UfsClearFlag, h, idn, [&](auto& d) { return d.ClearFlag(idn); });
}

KT62_API int32_t kt62UfsToggleFlag(KT62_HANDLE h, uint8_t idn) {
    return FlagOp(Fn::UfsToggleFlag, h, idn, [&](auto& d) { return d.ToggleFlag(idn); });
}

KT62_API int32_t kt62UfsReadAttribute(KT62_HANDLE h, uint8_t idn, uint8_t index, uint8_t selector,
                                      uint32_t* value) {
    return Traced(Fn::UfsReadAttribute, [&](TraceLine& trace) {
        trace.Handle(h).Arg("idn", idn).Arg("index", index).Arg("selector", selector);
        const CallArgs call = QueryCall(Fn::UfsReadAttribute, idn, index, selector);
        return trace.Finish(OnHandle(
            h, value != nullptr, call,
            [&](const FaultOutputs& o) {
                if (o.value) *value = static_cast<uint32_t>(*o.value);
            },
            [&](Session& s) { return Device(s).ReadAttribute(idn, index, selector, value); }));
    });
}

KT62_API int32_t kt62UfsWriteAttribute(KT62_HANDLE h, uint8_t idn, uint8_t index, uint8_t selector,
                                       uint32_t value) {
    return Traced(Fn::UfsWriteAttribute, [&](TraceLine& trace) {
        trace.Handle(h).Arg("idn", idn).Arg("index", index).Arg("selector", selector).Arg("value", value);
        const CallArgs call = QueryCall(Fn::UfsWriteAttribute, idn, index, selector);
        return trace.Finish(OnHandle(h, true, call, kNoOutputs, [&](Session& s) {
            return Device(s).WriteAttribute(idn, index, selector, value);
        }));
    });
}

KT62_API int32_t kt62UfsReadDescriptor(KT62_HANDLE h, uint8_t idn, uint8_t index, uint8_t selector,
                                       uint8_t* buffer, uint32_t length) {
    return Traced(Fn::UfsReadDescriptor, [&](TraceLine& trace) {
        trace.Handle(h).Arg("idn", idn).Arg("index", index).Arg("selector", selector).Arg("length", length);
        const CallArgs call = QueryCall(Fn::UfsReadDescriptor, idn, index, selector);
        return trace.Finish(OnHandle(
            h, buffer != nullptr || length == 0, call,
            [&](const FaultOutputs& o) {
                if (o.bytes) std::copy_n(o.bytes->begin(), std::min<size_t>(length, o.bytes->size()), buffer);
            },
            [&](Session& s) { return Device(s).ReadDescriptor(idn, index, selector, buffer, length); }));
    });
}

KT62_API int32_t kt62UfsWriteDescriptor(KT62_HANDLE h, uint8_t idn, uint8_t index, uint8_t selector,
                                        const uint8_t* buffer, uint32_t length) {
    return Traced(Fn::UfsWriteDescriptor, [&](TraceLine& trace) {
        trace.Handle(h).Arg("idn", idn).Arg("index", index).Arg("selector", selector).Arg("length", length);
        const CallArgs call = QueryCall(Fn::UfsWriteDescriptor, idn, index, selector);
        return trace.Finish(OnHandle(h, buffer != nullptr || length == 0, call, kNoOutputs, [&](Session& s) {
            return Device(s).WriteDescriptor(idn, index, selector, buffer, length);
        }));
    });
}

KT62_API int32_t kt62UfsGetDME(KT62_HANDLE h, uint32_t attr_id, uint8_t selector, uint8_t kind,
                               uint32_t* value) {
    return Traced(Fn::UfsGetDME, [&](TraceLine& trace) {
        trace.Handle(h).Arg("attr_id", attr_id).Arg("selector", selector).Arg("kind", kind);
        const CallArgs call = CallArgs(Fn::UfsGetDME)
                                  .Set(MatchKey::AttrId, attr_id)
                                  .Set(MatchKey::Selector, selector)
                                  .Set(MatchKey::Kind, kind);
        return trace.Finish(OnHandle(
            h, value != nullptr, call,
            [&](const FaultOutputs& o) {
                if (o.value) *value = static_cast<uint32_t>(*o.value);
            },
            [&](Session& s) { return Device(s).GetDme(attr_id, selector, kind, value); }));
    });
}

KT62_API int32_t kt62UfsReset(KT62_HANDLE h, uint8_t kind) {
    return Traced(Fn::UfsReset, [&](TraceLine& trace) {
        trace.Handle(h).Arg("kind", kind);
        return trace.Finish(OnHandle(h, true, CallArgs(Fn::UfsReset).Set(MatchKey::Kind, kind), kNoOutputs,
                                     [&](Session& s) { return Device(s).Reset(kind); }));
    });
}

KT62_API int32_t kt62Update(KT62_HANDLE h, const kt62_char16* path) {
    return Traced(Fn::Update, [&](TraceLine& trace) {
        trace.Handle(h).Utf16("path", path);
        return trace.Finish(OnHandle(h, path != nullptr, CallArgs(Fn::Update), kNoOutputs, [&](Session& s) {
            const int32_t r = s.connection->Update(path);
            if (r == KT62_OK) Registry::Detach(s);
            return r;
        }));
    });
}

}  // extern "C"
