// The steps that move sectors: the plan and the images checked before anything is written, each
// image written through the chunk loop, and read back.
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>
#include <utility>

#include "encoding/big_endian.h"
#include "handlers/transfer/transfer_rules.h"
#include "production/job_file.h"
#include "production/run_steps.h"
#include "ufs/idn.h"
#include "ufs/parameters.h"
#include "ufs/versions.h"

namespace kt::production {

struct Sha256::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
};

Sha256::Sha256() : state_(new State) { (void)EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr); }
Sha256::~Sha256() {
    EVP_MD_CTX_free(state_->context);
    delete state_;
}
void Sha256::Update(const std::uint8_t* data, std::size_t size) {
    (void)EVP_DigestUpdate(state_->context, data, size);
}
std::string Sha256::Hex() {
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    (void)EVP_DigestFinal_ex(state_->context, digest, &size);
    return HexOf(digest, size);
}

std::string HexOf(const std::uint8_t* data, std::size_t size) {
    std::string hex;
    for (std::size_t i = 0; i < size; ++i)
        hex += {"0123456789abcdef"[data[i] >> 4], "0123456789abcdef"[data[i] & 15]};
    return hex;
}

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The blocks and block size of the unit an image goes to: the plan's, or, when the job leaves the
// configuration alone, the part's. "" or why there is none.
std::string UnitCapacity(PartRun& p, int lun, std::uint32_t& block_size, std::uint64_t& blocks) {
    const std::string unit = "unit " + std::to_string(lun);
    if (p.plan) {
        const auto u = std::find_if(p.plan->units.begin(), p.plan->units.end(),
                                    [lun](const UnitPlan& planned) { return planned.request.lun == lun; });
        if (u == p.plan->units.end()) return unit + " is not in the layout";
        block_size = std::uint32_t{1} << u->request.block_exponent;
        blocks = u->blocks;
        return "";
    }
    std::vector<std::uint8_t> d;
    if (lun < 0 || lun >= ufs::kConfigUnits) return unit + " does not exist";
    if (const std::int32_t r =
            ReadWholeDescriptor(p.h, ufs::kUnitDescriptor, static_cast<std::uint8_t>(lun), d);
        r != 0)
        return unit + ": " + CallFailed("kt62UfsReadDescriptor", r);
    if (d.size() < ufs::kUnitLogicalBlockCount + 8 || d[ufs::kUnitLuEnable] == 0 ||
        d[ufs::kUnitLogicalBlockSize] >= 32)
        return unit + " is not enabled";
    block_size = std::uint32_t{1} << d[ufs::kUnitLogicalBlockSize];
    blocks = BigEndian64(&d[ufs::kUnitLogicalBlockCount]);
    return "";
}

// The file's SHA-256, read a buffer at a time; "" when it cannot be read (`why` says so).
std::string FileSha256(const ImageFile& file, std::uint64_t size, std::uint8_t* buffer, std::string& why) {
    Sha256 sha;
    for (std::uint64_t at = 0; at < size;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, size - at));
        if (const int error = file.ReadAt(buffer, n, at); error != 0) {
            why = error == kShortFile ? "the file got shorter" : std::generic_category().message(error);
            return "";
        }
        sha.Update(buffer, n);
        at += n;
    }
    return sha.Hex();
}

std::string CheckImage(PartRun& p, const ImageEntry& e, CheckedImage& image) {
    image.entry = &e;
    image.path = ImagePath(p.job, e);
    std::uint64_t unit_blocks = 0;
    if (std::string why = UnitCapacity(p, e.lun, image.block_size, unit_blocks); !why.empty()) return why;
    std::string why;
    if (!image.file.OpenForReading(image.path, why)) return why;
    const std::uint64_t size = image.file.Size();
    if (size == 0) return "the file is empty";
    if (size % image.block_size != 0)
        return std::to_string(size) + " bytes, not a whole number of the unit's " +
               std::to_string(image.block_size) + "-byte blocks";
    const std::uint64_t blocks = size / image.block_size;
    if (e.start_sector + blocks > unit_blocks || e.start_sector + blocks > UINT32_MAX)
        return std::to_string(blocks) + " blocks from sector " + std::to_string(e.start_sector) +
               " do not fit unit " + std::to_string(e.lun) + " of " + std::to_string(unit_blocks) + " blocks";
    image.blocks = static_cast<std::uint32_t>(blocks);
    if (e.sha256 || p.job.verify == Verify::Hash) {
        image.sha256 = FileSha256(image.file, size, p.buffers[0], why);
        if (image.sha256.empty()) return why;
        if (e.sha256 && HexOf(e.sha256->data(), e.sha256->size()) != image.sha256)
            return "SHA-256 " + image.sha256 + ", the job expects " +
                   HexOf(e.sha256->data(), e.sha256->size());
    }
    return "";
}

