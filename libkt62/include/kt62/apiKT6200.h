/*
 * apiKT6200.h - access library of the KT6200 UFS programmer.
 *
 * Plain C, no toolkit types. Every function is synchronous and returns a
 * library result code (see below) unless noted otherwise.
 *
 * Backends, chosen at kt62Search by KT62_BACKEND:
 *   - the emulator: emulated programmers, each holding an emulated UFS
 *     device. Without configuration one programmer whose state lives in
 *     $XDG_DATA_HOME/kt6200/emulator (or ~/.local/share/kt6200/emulator);
 *     KT62_EMULATOR=PATH names a JSON profile describing the emulated
 *     programmers instead (docs/emulator.md).
 *   - linux: the real UFS devices of the host, one programmer per
 *     /sys/class/bsg/ufs-bsg<N>, through the UFS BSG and SCSI generic nodes;
 *     read-only unless KT62_LINUX_WRITE=1 (docs/hardware.md).
 *   KT62_BACKEND=auto (the default): the emulator when KT62_EMULATOR is set,
 *   else the Linux hosts found, else the built-in emulator. "emulator" and
 *   "linux" force one; any other value lists no programmers.
 *
 * Handles: kt62Open returns an opaque handle, or KT62_INVALID_HANDLE (the
 * pointer value -1). A handle stays recognisable after kt62Close: calls on it
 * return KT62_E_NOT_OPEN instead of touching freed memory, and a second
 * kt62Close is harmless. Calls on one handle are serialised inside the
 * library, so a worker thread and the user-interface thread may share it.
 *
 * Result codes (int32_t):
 *   0        success.
 *   negative the device answered with a failure status, carried in the low
 *            byte (r & 0xFF):
 *              - UFS query requests: the query response code, sign-extended
 *                (0xFF general failure = -1 ... 0xF6 parameter not readable
 *                = -10). See KT62_QUERY_* below.
 *              - SCSI commands: 0xFFFE0000 | (ASC << 8) | sense key, so the
 *                low byte is the sense key and the next byte the additional
 *                sense code. See KT62_SCSI_FAILURE().
 *              - DME get: 0xFFFD0000 | UIC result code (low byte).
 *   positive a library error; numbers are stable and only ever added
 *            (KT62_RESULT_TABLE). kt62ResultName and kt62ResultText turn
 *            any code into text.
 */
#ifndef KT62_APIKT6200_H
#define KT62_APIKT6200_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#if defined(KT62_BUILDING_LIBRARY)
#define KT62_API __declspec(dllexport)
#else
#define KT62_API __declspec(dllimport)
#endif
#else
#define KT62_API __attribute__((visibility("default")))
#endif

/* Opaque programmer handle. */
typedef struct kt62_device* KT62_HANDLE;
#define KT62_INVALID_HANDLE ((KT62_HANDLE)(intptr_t)-1)

/* UTF-16 code unit, as the Windows library takes paths. */
typedef uint16_t kt62_char16;

/*
 * Library errors: X(symbol, number, text). The numbers are part of the ABI:
 * new errors are appended, none is renumbered or reused.
 */
#define KT62_RESULT_TABLE(X)                                                            \
    X(KT62_OK, 0, "success")                                                            \
    X(KT62_E_INVALID_HANDLE, 1, "invalid programmer handle")                            \
    X(KT62_E_NOT_OPEN, 2, "programmer handle has been closed")                          \
    X(KT62_E_BAD_ARGUMENT, 3, "bad argument")                                           \
    X(KT62_E_TRANSPORT, 4, "transport failure")                                         \
    X(KT62_E_TIMEOUT, 5, "timeout")                                                     \
    X(KT62_E_NOT_SUPPORTED, 6, "not supported by this programmer")                      \
    X(KT62_E_BUSY, 7, "programmer busy")                                                \
    X(KT62_E_IN_USE, 8, "programmer is open in another process")                        \
    X(KT62_E_NO_PROGRAMMER, 9, "programmer not present")                                \
    X(KT62_E_STATE_IO, 10, "emulator state could not be read or written")               \
    X(KT62_E_FW_MISSING, 11, "firmware image not found or unreadable")                  \
    X(KT62_E_FW_FORMAT, 12, "not a KT6200 firmware image")                              \
    X(KT62_E_FW_TRUNCATED, 13, "firmware image truncated")                              \
    X(KT62_E_FW_CRC, 14, "firmware image checksum mismatch")                            \
    X(KT62_E_FW_MODEL, 15, "firmware image is for another programmer model")            \
    X(KT62_E_INTERNAL, 16, "unexpected failure inside the library")                     \
    X(KT62_E_PERMISSION, 17, "permission denied: needs root or CAP_SYS_RAWIO")          \
    X(KT62_E_READ_ONLY, 18, "refused: writes to the device are off (KT62_LINUX_WRITE)") \
    X(KT62_E_UNIT_IN_USE, 19, "refused: logical unit 0 is mounted or held by another program")

