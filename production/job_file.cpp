#include "production/job_file.h"

#include <sys/stat.h>
#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <initializer_list>
#include <system_error>
#include <utility>

#include "fileio/file_access.h"
#include "production/import.h"
#include "production/job_names.h"
#include "ufs/parameters.h"

namespace kt::production {
namespace {

// A refusal on its way out of the reader: the whole message, place first.
struct Refusal {
    std::string message;
};

// Sizes: a number of bytes, or of KiB, MiB, GiB or TiB.
enum class SizeText : std::uint8_t { Good, Malformed, Overflow };

SizeText ReadSize(std::string_view text, std::uint64_t& bytes) {
    std::uint64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ptr == text.data()) return SizeText::Malformed;
    std::string_view unit = text.substr(static_cast<std::size_t>(ptr - text.data()));
    if (unit.starts_with(' ')) unit.remove_prefix(1);
    static constexpr std::pair<std::string_view, int> kUnits[] = {{"", 0},     {"B", 0},    {"KiB", 10},
                                                                  {"MiB", 20}, {"GiB", 30}, {"TiB", 40}};
    const auto* found =
        std::find_if(std::begin(kUnits), std::end(kUnits), [&](const auto& u) { return u.first == unit; });
    if (found == std::end(kUnits)) return SizeText::Malformed;
    if (ec == std::errc::result_out_of_range || value > (UINT64_MAX >> found->second))
        return SizeText::Overflow;
    bytes = value << found->second;
    return SizeText::Good;
}

// "3.1" or "2.1.1": wSpecVersion's BCD.
std::optional<std::uint16_t> ReadVersion(std::string_view text) {
    unsigned major = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), major);
    const std::string_view rest(ptr, static_cast<std::size_t>(text.data() + text.size() - ptr));
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (ec != std::errc() || major > 99 || (rest.size() != 2 && rest.size() != 4)) return std::nullopt;
    if (rest[0] != '.' || !digit(rest[1]) || (rest.size() == 4 && (rest[2] != '.' || !digit(rest[3])))) {
        return std::nullopt;
    }
    const unsigned suffix = rest.size() == 4 ? static_cast<unsigned>(rest[3] - '0') : 0;
    return static_cast<std::uint16_t>(((major / 10) << 12) | ((major % 10) << 8) |
                                      (static_cast<unsigned>(rest[1] - '0') << 4) | suffix);
}

// toml++ builds and tears down a dotted key's tables recursively: a key of some ten thousand parts
// (a few pages of "k.k.k...") overflows the stack before any error comes back. The separators are
// counted before the text reaches it; a job file has a handful.
constexpr int kMostKeyDots = 256;

// The last character of the string that opens at `i`: its closing quote, or the end of the line that
// cuts a one-line string short (so that a broken string hides no later line from the count).
std::size_t StringEnd(std::string_view text, std::size_t i) {
    const char quote = text[i];
    const bool basic = quote == '"';
    const std::string triple(3, quote);
    if (text.compare(i, 3, triple) == 0) {
        for (std::size_t j = i + 3; j < text.size(); ++j) {
            if (basic && text[j] == '\\') {
                ++j;
            } else if (text.compare(j, 3, triple) == 0) {
                return j + 2;
            }
        }
        return text.size();
    }
    for (std::size_t j = i + 1; j < text.size(); ++j) {
        if (text[j] == '\n') return j - 1;
        if (basic && text[j] == '\\' && j + 1 < text.size() && text[j + 1] != '\n') {
            ++j;
        } else if (text[j] == quote) {
            return j;
        }
    }
    return text.size();
}

// Where the dot past kMostKeyDots outside strings and comments is, if there is one.
std::optional<std::size_t> TooManyKeyDots(std::string_view text) {
    int dots = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '#') {
            i = text.find('\n', i);
            if (i == std::string_view::npos) break;
        } else if (text[i] == '"' || text[i] == '\'') {
            i = StringEnd(text, i);
        } else if (text[i] == '.' && ++dots > kMostKeyDots) {
            return i;
        }
    }
    return std::nullopt;
}