// What the chunk loop reports, as progress of the step and as the sectors it got to.
struct Progress : ChunkSink {
    Progress(PartRun& p, std::uint64_t& done_so_far, std::uint64_t total_bytes, std::uint32_t unit_block)
        : run(p), done(done_so_far), total(total_bytes), block_size(unit_block) {}
    void ChunkDone(std::uint32_t n, std::uint32_t /*left*/, int /*retries*/) override {
        moved += n;
        done += std::uint64_t{n} * block_size;
        run.sink.Progress(run.position, done, total);
    }
    void Failed(const std::string& line) override { failure = line; }

    PartRun& run;
    std::uint64_t& done;
    std::uint64_t total;
    std::uint32_t block_size;
    std::uint32_t moved = 0;
    std::string failure;
};

ChunkPlan PlanFor(PartRun& p, CheckedImage& image, Direction direction) {
    ChunkPlan plan;
    plan.device = p.h;
    plan.lun = static_cast<std::uint8_t>(image.entry->lun);
    plan.direction = direction;
    plan.first = image.entry->start_sector;
    plan.count = image.blocks;
    plan.sector_size = image.block_size;
    plan.chunk_sectors = ChunkSectors(image.block_size);
    plan.file = direction == Direction::Write ? &image.file : nullptr;
    plan.path = image.path;
    plan.buffers[0] = p.buffers[0];
    plan.buffers[1] = p.buffers[1];
    return plan;
}

std::uint64_t TotalBytes(const std::vector<CheckedImage>& images) {
    std::uint64_t total = 0;
    for (const CheckedImage& image : images) total += std::uint64_t{image.blocks} * image.block_size;
    return total;
}

// How a transfer that did not get to its end ended: failed, or stopped where it was.
Done Unfinished(PartRun& p, const CheckedImage& image, const Progress& progress, const std::string& failure) {
    const std::uint32_t sector = image.entry->start_sector + progress.moved;
    p.record.failed_sector = sector;
    const std::string where = "image " + image.entry->path + ", unit " + std::to_string(image.entry->lun);
    if (!failure.empty()) return Failed(where + ": " + failure);
    return {Outcome::Stopped, where + ": stopped at sector " + std::to_string(sector)};
}

}  // namespace

std::uint32_t ChunkSectors(std::uint32_t block_size) {
    if (block_size == 0) return 0;
    return std::min(ChunkLimit(block_size), std::max<std::uint32_t>(1, kChunkBytes / block_size));
}

std::int32_t ReadWholeDescriptor(KT62_HANDLE h, std::uint8_t idn, std::uint8_t index,
                                 std::vector<std::uint8_t>& out) {
    constexpr std::uint32_t kDescriptorMax = 255;
    out.assign(kDescriptorMax, 0);
    const std::int32_t r = kt62UfsReadDescriptor(h, idn, index, 0, out.data(), kDescriptorMax);
    out.resize(r == 0 ? std::min<std::size_t>(out[0], out.size()) : 0);
    return r;
}

Done CheckJob(PartRun& p) {
    if (p.job.layout) {
        PlanOrRefusal plan = MakePlan(*p.job.layout, p.facts);
        if (const auto* refusal = std::get_if<Refusal>(&plan))
            return Failed("the layout does not fit the part: " + refusal->Text());
        p.plan = std::move(std::get<Plan>(plan));
    }
    for (const FlagSetting& flag : p.job.flags) {
        if (p.facts.spec_version < ufs::FindFlag(flag.idn)->since) {
            return Failed(std::string(ufs::FlagName(flag.idn)) + ": a UFS " +
                          ufs::VersionText(p.facts.spec_version) + " part has no such flag");
        }
    }
    if (!p.job.images.empty() && !p.buffers.Reserve(true))
        return Failed("no memory for the transfer buffers");
    p.images.clear();
    p.images.reserve(p.job.images.size());
    for (const ImageEntry& e : p.job.images) {
        CheckedImage& image = p.images.emplace_back();
        if (std::string why = CheckImage(p, e, image); !why.empty())
            return Failed("image " + e.path + ": " + why);
        p.record.images.push_back({.path = e.path,
                                   .lun = e.lun,
                                   .start_sector = e.start_sector,
                                   .bytes = std::uint64_t{image.blocks} * image.block_size,
                                   .sha256 = image.sha256,
                                   .read_sha256 = {}});
    }
    return {Outcome::Ok, std::string(p.plan ? "the layout fits; " : "") + std::to_string(p.images.size()) +
                             " image(s) fit their units"};
}