enum kt62_result {
#define KT62_ENUM_ENTRY(sym, num, text) sym = num,
    KT62_RESULT_TABLE(KT62_ENUM_ENTRY)
#undef KT62_ENUM_ENTRY
};

/* UFS query response codes as the negative results carry them. */
#define KT62_QUERY_GENERAL_FAILURE (-1)  /* 0xFF */
#define KT62_QUERY_INVALID_OPCODE (-2)   /* 0xFE */
#define KT62_QUERY_INVALID_IDN (-3)      /* 0xFD */
#define KT62_QUERY_INVALID_INDEX (-4)    /* 0xFC */
#define KT62_QUERY_INVALID_SELECTOR (-5) /* 0xFB */
#define KT62_QUERY_INVALID_VALUE (-6)    /* 0xFA */
#define KT62_QUERY_INVALID_LENGTH (-7)   /* 0xF9 */
#define KT62_QUERY_ALREADY_WRITTEN (-8)  /* 0xF8 */
#define KT62_QUERY_NOT_WRITEABLE (-9)    /* 0xF7 */
#define KT62_QUERY_NOT_READABLE (-10)    /* 0xF6 */

/* A failed SCSI command: sense key in the low byte, ASC in the next. */
#define KT62_SCSI_FAILURE(sense_key, asc) \
    ((int32_t)(0xFFFE0000u | (((uint32_t)(asc)&0xFFu) << 8) | ((uint32_t)(sense_key)&0xFFu)))
/* A failed DME get: the UIC configuration result code in the low byte. */
#define KT62_DME_FAILURE(uic_code) ((int32_t)(0xFFFD0000u | ((uint32_t)(uic_code)&0xFFu)))

/* Symbol name ("KT62_E_TIMEOUT", "KT62_QUERY_INVALID_IDN", "KT62_SCSI_FAILURE")
 * of any result code; never NULL. */
KT62_API const char* kt62ResultName(int32_t result);
/* Human-readable text of any result code; never NULL. */
KT62_API const char* kt62ResultText(int32_t result);
/* The last message the library wrote to standard error on the calling
 * thread (why kt62Search found nothing, why kt62Open failed: a refused
 * profile, a programmer in use, a permission problem), as UTF-8 without the
 * "kt62: " prefix, and forgets it. Copies at most size - 1 bytes and a
 * terminating zero into buffer (nothing when size is 0); returns the
 * message's whole length in bytes, 0 when there is none. Call it with size
 * 0 before a call to drop an older message. */
KT62_API int32_t kt62LastMessage(char* buffer, uint32_t size);

/* ---- discovery and connection ---------------------------------------- */

/* Number of programmers attached now (0 when none or when the emulator
 * profile cannot be read: the reason goes to standard error). */
KT62_API int32_t kt62Search(void);
/* Opens the programmer at list position (0 .. count-1). Returns its handle,
 * or KT62_INVALID_HANDLE when the position is out of range, the programmer
 * is open elsewhere, or it cannot be reached. */
KT62_API KT62_HANDLE kt62Open(int32_t position);
/* Closes a handle. KT62_E_NOT_OPEN for a handle closed before. */
KT62_API int32_t kt62Close(KT62_HANDLE h);
/* Firmware version: bytes 0..2 = major, minor, patch; byte 3 = 0.
 * KT62_E_NOT_SUPPORTED on programmers that only report a product. */
KT62_API int32_t kt62GetVersion(KT62_HANDLE h, uint8_t version[4]);
/* Product: name (16 bytes, zero-padded, not necessarily terminated), version
 * text (4 bytes, zero-padded, e.g. "1.05") and 8 extra bytes (the
 * programmer's serial number, zero-padded). */
KT62_API int32_t kt62GetProduct(KT62_HANDLE h, uint8_t version[4], uint8_t name[16], uint8_t extra[8]);

/* ---- SCSI on logical unit 0 ------------------------------------------- */

/* Standard INQUIRY data (36 bytes) into a buffer of at least 192 bytes;
 * the bytes after the data are left untouched. */
