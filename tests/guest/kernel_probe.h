// One fixed list of requests, good and bad, sent to the UFS BSG node and the SCSI generic node of
// the first UFS host under a root folder, answered with every field the kernel reports. The same
// list runs on a real kernel (the kernel_probe program, in a guest) and over the fake kernel, so
// that the two can be compared field by field.
#pragma once

#include <string>
#include <vector>

#include "host/transport.h"

namespace kt62::probe {

// One line per request: its name, then "field=value" words. A field the kernel left as the probe
// set it reads "unset". A missing host or node is a single line starting with "error".
std::vector<std::string> ProbeKernel(host::Transport& kernel, const std::string& root);

}  // namespace kt62::probe