Done WriteImages(PartRun& p) {
    if (p.images.empty()) return Skipped("the job has no images");
    std::uint64_t done = 0;
    const std::uint64_t total = TotalBytes(p.images);
    for (std::size_t i = 0; i < p.images.size(); ++i) {
        CheckedImage& image = p.images[i];
        Progress progress(p, done, total, image.block_size);
        const ChunkPlan plan = PlanFor(p, image, Direction::Write);
        const Clock::time_point start = Clock::now();
        const bool ok = RunChunks(plan, progress, p.running);
        p.record.images[i].write_seconds = SecondsSince(start);
        if (!ok || progress.moved < image.blocks) return Unfinished(p, image, progress, progress.failure);
    }
    return {Outcome::Ok, std::to_string(total) + " bytes written"};
}

namespace {

// Reading back: each chunk compared with the file, or added to the hash of what was read. A
// difference ends the loop through its own keep-going flag, which follows the run's as well.
struct ReadBack : Progress {
    ReadBack(PartRun& p, std::uint64_t& done_so_far, std::uint64_t total_bytes, CheckedImage& checked)
        : Progress(p, done_so_far, total_bytes, checked.block_size), image(checked) {
        ReadAhead();
    }
    void ChunkDone(std::uint32_t n, std::uint32_t left, int retries) override {
        const std::size_t bytes = std::size_t{n} * image.block_size;
        const std::uint8_t* read = run.buffers[0];
        const std::uint8_t* file = run.buffers[1];
        if (run.job.verify == Verify::Hash) {
            sha.Update(read, bytes);
        } else if (const int error = std::exchange(ahead, false)
                                         ? helper.Wait()
                                         : image.file.ReadAt(run.buffers[1], bytes, offset);
                   error != 0) {
            failure = "the file cannot be read: " +
                      (error == kShortFile ? "it got shorter" : std::generic_category().message(error));
            running.store(0);
            return;
        } else if (std::memcmp(read, file, bytes) != 0) {
            std::size_t at = 0;
            while (read[at] == file[at]) ++at;
            differs = image.entry->start_sector + moved + static_cast<std::uint32_t>(at / image.block_size);
            running.store(0);
        }
        offset += bytes;
        if (run.running.load() == 0) running.store(0);
        if (running.load() != 0) ReadAhead();
        Progress::ChunkDone(n, left, retries);
    }
    // The file's side of the next chunk, read while the device reads its sectors.
    void ReadAhead() {
        const std::uint64_t size = std::uint64_t{image.blocks} * image.block_size;
        if (run.job.verify != Verify::ReadBack || offset >= size) return;
        const std::uint64_t chunk = std::uint64_t{ChunkSectors(image.block_size)} * image.block_size;
        const auto n = static_cast<std::size_t>(std::min(chunk, size - offset));
        helper.Start([this, n, at = offset] { return image.file.ReadAt(run.buffers[1], n, at); });
        ahead = true;
    }

    CheckedImage& image;
    std::uint64_t offset = 0;
    std::atomic<int> running{1};
    std::optional<std::uint32_t> differs;
    Sha256 sha;
    bool ahead = false;   // the helper has the file's side of the next chunk
    HelperThread helper;  // last: a read still running ends before the rest goes
};

}  // namespace

Done VerifyImages(PartRun& p) {
    if (p.job.verify == Verify::None) return Skipped("the job verifies nothing");
    if (p.images.empty()) return Skipped("the job has no images");
    std::uint64_t done = 0;
    const std::uint64_t total = TotalBytes(p.images);
    for (std::size_t i = 0; i < p.images.size(); ++i) {
        CheckedImage& image = p.images[i];
        std::string why;
        if (!image.file.OpenForReading(image.path, why))
            return Failed("image " + image.entry->path + ": " + why);
        ReadBack check(p, done, total, image);
        const ChunkPlan plan = PlanFor(p, image, Direction::Read);
        const Clock::time_point start = Clock::now();
        const bool ok = RunChunks(plan, check, check.running);
        p.record.images[i].verify_seconds = SecondsSince(start);
        if (check.differs) {
            p.record.failed_sector = *check.differs;
            return Failed("image " + image.entry->path + ", unit " + std::to_string(image.entry->lun) +
                          ": sector " + std::to_string(*check.differs) + " differs from the file");
        }
        if (!ok || !check.failure.empty() || check.moved < image.blocks)
            return Unfinished(p, image, check, check.failure);
        if (p.job.verify == Verify::Hash) {
            p.record.images[i].read_sha256 = check.sha.Hex();
            if (p.record.images[i].read_sha256 != image.sha256)
                return Failed("image " + image.entry->path + ": SHA-256 of what was read back, " +
                              p.record.images[i].read_sha256 + ", differs from the file's");
        }
    }
    return {Outcome::Ok, std::to_string(total) + " bytes read back and " +
                             (p.job.verify == Verify::Hash ? "hashed" : "compared")};
}

}  // namespace kt::production