// "NAME:LINE:COLUMN: " of the character at `at`.
std::string Place(std::string_view name, std::string_view text, std::size_t at) {
    const std::string_view before = text.substr(0, at);
    const std::size_t line_start = before.rfind('\n') + 1;  // npos + 1 == 0
    return std::string(name) + ":" + std::to_string(std::count(before.begin(), before.end(), '\n') + 1) +
           ":" + std::to_string(at - line_start + 1) + ": ";
}

class Reader {
public:
    explicit Reader(std::string_view name) : name_(name) {}

    [[noreturn]] void Refuse(const toml::source_region& where, const std::string& message) const {
        throw Refusal{name_ + ":" + std::to_string(where.begin.line) + ":" +
                      std::to_string(where.begin.column) + ": " + message};
    }

    // Refuses the first key of `table` that is not one of `known`.
    void OnlyKeys(const toml::table& table, std::initializer_list<std::string_view> known) const {
        for (const auto& [key, node] : table) {
            if (std::find(known.begin(), known.end(), key.str()) == known.end()) {
                Refuse(key.source(), "unknown key \"" + std::string(key.str()) + "\"");
            }
        }
    }

    const toml::table& Table(const toml::node& n, std::string_view key) const {
        if (!n.is_table()) Refuse(n.source(), std::string(key) + ": a table is wanted");
        return *n.as_table();
    }

    std::string Text(const toml::node& n, std::string_view key) const {
        if (!n.is_string()) Refuse(n.source(), std::string(key) + ": a quoted text is wanted");
        return n.as_string()->get();
    }

    bool Bool(const toml::node& n, std::string_view key) const {
        if (!n.is_boolean()) Refuse(n.source(), std::string(key) + ": true or false is wanted");
        return n.as_boolean()->get();
    }

    std::int64_t Integer(const toml::node& n, std::string_view key, std::int64_t min,
                         std::int64_t max) const {
        if (!n.is_integer()) Refuse(n.source(), std::string(key) + ": a whole number is wanted");
        const std::int64_t value = n.as_integer()->get();
        if (value < min || value > max) {
            Refuse(n.source(), std::string(key) + ": " + std::to_string(value) + " is out of range " +
                                   std::to_string(min) + "-" + std::to_string(max));
        }
        return value;
    }

    std::uint64_t Size(const toml::node& n, std::string_view key) const {
        if (n.is_integer()) return static_cast<std::uint64_t>(Integer(n, key, 1, INT64_MAX));
        std::uint64_t bytes = 0;
        const SizeText read = ReadSize(Text(n, key), bytes);
        if (read == SizeText::Overflow) Refuse(n.source(), std::string(key) + ": does not fit in 64 bits");
        if (read == SizeText::Malformed) {
            Refuse(n.source(),
                   std::string(key) + ": not a size (bytes, or a number with KiB, MiB, GiB or TiB)");
        }
        if (bytes == 0) Refuse(n.source(), std::string(key) + ": 0 bytes");
        return bytes;
    }

    template <typename T>
    T Choice(const toml::node& n, std::string_view key, std::optional<T> (*from)(std::string_view),
             std::string_view choices) const {
        const auto value = from(Text(n, key));
        if (!value) Refuse(n.source(), std::string(key) + ": one of " + std::string(choices) + " is wanted");
        return *value;
    }

    // The array of tables `key` ([[key]]).
    std::vector<const toml::table*> Tables(const toml::node& n, std::string_view key) const {
        std::vector<const toml::table*> tables;
        if (n.is_array()) {
            for (const auto& element : *n.as_array()) tables.push_back(&Table(element, key));
        }
        if (!n.is_array() || !n.as_array()->is_array_of_tables()) {
            Refuse(n.source(),
                   std::string(key) + ": one [[" + std::string(key) + "]] table for each is wanted");
        }
        return tables;
    }

private:
    std::string name_;
};

