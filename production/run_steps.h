// The steps of a part's run, apart from their order: what each reads, writes and decides. Shared by
// the run and its tests; no front end includes it.
#pragma once

#include <kt62/apiKT6200.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "handlers/transfer/chunk_loop.h"
#include "production/plan.h"
#include "production/run.h"

namespace kt::production {

struct Done {
    Outcome outcome = Outcome::Ok;
    std::string detail;
};
inline Done Failed(std::string detail) { return {Outcome::Failed, std::move(detail)}; }
inline Done Skipped(std::string detail) { return {Outcome::Skipped, std::move(detail)}; }

// An image once checked: its file open, the unit's block size and where it goes.
struct CheckedImage {
    const ImageEntry* entry = nullptr;
    std::string path;  // resolved against the job's folder
    ImageFile file;
    std::uint32_t block_size = 0;
    std::uint32_t blocks = 0;  // the image's, whole blocks
    std::string sha256;        // of the file, when taken
};

// Bytes a chunk of an image moves. The transfer buffers hold 32 MiB, but a part's run touches only
// this much of each: every programmer's worker has buffers of its own, and the memory they take
// is fresh on each run. Four parts at once moved their images about twice as fast in 2 MiB chunks
// as in 32 MiB ones, the workers' memory a tenth as large.
inline constexpr std::uint32_t kChunkBytes = 2u << 20;
// Whole blocks of one chunk: kChunkBytes of them, or one block larger than that; 0 for a block the
// buffer cannot carry.
std::uint32_t ChunkSectors(std::uint32_t block_size);

// One part's run: what the steps share.
struct PartRun {
    const Job& job;
    const RunOptions& options;
    int position;
    RunSink& sink;
    const std::atomic<int>& running;
    DeviceRecord& record;

    KT62_HANDLE h = KT62_INVALID_HANDLE;
    DeviceFacts facts;
    std::optional<Plan> plan;
    std::vector<CheckedImage> images;
    TransferBuffers buffers;
};

Done Identify(PartRun& p);
Done CheckJob(PartRun& p);
Done Configure(PartRun& p);
Done Compare(PartRun& p);
Done WriteImages(PartRun& p);
Done VerifyImages(PartRun& p);
Done ApplySettings(PartRun& p);
Done Lock(PartRun& p);

// Why the part is not the one the job expects, or "" when it is.
std::string Mismatch(const Expected& expect, const DeviceFacts& facts, const std::string& product);
// Whether a configuration read from the part is the planned one in every byte a part acts on: the
// header, and the entries of enabled units (a disabled unit's other bytes mean nothing).
bool SameConfiguration(const std::vector<std::uint8_t>& read, const std::vector<std::uint8_t>& planned,
                       const ufs::ConfigLayout& layout);
// A whole descriptor (as long as its byte 0 says), or the call's failure with `out` empty.
std::int32_t ReadWholeDescriptor(KT62_HANDLE h, std::uint8_t idn, std::uint8_t index,
                                 std::vector<std::uint8_t>& out);
// "kt62UfsWriteDescriptor failed: KT62_QUERY_INVALID_VALUE (-6)"
std::string CallFailed(const char* call, std::int32_t r);

// SHA-256 over what is handed to it, as lowercase hex.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Update(const std::uint8_t* data, std::size_t size);
    std::string Hex();

private:
    struct State;
    State* state_;
};
std::string HexOf(const std::uint8_t* data, std::size_t size);

}  // namespace kt::production
