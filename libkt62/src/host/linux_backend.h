// Programmers that are real UFS devices on a Linux host: query requests and
// DME through the UFS BSG node, SCSI on logical unit 0 through its SCSI
// generic node. Reaches the kernel only through CurrentTransport().
#pragma once

#include <memory>

#include "backend.h"
#include "host/discovery.h"

namespace kt62::host {

// write_allowed: KT62_LINUX_WRITE=1; without it every call that changes the device is refused
// with KT62_E_READ_ONLY before anything is sent.
std::shared_ptr<Backend> MakeLinuxBackend(const HostNodes& nodes, bool write_allowed);

}  // namespace kt62::host
