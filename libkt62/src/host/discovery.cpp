#include "host/discovery.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

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

std::optional<uint32_t> Number(std::string_view text) {
    uint32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || text.empty()) return std::nullopt;
    // sysfs values end with a newline.
    for (const char* p = end; p != text.data() + text.size(); ++p)
        if (*p != '\n' && *p != ' ') return std::nullopt;
    return v;
}

// A positive number from a queue/ file of sysfs, else `fallback`.
uint32_t QueueNumber(const fs::path& queue_file, uint32_t fallback) {
    std::ifstream in(queue_file);
    std::string line;
    if (!std::getline(in, line)) return fallback;
    const std::optional<uint32_t> n = Number(line);
    return n && *n > 0 ? *n : fallback;
}

// Logical unit 0's SCSI generic and block nodes, from a SCSI device folder.
void AddScsiNodes(const fs::path& root, const fs::path& device_dir, HostNodes& host) {
    host.mounts_file = (root / "proc" / "self" / "mounts").string();
    if (const std::string sg = SingleEntry(device_dir / "scsi_generic"); !sg.empty())
        host.sg_node = (root / "dev" / sg).string();
    if (const std::string sd = SingleEntry(device_dir / "block"); !sd.empty()) {
        host.block_node = (root / "dev" / sd).string();
        const fs::path queue = device_dir / "block" / sd / "queue";
        host.max_hw_sectors_kb = QueueNumber(queue / "max_hw_sectors_kb", 512);
        host.max_segments = QueueNumber(queue / "max_segments", 0);
    }
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
        AddScsiNodes(root, root / "sys" / "bus" / "scsi" / "devices" / (std::to_string(n) + ":0:0:0"), host);
        hosts.push_back(std::move(host));
    }

    size_t start = 0;
    while (start <= sg_list.size() && !sg_list.empty()) {
        const size_t colon = std::min(sg_list.find(':', start), sg_list.size());
        const std::string path = sg_list.substr(start, colon - start);
        start = colon + 1;
        if (path.empty()) continue;
        HostNodes host;
        host.name = fs::path(path).filename().string();
        host.sg_node = (root / fs::path(path).relative_path()).string();
        AddScsiNodes(root, root / "sys" / "class" / "scsi_generic" / host.name / "device", host);
        host.sg_node = (root / fs::path(path).relative_path()).string();
        hosts.push_back(std::move(host));
    }
    return hosts;
}

}  // namespace kt62::host
