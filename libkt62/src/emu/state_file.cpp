#include "emu/state_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <kt62/apiKT6200.h>
#include <nlohmann/json.hpp>
#include <system_error>

#include "emu/state_folder.h"
#include "fileio/file_access.h"

namespace kt62::emu {
namespace {

using json = nlohmann::json;

constexpr int kFormat = 1;
constexpr size_t kMaxStateBytes = 1 << 20;

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        (void)std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);  // 3 characters at most
        out += buf;
    }
    return out;
}

std::vector<uint8_t> Bytes(const std::string& hex) {
    const std::optional<std::vector<uint8_t>> b = ParseHexBytes(hex);
    if (!b) throw std::runtime_error("not a hex string");
    return *b;
}

}  // namespace

int32_t SaveState(const std::filesystem::path& file, const StoredState& s, std::string& error) {
    json j;
    j["format"] = kFormat;
    j["identity"] = s.identity;
    j["sequence"] = s.sequence;
    j["configuration_written"] = Hex(s.config_written);
    j["configuration_active"] = Hex(s.config_active);
    json flags = json::object();
    json attributes = json::object();
    for (const auto& [idn, value] : s.flags) flags[std::to_string(idn)] = value;
    for (const auto& [idn, value] : s.attributes) attributes[std::to_string(idn)] = value;
    j["flags"] = flags;
    j["attributes"] = attributes;
    j["unit_files"] = s.unit_files;
    j["unit_generations"] = s.unit_generation;
    const std::string text = j.dump(1) + "\n";

    if (!PrepareDeviceFolder(file.parent_path(), error) || !ReplaceStateFile(file, text, error))
        return KT62_E_STATE_IO;
    return KT62_OK;
}

std::optional<std::string> ParseState(const std::string& text, StoredState& s) {
    // get<uint32_t>() takes -1 as 4294967295 and 1.5 as 1: a hand-edited value must be what it
    // says, or the device would run on a value nobody wrote.
    auto count = [](const json& v, const std::string& what, uint64_t max) {
        if (!v.is_number_unsigned() || v.get<uint64_t>() > max)
            throw std::runtime_error(what + ": " + v.dump() + " is not a whole number from 0 to " +
                                     std::to_string(max));
        return v.get<uint64_t>();
    };
    // Keys as the saver writes them ("11"): " 11" or "011" would be a second entry for one IDN.
    auto idn = [](const std::string& key, const std::string& what) {
        for (unsigned n = 0; n <= UINT8_MAX; ++n)
            if (std::to_string(n) == key) return static_cast<uint8_t>(n);
        throw std::runtime_error(what + ": \"" + key + "\" is not an IDN from 0 to 255");
    };
    try {
        const json j = json::parse(text);
        if (j.at("format").get<int>() != kFormat) throw std::runtime_error("unknown format");
        s = StoredState{};
        s.identity = j.at("identity").get<std::string>();
        s.sequence = count(j.at("sequence"), "sequence", UINT64_MAX);
        s.config_written = Bytes(j.at("configuration_written").get<std::string>());
        s.config_active = Bytes(j.at("configuration_active").get<std::string>());
        for (const auto& [key, value] : j.at("flags").items())
            s.flags.emplace_back(idn(key, "flags"),
                                 static_cast<uint32_t>(count(value, "flags." + key, UINT32_MAX)));
        for (const auto& [key, value] : j.at("attributes").items())
            s.attributes.emplace_back(idn(key, "attributes"),
                                      static_cast<uint32_t>(count(value, "attributes." + key, UINT32_MAX)));
        const auto files = j.find("unit_files");
        if (files != j.end() && !files->is_boolean())
            throw std::runtime_error("unit_files: not true or false");
        s.unit_files = files != j.end() && files->get<bool>();
        const json& gens = j.at("unit_generations");
        if (!gens.is_array() || gens.size() != s.unit_generation.size())
            throw std::runtime_error("unit_generations: not 8 numbers");
        // One below the top, so that the next new generation still has a number.
        for (size_t i = 0; i < s.unit_generation.size(); ++i)
            s.unit_generation[i] = static_cast<uint32_t>(
                count(gens[i], "unit_generations[" + std::to_string(i) + "]", UINT32_MAX - 1));
    } catch (const std::exception& e) {
        const std::string what = e.what();
        const auto tag_end = what.find("] ");
        return what.rfind("[json.exception", 0) == 0 && tag_end != std::string::npos
                   ? what.substr(tag_end + 2)
                   : what;
    }
    return std::nullopt;
}

LoadOutcome LoadState(const std::filesystem::path& file, StoredState& s, std::string& error) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 && errno == ENOENT) return LoadOutcome::Missing;
    std::string why;
    const std::optional<std::string> text = kt::fileio::ReadWhole(file.string(), kMaxStateBytes, why);
    if (!text) {
        error = file.string() + ": cannot be read: " + why;
        return LoadOutcome::Failed;
    }
    if (const auto problem = ParseState(*text, s)) {
        error = file.string() + ": not a valid state file: " + *problem;
        return LoadOutcome::Failed;
    }
    return LoadOutcome::Loaded;
}

}  // namespace kt62::emu