KT62_API int32_t kt62ScsiInquiry(KT62_HANDLE h, uint8_t buffer[192]);
/* READ CAPACITY(10): number of logical blocks (last LBA + 1) and block size. */
KT62_API int32_t kt62ScsiReadCapacity(KT62_HANDLE h, uint32_t* sectors, uint32_t* bytes_per_sector);
/* READ(10) of count blocks from lba into buffer (count * bytes_per_sector
 * bytes). bytes_per_sector must equal the unit's block size. */
KT62_API int32_t kt62ScsiRead10(KT62_HANDLE h, uint32_t lba, uint32_t bytes_per_sector, uint8_t* buffer,
                                uint32_t count);
/* WRITE(10), as kt62ScsiRead10 with the buffer read. */
KT62_API int32_t kt62ScsiWrite10(KT62_HANDLE h, uint32_t lba, uint32_t bytes_per_sector,
                                 const uint8_t* buffer, uint32_t count);

/* Largest transfer the library sends to the programmer in one packet
 * (0 = the default). Results never depend on it. Applies to every handle. */
KT62_API int32_t kt62SetPacketSize(uint32_t packet_bytes);

/* ---- SCSI on any logical unit ----------------------------------------- */

/* kt62ScsiReadCapacity, kt62ScsiRead10 and kt62ScsiWrite10 addressed to
 * logical unit lun (0-7 on a UFS device); with lun 0 each does what its
 * unit-0 call does, and the Linux host checks the unit it writes. A disabled unit, or one the
 * device does not have, answers KT62_SCSI_FAILURE(0x05, 0x25) (ILLEGAL
 * REQUEST, logical unit not supported). bytes_per_sector must equal that
 * unit's block size. */
KT62_API int32_t kt62ScsiReadCapacityUnit(KT62_HANDLE h, uint8_t lun, uint32_t* sectors,
                                          uint32_t* bytes_per_sector);
KT62_API int32_t kt62ScsiRead10Unit(KT62_HANDLE h, uint8_t lun, uint32_t lba, uint32_t bytes_per_sector,
                                    uint8_t* buffer, uint32_t count);
KT62_API int32_t kt62ScsiWrite10Unit(KT62_HANDLE h, uint8_t lun, uint32_t lba, uint32_t bytes_per_sector,
                                     const uint8_t* buffer, uint32_t count);

/* ---- UFS query requests ----------------------------------------------- */

KT62_API int32_t kt62UfsReadFlag(KT62_HANDLE h, uint8_t idn, uint8_t* value);
KT62_API int32_t kt62UfsSetFlag(KT62_HANDLE h, uint8_t idn);
KT62_API int32_t kt62UfsClearFlag(KT62_HANDLE h, uint8_t idn);
KT62_API int32_t kt62UfsToggleFlag(KT62_HANDLE h, uint8_t idn);
/* The value is the 32-bit VALUE field of the query. A 64-bit attribute of
 * UFS 4.0 (qTimestamp, write only) is written with its upper 32 bits 0. */
KT62_API int32_t kt62UfsReadAttribute(KT62_HANDLE h, uint8_t idn, uint8_t index, uint8_t selector,
                                      uint32_t* value);
KT62_API int32_t kt62UfsWriteAttribute(KT62_HANDLE h, uint8_t idn, uint8_t index, uint8_t selector,
                                       uint32_t value);
/* Reads up to length bytes of a descriptor: a shorter length gives the
 * descriptor's first bytes, a longer one the whole descriptor. */
KT62_API int32_t kt62UfsReadDescriptor(KT62_HANDLE h, uint8_t idn, uint8_t index, uint8_t selector,
                                       uint8_t* buffer, uint32_t length);
KT62_API int32_t kt62UfsWriteDescriptor(KT62_HANDLE h, uint8_t idn, uint8_t index, uint8_t selector,
                                        const uint8_t* buffer, uint32_t length);
/* DME get of a UniPro / M-PHY attribute. kind: 1 = local (the programmer's
 * side of the link), 3 = peer (the UFS device's side). */
KT62_API int32_t kt62UfsGetDME(KT62_HANDLE h, uint32_t attr_id, uint8_t selector, uint8_t kind,
                               uint32_t* value);

/* ---- device and programmer maintenance -------------------------------- */

/* Resets the UFS device (kind 1: hardware reset). */
KT62_API int32_t kt62UfsReset(KT62_HANDLE h, uint8_t kind);
/* Programs the programmer's firmware from an image file (zero-terminated
 * UTF-16 path). On success the programmer restarts. */
KT62_API int32_t kt62Update(KT62_HANDLE h, const kt62_char16* path);

#ifdef __cplusplus
}
#endif

#endif /* KT62_APIKT6200_H */
