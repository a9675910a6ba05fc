#include "fake_kernel.h"

#include <fstream>
#include <string>

namespace kt62::fake {

namespace fs = std::filesystem;

namespace {

void Touch(const fs::path& path, const std::string& content = "") {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

}  // namespace

void LayOutHost(const fs::path& root, const HostSpec& spec) {
    const std::string bsg = "ufs-bsg" + std::to_string(spec.number);
    fs::create_directories(root / "sys/class/bsg" / bsg);
    Touch(root / "dev/bsg" / bsg);
    const fs::path unit = root / "sys/bus/scsi/devices" / (std::to_string(spec.number) + ":0:0:0");
    fs::create_directories(unit / "scsi_generic" / spec.sg);
    Touch(root / "dev" / spec.sg);
    if (spec.block.empty()) return;
    fs::create_directories(unit / "block" / spec.block / "queue");
    if (spec.max_hw_sectors_kb != 0)
        Touch(unit / "block" / spec.block / "queue/max_hw_sectors_kb",
              std::to_string(spec.max_hw_sectors_kb) + "\n");
    Touch(root / "dev" / spec.block);
}

}  // namespace kt62::fake
