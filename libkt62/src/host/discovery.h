// Which Linux UFS hosts (and SCSI-only programmers) are there: plain reads of
// the sysfs tree under a root folder that stands for "/".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kt62::host {

// One programmer as discovery finds it. Node paths carry the root; empty when absent.
struct HostNodes {
    std::string name;           // "ufs-bsg0", or "sg3" for a SCSI-only programmer
    std::string bsg_node;       // query and DME; empty for a SCSI-only programmer
    std::string sg_node;        // SCSI on logical unit 0 (UnitNodes: on that unit)
    std::string block_node;     // the unit's block device: sector transfers, the in-use check
    std::string block_problem;  // why block_node is empty: no block device, or several
    uint32_t max_hw_sectors_kb = 512;
    uint32_t max_segments = 0;  // of the block device's queue; 0: not known
    std::string mounts_file;    // the root's proc/self/mounts
    // Unit 0's SCSI device folder without its LUN ("<root>/sys/bus/scsi/devices/0:0:0:"), and the
    // root: unit U is the folder of that name ending in U. Empty for a SCSI-only programmer.
    std::string unit_dir_prefix;
    std::string root;
    bool operator==(const HostNodes&) const = default;
};

// The hosts `root`/sys/class/bsg/ufs-bsg<N> in ascending N, then the SCSI generic nodes of
// `sg_list` (paths separated by ':', taken under root), in that order. An entry of `sg_list`
// that is no SCSI generic node is left out, with the reason on standard error.
std::vector<HostNodes> DiscoverHosts(const std::string& root, const std::string& sg_list);

// Logical unit `lun` of a UFS host found by DiscoverHosts: `host` with the unit's own SCSI generic
// and block nodes and queue limits. nullopt when sysfs has no such SCSI device (the unit is
// disabled, or was not scanned), and for a SCSI-only programmer's units other than 0.
std::optional<HostNodes> UnitNodes(const HostNodes& host, uint8_t lun);

}  // namespace kt62::host
