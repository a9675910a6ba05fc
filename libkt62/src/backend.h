// What the session layer asks of a programmer, whatever drives it: the
// emulator or a real host. A Backend is one programmer found by discovery; a
// Connection is one open handle on it, and its UfsDevice the device in its
// socket. The session layer above owns handles, serialisation, the trace and
// fault rules, so none of that lives here.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include <kt62/apiKT6200.h>

namespace kt62 {

// A field of fixed size, as product answers have: the text, cut to fit, then zeros; full without
// a terminating zero.
inline void CopyPadded(const std::string& text, uint8_t* out, size_t size) {
    std::fill_n(out, size, uint8_t{0});
    std::copy_n(text.data(), std::min(text.size(), size), out);
}

// The UFS device behind an open handle. Calls arrive serialised, with arguments checked for null
// pointers; results are those of the C functions.
class UfsDevice {
public:
    virtual ~UfsDevice() = default;

    virtual int32_t ScsiInquiry(uint8_t* buffer192) = 0;
    // The sector calls address logical unit `lun`; a disabled unit, or one the device does not
    // have, answers KT62_SCSI_FAILURE(0x05, 0x25), LOGICAL UNIT NOT SUPPORTED.
    virtual int32_t ScsiReadCapacity(uint8_t lun, uint32_t* sectors, uint32_t* bytes_per_sector) = 0;
    // packet_bytes: the transfer unit kt62SetPacketSize chose, 0 = the default.
    virtual int32_t ScsiRead10(uint8_t lun, uint32_t lba, uint32_t bytes_per_sector, uint8_t* buffer,
                               uint32_t count, uint32_t packet_bytes) = 0;
    virtual int32_t ScsiWrite10(uint8_t lun, uint32_t lba, uint32_t bytes_per_sector, const uint8_t* buffer,
                                uint32_t count, uint32_t packet_bytes) = 0;

    virtual int32_t ReadFlag(uint8_t idn, uint8_t* value) = 0;
    virtual int32_t SetFlag(uint8_t idn) = 0;
    virtual int32_t ClearFlag(uint8_t idn) = 0;
    virtual int32_t ToggleFlag(uint8_t idn) = 0;
    virtual int32_t ReadAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t* value) = 0;
    virtual int32_t WriteAttribute(uint8_t idn, uint8_t index, uint8_t selector, uint32_t value) = 0;
    virtual int32_t ReadDescriptor(uint8_t idn, uint8_t index, uint8_t selector, uint8_t* buffer,
                                   uint32_t length) = 0;
    virtual int32_t WriteDescriptor(uint8_t idn, uint8_t index, uint8_t selector, const uint8_t* buffer,
                                    uint32_t length) = 0;
    virtual int32_t GetDme(uint32_t attr_id, uint8_t selector, uint8_t kind, uint32_t* value) = 0;
    virtual int32_t Reset(uint8_t kind) = 0;
};

// One open handle's link to its programmer: the programmer's own calls, and its device.
class Connection {
public:
    virtual ~Connection() = default;

    virtual UfsDevice& Device() = 0;

    virtual int32_t GetVersion(uint8_t* version) = 0;
    virtual int32_t GetProduct(uint8_t* version, uint8_t* name, uint8_t* extra) = 0;
    // On KT62_OK the programmer restarts: the session layer closes this connection at once and
    // the handle answers KT62_E_NO_PROGRAMMER from then on.
    virtual int32_t Update(const kt62_char16* path) = 0;

    // Releases what the open took. Called once, on kt62Close or when the programmer left.
    virtual void Close() = 0;
};

class Backend {
public:
    virtual ~Backend() = default;

    // True while the programmer restarts after an update: it is not attached then.
    virtual bool Restarting() const { return false; }
    // nullptr, with the reason on standard error, when it cannot be opened. `position` is its
    // place in the list, for messages.
    virtual std::unique_ptr<Connection> Open(int32_t position) = 0;
};

}  // namespace kt62
