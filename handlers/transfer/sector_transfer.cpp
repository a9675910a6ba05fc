// The transfer worker: device sectors to an image file and back. It asks the
// user what the fields, the file chooser and the questions say, then hands
// the range to the chunk loop and turns its news into pane lines.
#include "handlers/transfer/sector_transfer.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "common/control_ids.h"
#include "common/failure_text.h"
#include "common/platform.h"
#include "common/text_format.h"
#include "handlers/transfer/image_file.h"
#include "handlers/transfer/throughput.h"
#include "handlers/transfer/transfer_rules.h"

namespace kt {
namespace {

constexpr const char* kImageFilter = "Binary File(*.bin)|*.bin|All files(*.*)|*.*||";

// A completed chunk: progress, total, throughput.
class PaneSink final : public ChunkSink {
public:
    PaneSink(CommandContext& ctx, const ChunkPlan& plan, std::int64_t frequency)
        : ctx_(ctx), plan_(plan), frequency_(frequency), start_(QueryPerformanceCounter()) {}

    void ChunkDone(std::uint32_t n, std::uint32_t left, int retries) override {
        ctx_.ShowLog(ProgressText(plan_.direction, left, retries));
        ctx_.Ui().SetProgress(IDC_PROGRESS_TRANSFER, ProgressPermille(plan_.count - left, plan_.count));
        total_mb_ += ChunkMB(n, plan_.sector_size);
        ctx_.AppendLog(ThroughputText(ElapsedMs(start_, QueryPerformanceCounter(), frequency_), total_mb_));
    }
    void Failed(const std::string& line) override {
        ctx_.AppendLog(line);
        ctx_.ShowLibraryReason();  // a failed device call's sense data; nothing after a file's failure
    }

private:
    CommandContext& ctx_;
    const ChunkPlan& plan_;
    const std::int64_t frequency_;
    const std::int64_t start_;
    std::uint32_t total_mb_ = 0;
};

// What is wrong with the fields or the range, in the order the pane says it; "" when nothing is.
std::string RangeRefusal(const std::optional<std::uint32_t>& start, const std::optional<std::uint32_t>& count,
                         const ChunkPlan& plan, std::uint32_t sectors) {
    if (!start) return "invalid start sector.";
    if (!count) return "invalid sector count.";
    if (plan.chunk_sectors == 0) return Format("invalid sector size %u.", plan.sector_size);
    if (!RangeFits(*start, *count, sectors)) return "out of range.";
    return {};
}

}  // namespace

std::uint32_t SectorTransfer::ReadSectorsThread(SectorTransfer* transfer) {
    transfer->RunTransfer(Direction::Read);
    return 0;
}

std::uint32_t SectorTransfer::WriteSectorsThread(SectorTransfer* transfer) {
    transfer->RunTransfer(Direction::Write);
    return 0;
}

void SectorTransfer::RunTransfer(Direction direction) {
    EnableControls(false);
    {
        // Declared first, so that every way out closes it.
        ImageFile file;
        if (std::optional<ChunkPlan> plan = PlanTransfer(direction, file)) ExecuteTransfer(*plan);
    }
    EnableControls(true);
    EndOfWorker();
}

std::optional<ChunkPlan> SectorTransfer::PlanTransfer(Direction direction, ImageFile& file) {
    const bool reading = direction == Direction::Read;
    IUiPort& ui = ctx_.Ui();
    ChunkPlan plan;
    plan.device = ctx_.Device();
    plan.direction = direction;
    std::uint32_t sectors = 0;
    (void)kt62LastMessage(nullptr, 0);
    if (const std::int32_t r = kt62ScsiReadCapacity(plan.device, &sectors, &plan.sector_size); r != 0) {
        ctx_.ShowLog(FailToText("scsi read capacity", r));
        ctx_.ShowLibraryReason();  // a device whose state cannot be loaded says why
        return std::nullopt;
    }
    const std::optional<std::uint32_t> start = ParseDecimalField(ui.GetText(IDC_EDIT_START_SECTOR));
    const std::optional<std::uint32_t> count = ParseDecimalField(ui.GetText(IDC_EDIT_SECTOR_COUNT));
    plan.chunk_sectors = ChunkLimit(plan.sector_size);
    if (const std::string refusal = RangeRefusal(start, count, plan, sectors); !refusal.empty()) {
        ctx_.ShowLog(refusal);
        return std::nullopt;
    }
    plan.first = *start;
    plan.count = *count;

    const std::optional<std::string> path =
        ui.ChooseFile(reading ? FileChooserMode::Save : FileChooserMode::Open, kImageFilter);
    if (!path) {
        if (!ui.AskYesNo(reading ? "Using test reading mode?" : "Fill memory with zero?",
                         reading ? "Test read" : "Test write"))
            return std::nullopt;
        return plan;
    }
    std::string why;
    if (!(reading ? file.Create(*path, why) : file.OpenForReading(*path, why))) {
        ctx_.ShowLog("can't open file.");
        ctx_.ShowStatus(*path + ": " + why);
        return std::nullopt;
    }
    if (const std::uint64_t whole = file.Size() / plan.sector_size; !reading && whole < plan.count) {
        if (!ui.AskYesNo("file too small. resize?", "File size")) return std::nullopt;
        plan.count = static_cast<std::uint32_t>(whole);
    }
    plan.file = &file;
    plan.path = *path;
    return plan;
}

void SectorTransfer::ExecuteTransfer(ChunkPlan& plan) {
    // Two buffers take turns when there is a file: the device uses one
    // while the file's input or output runs on the other.
    if (!buffers_.Reserve(plan.file != nullptr)) {
        ctx_.ShowLog("can't allocate the transfer buffer.");
        return;
    }
    plan.buffers[0] = buffers_[0];
    plan.buffers[1] = buffers_[1];
    plan.in_device_call = &in_device_call_;
    // Every transfer starts from zeroed buffers, as if they were new: the test write sends
    // zeros, and a chunk the device reports read without filling it is written as zeros,
    // never as an earlier transfer's data.
    for (std::uint8_t* b : plan.buffers)
        if (b) std::memset(b, 0, kTransferBufferBytes);
    PaneSink sink(ctx_, plan, m_liFrequency);
    ctx_.Ui().SetProgress(IDC_PROGRESS_TRANSFER, 0);
    if (RunChunks(plan, sink, m_bRunning)) ctx_.AppendLog(m_bRunning.load() != 0 ? "Done." : "Cancelled.");
}

}  // namespace kt
