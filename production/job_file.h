// Reading a job file (TOML) into a Job. Every refusal names the place: "JOB:LINE:COLUMN: message".
// Unknown keys and tables are refused, so a misspelt setting is never silently left out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "production/job.h"

namespace kt::production {

// Reads and checks the job file at `path`; a layout it takes from a provisioning file
// (`layout_from`) is read from the job file's folder. Each image is opened: a missing or unreadable
// one, an empty one, or one larger than the size its unit asks for is refused. The job, or the refusal.
std::variant<Job, std::string> ReadJobFile(const std::string& path);

// The same for a job file's text: `name` is the file name messages start with, `folder` the folder
// relative paths are taken from; the images are opened only when `open_images` says so.
std::variant<Job, std::string> ParseJob(std::string_view text, std::string_view name,
                                        const std::string& folder = ".", bool open_images = false);

// Where an image's file is: its path taken from the job file's folder.
std::string ImagePath(const Job& job, const ImageEntry& image);

// "4096", "4MiB", "32 GiB": bytes. nullopt for anything else or for more than 64 bits.
std::optional<std::uint64_t> ParseSize(std::string_view text);

}  // namespace kt::production
