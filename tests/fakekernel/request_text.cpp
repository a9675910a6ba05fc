// What the fake kernel writes to its log: one line per request, as the e2e cases expect it.
#include <fcntl.h>
#include <scsi/sg.h>

#include <cstdio>
#include <iterator>
#include <sstream>

#include "fake_kernel.h"

namespace kt62::fake {
namespace {

const char* QueryName(uint8_t op) {
    static constexpr const char* kNames[] = {
        "nop",       "read-descriptor", "write-descriptor", "read-attribute", "write-attribute",
        "read-flag", "set-flag",        "clear-flag",       "toggle-flag"};
    return op < std::size(kNames) ? kNames[op] : "unknown";
}

std::string Hex(uint32_t v, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", width, v);
    return text;
}

}  // namespace

std::string Request::Text() const {
    std::ostringstream s;
    s << node_name << ' ';
    switch (type) {
        case Type::Open:
            s << "open" << ((arg & O_ACCMODE) == O_RDONLY ? " read" : " read-write")
              << ((arg & O_EXCL) ? " exclusive" : "");
            break;
        case Type::Query:
            s << "query " << QueryName(op) << " idn=" << Hex(idn, 2) << " index=" << int(index)
              << " selector=" << int(selector);
            break;
        case Type::Uic:
            s << "uic "
              << (op == 1   ? "dme-get"
                  : op == 3 ? "dme-peer-get"
                            : "command " + Hex(op, 2))
              << " attribute=" << Hex(arg >> 16, 4) << " selector=" << (arg & 0xFFFF);
            break;
        case Type::Scsi:
            if (op == 0x28 || op == 0x2A)
                s << (op == 0x28 ? "READ(10)" : "WRITE(10)") << " lba=" << lba << " blocks=" << blocks;
            else
                s << (op == 0x12 ? "INQUIRY" : op == 0x25 ? "READ CAPACITY(10)" : "SCSI " + Hex(op, 2));
            break;
        case Type::Reset:
            s << "reset " << (op == SG_SCSI_RESET_HOST ? "host" : std::to_string(op));
            break;
        case Type::Other:
            s << "ioctl " << Hex(arg, 4);
            break;
    }
    return s.str();
}

}  // namespace kt62::fake