void ReadExpect(const Reader& r, const toml::table& t, Expected& expect) {
    r.OnlyKeys(t, {"manufacturer_id", "product", "ufs_min", "ufs_max", "min_raw_capacity"});
    if (const auto* n = t.get("manufacturer_id")) {
        expect.manufacturer_id = static_cast<std::uint16_t>(r.Integer(*n, "manufacturer_id", 0, 0xFFFF));
    }
    if (const auto* n = t.get("product")) expect.product_pattern = r.Text(*n, "product");
    for (const auto* key : {"ufs_min", "ufs_max"}) {
        const auto* n = t.get(key);
        if (n == nullptr) continue;
        const auto bcd = ReadVersion(r.Text(*n, key));
        if (!bcd) r.Refuse(n->source(), std::string(key) + ": not a UFS version such as \"3.1\"");
        (std::string_view(key) == "ufs_min" ? expect.min_version : expect.max_version) = *bcd;
        if (expect.min_version && expect.max_version && *expect.min_version > *expect.max_version) {
            r.Refuse(n->source(), "ufs_max: older than ufs_min");
        }
    }
    if (const auto* n = t.get("min_raw_capacity")) {
        expect.min_raw_capacity_bytes = r.Size(*n, "min_raw_capacity");
    }
}

void ReadDevice(const Reader& r, const toml::table& t, DeviceSettings& d) {
    r.OnlyKeys(t, {"boot_enable", "descr_access_en", "init_power_mode", "high_priority_lun",
                   "secure_removal_type", "init_active_icc_level", "periodic_rtc_update"});
    if (const auto* n = t.get("boot_enable")) d.boot_enable = r.Bool(*n, "boot_enable") ? 1 : 0;
    if (const auto* n = t.get("descr_access_en")) d.descr_access_en = r.Bool(*n, "descr_access_en") ? 1 : 0;
    if (const auto* n = t.get("init_power_mode")) {
        const std::string mode = r.Text(*n, "init_power_mode");
        if (mode != "active" && mode != "sleep")
            r.Refuse(n->source(), "init_power_mode: one of active, sleep is wanted");
        d.init_power_mode = mode == "active" ? 1 : 0;
    }
    if (const auto* n = t.get("high_priority_lun")) {
        const auto lun = r.Integer(*n, "high_priority_lun", 0, 0x7F);
        if (lun > 31 && lun != 0x7F) r.Refuse(n->source(), "high_priority_lun: a unit 0-31, or 127 for none");
        d.high_priority_lun = static_cast<std::uint8_t>(lun);
    }
    if (const auto* n = t.get("secure_removal_type")) {
        d.secure_removal_type = static_cast<std::uint8_t>(r.Integer(*n, "secure_removal_type", 0, 3));
    }
    if (const auto* n = t.get("init_active_icc_level")) {
        d.init_active_icc_level = static_cast<std::uint8_t>(r.Integer(*n, "init_active_icc_level", 0, 15));
    }
    if (const auto* n = t.get("periodic_rtc_update")) {
        d.periodic_rtc_update = static_cast<std::uint16_t>(r.Integer(*n, "periodic_rtc_update", 0, 0xFFFF));
    }
}

UnitRequest ReadUnit(const Reader& r, const toml::table& t) {
    r.OnlyKeys(t, {"lun", "size", "memory", "boot", "write_protect", "data_reliability", "block_size",
                   "provisioning", "context_capabilities"});
    UnitRequest u;
    const auto* lun = t.get("lun");
    const auto* size = t.get("size");
    if (lun == nullptr || size == nullptr) r.Refuse(t.source(), "[[unit]]: lun and size are wanted");
    u.lun = static_cast<int>(r.Integer(*lun, "lun", 0, 31));
    u.rest = size->is_string() && size->as_string()->get() == "rest";
    if (!u.rest) u.size_bytes = r.Size(*size, "size");
    if (const auto* n = t.get("memory")) {
        u.memory_type = r.Choice(*n, "memory", &MemoryFromName,
                                 "normal, system-code, non-persistent, enhanced1 .. enhanced4");
    }
    if (const auto* n = t.get("boot")) u.boot = r.Choice(*n, "boot", &BootFromName, "A, B, none");
    if (const auto* n = t.get("write_protect")) {
        u.write_protect = r.Choice(*n, "write_protect", &WriteProtectFromName, "none, power-on, permanent");
    }
    if (const auto* n = t.get("data_reliability"))
        u.data_reliability = r.Bool(*n, "data_reliability") ? 1 : 0;
    if (const auto* n = t.get("block_size")) {
        const auto bytes = r.Integer(*n, "block_size", 4096, 65536);
        if ((bytes & (bytes - 1)) != 0) r.Refuse(n->source(), "block_size: a power of two is wanted");
        while ((1 << u.block_exponent) < bytes) ++u.block_exponent;
    }
    if (const auto* n = t.get("provisioning")) {
        u.provisioning_type = r.Choice(*n, "provisioning", &ProvisioningFromName, "full, thin, thin-tprz");
    }
    if (const auto* n = t.get("context_capabilities")) {
        u.context_capabilities = static_cast<std::uint16_t>(r.Integer(*n, "context_capabilities", 0, 0xFFFF));
    }
    return u;
}

