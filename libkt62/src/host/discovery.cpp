#include "host/discovery.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "diag.h"
#include "fileio/file_access.h"

namespace kt62::host {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Entries(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The one entry a sysfs folder such as scsi_generic/ or block/ holds; empty when it holds
// none (or, oddly, several).
std::string SingleEntry(const fs::path& dir) {
    std::vector<std::string> names = Entries(dir);
    return names.size() == 1 ? names.front() : std::string();
}

// A sysfs attribute holds at most one page; anything longer is not one.
constexpr size_t kSysfsValueLimit = 4096;

std::optional<uint32_t> Number(std::string_view text) {
    uint32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || text.empty()) return std::nullopt;
    // sysfs values end with a newline.
    for (const char* p = end; p != text.data() + text.size(); ++p)
        if (*p != '\n' && *p != ' ') return std::nullopt;
    return v;
}

// A positive number from a queue/ file of sysfs, else `fallback`. The file is read without
// blocking and only so far: what stands there may be a FIFO or a link to /dev/zero.
uint32_t QueueNumber(const fs::path& queue_file, uint32_t fallback) {
    std::error_code ec;
    if (!fs::exists(queue_file, ec)) return fallback;
    std::string why;
    const std::optional<std::string> text = kt::fileio::ReadWhole(queue_file.string(), kSysfsValueLimit, why);
    if (!text) {
        Complain(queue_file.string() + ": " + why + "; taken as " + std::to_string(fallback));
        return fallback;
    }
    const std::optional<uint32_t> n = Number(*text);
    return n && *n > 0 ? *n : fallback;
}

// Logical unit 0's SCSI generic and block nodes, from a SCSI device folder.
void AddScsiNodes(const fs::path& root, const fs::path& device_dir, HostNodes& host) {
    host.mounts_file = (root / "proc" / "self" / "mounts").string();
    if (const std::string sg = SingleEntry(device_dir / "scsi_generic"); !sg.empty())
        host.sg_node = (root / "dev" / sg).string();
    const fs::path block = device_dir / "block";
    const std::vector<std::string> disks = Entries(block);
    if (disks.size() != 1) {
        // Which one the file systems would be on cannot be told: writes are refused.
        host.block_problem = disks.empty() ? "no block device in " + block.string()
                                           : std::to_string(disks.size()) + " block devices in " +
                                                 block.string() + ", where one is expected";
        return;
    }
    const std::string& sd = disks.front();
    host.block_node = (root / "dev" / sd).string();
    const fs::path queue = block / sd / "queue";
    host.max_hw_sectors_kb = QueueNumber(queue / "max_hw_sectors_kb", 512);
    host.max_segments = QueueNumber(queue / "max_segments", 0);
}

// The SCSI generic node of the disk behind block device `name` (a whole disk or a partition),
// as "/dev/sgN"; empty when sysfs shows none.
std::string GenericNodeOfBlock(const fs::path& root, const std::string& name) {
    const fs::path entry = root / "sys" / "class" / "block" / name;
    // A partition's entry sits inside its disk's.
    for (const fs::path& device : {entry / "device", entry / ".." / "device"})
        if (const std::string sg = SingleEntry(device / "scsi_generic"); !sg.empty()) return "/dev/" + sg;
    return {};
}

// Whether the KT62_SG entry `given` is a SCSI generic node, with `name` its name after links; when
// not, says why on standard error. A test root (any root but "/") stands plain files in for
// nodes; the real one takes character devices only.
bool IsGeneric(const fs::path& root, const std::string& given, std::string& name) {
    const fs::path node = root / fs::path(given).relative_path();
    std::error_code ec;
    name = fs::canonical(node, ec).filename().string();
    std::string why;
    struct stat st {};
    const bool test_root = fs::canonical(root, ec) != fs::path("/");
    if (::stat(node.c_str(), &st) != 0)
        why = std::generic_category().message(errno);
    else if (!S_ISCHR(st.st_mode) && !(test_root && S_ISREG(st.st_mode)))
        why = kt::fileio::KindOf(st.st_mode) + ", not a SCSI generic node";
    else if (name.empty() || !fs::exists(root / "sys" / "class" / "scsi_generic" / name, ec))
        why = "not a SCSI generic node (no /sys/class/scsi_generic/" + name + ")";
    if (why.empty()) return true;
    const std::string sg = name.empty() ? std::string() : GenericNodeOfBlock(root, name);
    Complain("KT62_SG: " + given + ": " + why +
             (sg.empty() ? "; give a SCSI generic node, /dev/sgN (see ls /sys/class/scsi_generic)"
                         : "; use " + sg + ", the same unit's SCSI generic node"));
    return false;
}

}  // namespace

std::vector<HostNodes> DiscoverHosts(const std::string& root_text, const std::string& sg_list) {
    const fs::path root(root_text.empty() ? "/" : root_text);
    constexpr std::string_view kPrefix = "ufs-bsg";
    std::vector<std::pair<uint32_t, std::string>> found;
    for (const std::string& name : Entries(root / "sys" / "class" / "bsg")) {
        if (name.rfind(kPrefix, 0) != 0) continue;
        const std::string_view digits = std::string_view(name).substr(kPrefix.size());
        if (digits.empty() ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        if (const std::optional<uint32_t> n = Number(digits)) found.emplace_back(*n, name);
    }
    // ufs-bsg10 comes after ufs-bsg9.
    std::sort(found.begin(), found.end());

    std::vector<HostNodes> hosts;
    for (const auto& [n, name] : found) {
        HostNodes host;
        host.name = name;
        host.bsg_node = (root / "dev" / "bsg" / name).string();
        host.root = root.string();
        host.unit_dir_prefix =
            (root / "sys" / "bus" / "scsi" / "devices" / (std::to_string(n) + ":0:0:")).string();
        AddScsiNodes(root, host.unit_dir_prefix + "0", host);
        hosts.push_back(std::move(host));
    }

    size_t start = 0;
    while (start <= sg_list.size() && !sg_list.empty()) {
        const size_t colon = std::min(sg_list.find(':', start), sg_list.size());
        const std::string path = sg_list.substr(start, colon - start);
        start = colon + 1;
        if (path.empty()) continue;
        // A block device would take the SCSI commands too, past both checks of a mounted unit;
        // anything else is no programmer at all.
        HostNodes host;
        if (!IsGeneric(root, path, host.name)) continue;
        AddScsiNodes(root, root / "sys" / "class" / "scsi_generic" / host.name / "device", host);
        host.sg_node = (root / fs::path(path).relative_path()).string();
        hosts.push_back(std::move(host));
    }
    return hosts;
}

std::optional<HostNodes> UnitNodes(const HostNodes& host, uint8_t lun) {
    if (lun == 0) return host;
    if (host.unit_dir_prefix.empty()) return std::nullopt;
    const fs::path dir = host.unit_dir_prefix + std::to_string(lun);
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return std::nullopt;
    HostNodes unit = host;
    unit.sg_node.clear();
    unit.block_node.clear();
    unit.block_problem.clear();
    unit.max_hw_sectors_kb = 512;
    unit.max_segments = 0;
    AddScsiNodes(host.root, dir, unit);
    return unit;
}

}  // namespace kt62::host
