// The sys and dev entries of a UFS host as Linux shows them, laid out with
// plain files and folders under a folder that stands for "/".
#pragma once

#include <filesystem>

#include "fake_kernel.h"

namespace kt62::fake {

// R/sys/class/bsg/ufs-bsgN, R/dev/bsg/ufs-bsgN, the SCSI device folder N:0:0:0 of logical unit 0
// with scsi_generic/sgX and block/sdX/queue/max_hw_sectors_kb, R/dev/sgX and R/dev/sdX.
void LayOutHost(const std::filesystem::path& root, const HostSpec& spec);

}  // namespace kt62::fake