void ReadUnits(const Reader& r, const toml::node& node, std::vector<UnitRequest>& units) {
    for (const auto* t : r.Tables(node, "unit")) {
        const UnitRequest u = ReadUnit(r, *t);
        for (const auto& other : units) {
            if (other.lun == u.lun)
                r.Refuse(t->get("lun")->source(), "lun: unit " + std::to_string(u.lun) + " twice");
            if (other.rest && u.rest) {
                r.Refuse(t->get("size")->source(),
                         "size: \"rest\" already goes to unit " + std::to_string(other.lun));
            }
            if (other.boot != BootRole::None && other.boot == u.boot) {
                r.Refuse(t->get("boot")->source(), "boot: unit " + std::to_string(other.lun) + " is boot " +
                                                       std::string(BootName(u.boot)) + " already");
            }
        }
        units.push_back(u);
    }
    std::sort(units.begin(), units.end(), [](const auto& a, const auto& b) { return a.lun < b.lun; });
}

bool HasUnit(const Layout& layout, std::int64_t lun) {
    return std::any_of(layout.units.begin(), layout.units.end(), [&](const auto& u) { return u.lun == lun; });
}

void ReadWriteBooster(const Reader& r, const toml::table& t, Layout& layout) {
    r.OnlyKeys(t, {"type", "lun", "size", "preserve_user_space"});
    auto& wb = layout.write_booster;
    const auto* type = t.get("type");
    const auto* size = t.get("size");
    if (type == nullptr || size == nullptr) r.Refuse(t.source(), "[write_booster]: type and size are wanted");
    const std::string kind = r.Text(*type, "type");
    if (kind != "shared" && kind != "dedicated")
        r.Refuse(type->source(), "type: one of shared, dedicated is wanted");
    wb.enabled = true;
    wb.shared = kind == "shared";
    wb.size_bytes = r.Size(*size, "size");
    const auto* lun = t.get("lun");
    if (wb.shared && lun != nullptr) r.Refuse(lun->source(), "lun: a shared buffer belongs to no unit");
    if (!wb.shared && lun == nullptr)
        r.Refuse(t.source(), "[write_booster]: a dedicated buffer needs its lun");
    if (lun != nullptr) {
        wb.lun = static_cast<int>(r.Integer(*lun, "lun", 0, 31));
        if (!HasUnit(layout, wb.lun))
            r.Refuse(lun->source(), "lun: no [[unit]] has lun " + std::to_string(wb.lun));
    }
    if (const auto* n = t.get("preserve_user_space"))
        wb.preserve_user_space = r.Bool(*n, "preserve_user_space");
}

// The flags a line sets on a part it hands on: each can be set again after a power cycle's reset or
// cleared by the next owner. fPowerOnWPEn only ever sets (a reset clears it). Flags that cannot be
// undone (fPermanentWPEn, fPermanentlyDisableFwUpdate), that start work the part must finish first
// (purge, refresh, fDeviceInit) or that only some parts have (HPB) stay out of jobs.
constexpr std::uint8_t kPowerOnWpEn = 0x03;
constexpr std::uint8_t kJobFlags[] = {kPowerOnWpEn, 0x04, 0x05, 0x0E, 0x0F, 0x10};

std::string JobFlagNames() {
    std::string names;
    for (const std::uint8_t idn : kJobFlags)
        names += (names.empty() ? "" : ", ") + std::string(ufs::FlagName(idn));
    return names;
}

void ReadFlags(const Reader& r, const toml::table& t, std::vector<FlagSetting>& flags) {
    for (const auto& [key, node] : t) {
        const std::string name(key.str());
        const auto* idn = std::find_if(std::begin(kJobFlags), std::end(kJobFlags),
                                       [&name](std::uint8_t f) { return name == ufs::FlagName(f); });
        if (idn == std::end(kJobFlags))
            r.Refuse(key.source(), "flags: " + name + " is not a flag a job sets (" + JobFlagNames() + ")");
        const bool value = r.Bool(node, name);
        if (*idn == kPowerOnWpEn && !value)
            r.Refuse(node.source(), name + ": only a reset clears it; true is wanted");
        flags.push_back({.idn = *idn, .value = value});
    }
}

std::string Joined(const std::string& folder, const std::string& path) {
    return path.starts_with('/') || folder.empty() ? path : folder + "/" + path;
}

// The layout: [[unit]] tables with [device] and [write_booster], or a board's file (layout_from).
void ReadLayout(const Reader& r, const toml::table& root, const std::string& folder, Job& job) {
    const auto* from = root.get("layout_from");
    const auto* units = root.get("unit");
    for (const auto* key : {"unit", "device", "write_booster", "boot_lun_en"}) {
        const auto* n = root.get(key);
        if (n == nullptr) continue;
        if (from != nullptr && std::string_view(key) != "boot_lun_en") {
            r.Refuse(n->source(), std::string(key) + ": the layout comes from layout_from already");
        }
        if (from == nullptr && units == nullptr)
            r.Refuse(n->source(), std::string(key) + ": no [[unit]] to go with");
    }
    if (from == nullptr && units == nullptr) return;
    Layout layout;
    if (from != nullptr) {
        job.layout_from = Joined(folder, r.Text(*from, "layout_from"));
        auto imported = ImportLayoutFile(job.layout_from);
        if (const auto* error = std::get_if<std::string>(&imported))
            r.Refuse(from->source(), "layout_from: " + *error);
        auto& got = std::get<ImportedLayout>(imported);
        layout = std::move(got.layout);
        job.lock = got.lock;
        job.imported = std::move(got.became);
    } else {
        ReadUnits(r, *units, layout.units);
        if (const auto* n = root.get("device")) ReadDevice(r, r.Table(*n, "device"), layout.device);
        if (const auto* n = root.get("write_booster"))
            ReadWriteBooster(r, r.Table(*n, "write_booster"), layout);
    }
    if (const auto* n = root.get("boot_lun_en")) {
        const BootRole role = r.Choice(*n, "boot_lun_en", &BootFromName, "A, B, none");
        const bool present = std::any_of(layout.units.begin(), layout.units.end(),
                                         [&](const auto& u) { return u.boot == role; });
        if (role != BootRole::None && !present) {
            r.Refuse(n->source(), "boot_lun_en: no unit is boot " + std::string(BootName(role)));
        }
        layout.boot_lun_en = static_cast<std::uint8_t>(role);
    }
    job.layout = std::move(layout);
}

std::optional<std::array<std::uint8_t, 32>> ReadSha256(std::string_view hex) {
    std::array<std::uint8_t, 32> digest{};
    if (hex.size() != 64) return std::nullopt;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const auto [ptr, ec] = std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, digest[i], 16);
        if (ec != std::errc() || ptr != hex.data() + 2 * i + 2) return std::nullopt;
    }
    return digest;
}

ImageEntry ReadImage(const Reader& r, const toml::table& t, const Job& job) {
    r.OnlyKeys(t, {"file", "lun", "start_sector", "sha256"});
    const auto* file = t.get("file");
    const auto* lun = t.get("lun");
    if (file == nullptr || lun == nullptr) r.Refuse(t.source(), "[[image]]: file and lun are wanted");
    ImageEntry image;
    image.path = r.Text(*file, "file");
    if (image.path.empty()) r.Refuse(file->source(), "file: empty");
    image.lun = static_cast<int>(r.Integer(*lun, "lun", 0, 31));
    if (job.layout && !HasUnit(*job.layout, image.lun)) {
        r.Refuse(lun->source(), "lun: the layout has no unit " + std::to_string(image.lun));
    }
    if (const auto* n = t.get("start_sector")) {
        image.start_sector = static_cast<std::uint32_t>(r.Integer(*n, "start_sector", 0, 0xFFFFFFFF));
    }
    if (const auto* n = t.get("sha256")) {
        image.sha256 = ReadSha256(r.Text(*n, "sha256"));
        if (!image.sha256) r.Refuse(n->source(), "sha256: 64 hexadecimal digits are wanted");
    }
    return image;
}

// Opens the image (through fileio) and checks that it fits in the size its unit asks for, where the
// layout gives one; the plan checks it against the capacity the part grants.
void CheckImageFile(const Reader& r, const toml::table& t, const ImageEntry& image, const Job& job) {
    const auto& where = t.get("file")->source();
    std::string why;
    const fileio::File file = fileio::OpenForReading(ImagePath(job, image), why);
    struct stat st {};
    if (file.IsOpen() && fstat(file.Get(), &st) != 0) why = std::generic_category().message(errno);
    if (!why.empty()) r.Refuse(where, "file: " + image.path + ": " + why);
    const auto bytes = static_cast<std::uint64_t>(st.st_size);
    if (bytes == 0) r.Refuse(where, "file: " + image.path + ": empty, nothing to write");
    if (!job.layout) return;
    const auto unit = std::find_if(job.layout->units.begin(), job.layout->units.end(),
                                   [&](const auto& u) { return u.lun == image.lun; });
    const std::uint64_t start = static_cast<std::uint64_t>(image.start_sector) << unit->block_exponent;
    if (!unit->rest && start + bytes > unit->size_bytes) {
        r.Refuse(where, "file: " + image.path + ": " + std::to_string(bytes) + " bytes from block " +
                            std::to_string(image.start_sector) + " do not fit in unit " +
                            std::to_string(image.lun) + "'s " + std::to_string(unit->size_bytes));
    }
}

Job ReadJob(const Reader& r, const toml::table& root, const std::string& folder, bool open_images) {
    r.OnlyKeys(root, {"expect", "device", "unit", "write_booster", "boot_lun_en", "layout_from",
                      "lock_configuration", "image", "flags", "verify"});
    Job job;
    job.folder = folder;
    if (const auto* n = root.get("expect")) ReadExpect(r, r.Table(*n, "expect"), job.expect);
    ReadLayout(r, root, folder, job);
    if (const auto* n = root.get("lock_configuration")) job.lock = r.Bool(*n, "lock_configuration");
    if (job.lock && !job.layout)
        r.Refuse(root.get("lock_configuration")->source(), "lock_configuration: no layout to lock");
    if (const auto* n = root.get("image")) {
        for (const auto* t : r.Tables(*n, "image")) {
            job.images.push_back(ReadImage(r, *t, job));
            if (open_images) CheckImageFile(r, *t, job.images.back(), job);
        }
    }
    if (const auto* n = root.get("flags")) ReadFlags(r, r.Table(*n, "flags"), job.flags);
    if (const auto* n = root.get("verify"))
        job.verify = r.Choice(*n, "verify", &VerifyFromName, "read-back, hash, none");
    return job;
}

}  // namespace

std::string ImagePath(const Job& job, const ImageEntry& image) { return Joined(job.folder, image.path); }

std::optional<std::uint64_t> ParseSize(std::string_view text) {
    std::uint64_t bytes = 0;
    if (ReadSize(text, bytes) != SizeText::Good) return std::nullopt;
    return bytes;
}

std::variant<Job, std::string> ParseJob(std::string_view text, std::string_view name,
                                        const std::string& folder, bool open_images) {
    if (const auto at = TooManyKeyDots(text)) {
        return Place(name, text, *at) + "keys nest deeper than a job's (more than " +
               std::to_string(kMostKeyDots) + " dots)";
    }
    try {
        const toml::table root = toml::parse(text, name);
        return ReadJob(Reader(name), root, folder, open_images);
    } catch (const toml::parse_error& e) {
        const auto& where = e.source().begin;
        return std::string(name) + ":" + std::to_string(where.line) + ":" + std::to_string(where.column) +
               ": " + std::string(e.description());
    } catch (const Refusal& refusal) {
        return refusal.message;
    }
}

std::variant<Job, std::string> ReadJobFile(const std::string& path) {
    constexpr std::size_t kLimit = 1 << 20;  // a job file is a page or two
    std::string why;
    const auto text = fileio::ReadWhole(path, kLimit, why);
    if (!text) return path + ": " + why;
    const auto slash = path.rfind('/');
    return ParseJob(*text, path, slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash),
                    true);
}

}  // namespace kt::production
