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
#include "handlers/transfer/transfer_rules.h"

namespace kt {
namespace {

constexpr const char* kImageFilter = "Binary File(*.bin)|*.bin|All files(*.*)|*.*||";

// A completed chunk: progress, total, throughput.
class PaneSink final : public ChunkSink {
public:
    PaneSink(SectorTransfer& transfer, CommandContext& ctx, const ChunkPlan& plan)
        : transfer_(transfer), ctx_(ctx), plan_(plan), start_(QueryPerformanceCounter()) {}

    void ChunkDone(std::uint32_t n, std::uint32_t left, int retries) override {
        ctx_.ShowLog(ProgressText(plan_.direction, left, retries));
        ctx_.Ui().SetProgress(IDC_PROGRESS_TRANSFER, ProgressPermille(plan_.count - left, plan_.count));
        total_mb_ += ChunkMB(n, plan_.sector_size);
        transfer_.ReportThroughput(start_, total_mb_);
    }
    void Failed(const std::string& line) override {
        ctx_.AppendLog(line);
        ctx_.ShowLibraryReason();  // a failed device call's sense data; nothing after a file's failure
    }

private:
    SectorTransfer& transfer_;
    CommandContext& ctx_;
    const ChunkPlan& plan_;
    const std::int64_t start_;
    std::uint32_t total_mb_ = 0;
};

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
    const bool reading = direction == Direction::Read;
    IUiPort& ui = ctx_.Ui();
    EnableControls(false);

    // Everything between locking and unlocking the controls; every return
    // ends the transfer, with the file closed.
    [&] {
        ChunkPlan plan;
        plan.device = ctx_.Device();
        plan.direction = direction;
        std::uint32_t sectors = 0;
        (void)kt62LastMessage(nullptr, 0);
        if (const std::int32_t r = kt62ScsiReadCapacity(plan.device, &sectors, &plan.sector_size); r != 0) {
            ctx_.ShowLog(FailToText("scsi read capacity", r));
            ctx_.ShowLibraryReason();  // a device whose state cannot be loaded says why
            return;
        }
        const std::optional<std::uint32_t> start = ParseDecimalField(ui.GetText(IDC_EDIT_START_SECTOR));
        if (!start) {
            ctx_.ShowLog("invalid start sector.");
            return;
        }
        const std::optional<std::uint32_t> count = ParseDecimalField(ui.GetText(IDC_EDIT_SECTOR_COUNT));
        if (!count) {
            ctx_.ShowLog("invalid sector count.");
            return;
        }
        plan.chunk_sectors = ChunkLimit(plan.sector_size);
        if (plan.chunk_sectors == 0) {
            ctx_.ShowLog(Format("invalid sector size %u.", plan.sector_size));
            return;
        }
        if (!RangeFits(*start, *count, sectors)) {
            ctx_.ShowLog("out of range.");
            return;
        }
        plan.first = *start;
        plan.count = *count;

        ImageFile file;
        const std::optional<std::string> path =
            ui.ChooseFile(reading ? FileChooserMode::Save : FileChooserMode::Open, kImageFilter);
        if (path) {
            std::string why;
            if (!(reading ? file.Create(*path, why) : file.OpenForReading(*path, why))) {
                ctx_.ShowLog("can't open file.");
                ctx_.ShowStatus(*path + ": " + why);
                return;
            }
            if (!reading) {
                const std::uint64_t whole = file.Size() / plan.sector_size;
                if (whole < plan.count) {
                    if (!ui.AskYesNo("file too small. resize?", "File size")) return;
                    plan.count = static_cast<std::uint32_t>(whole);
                }
            }
            plan.file = &file;
            plan.path = *path;
        } else if (!ui.AskYesNo(reading ? "Using test reading mode?" : "Fill memory with zero?",
                                reading ? "Test read" : "Test write")) {
            return;
        }

        // Two buffers take turns when there is a file: the device uses one
        // while the file's input or output runs on the other.
        if (!buffers_.Reserve(plan.file != nullptr)) {
            ctx_.ShowLog("can't allocate the transfer buffer.");
            return;
        }
        plan.buffers[0] = buffers_[0];
        plan.buffers[1] = buffers_[1];
        // Every transfer starts from zeroed buffers, as if they were new: the test write sends
        // zeros, and a chunk the device reports read without filling it is written as zeros,
        // never as an earlier transfer's data.
        for (std::uint8_t* b : plan.buffers)
            if (b) std::memset(b, 0, kTransferBufferBytes);
        PaneSink sink(*this, ctx_, plan);
        ui.SetProgress(IDC_PROGRESS_TRANSFER, 0);
        if (RunChunks(plan, sink, m_bRunning))
            ctx_.AppendLog(m_bRunning.load() != 0 ? "Done." : "Cancelled.");
    }();

    EnableControls(true);
    EndOfWorker();
}

}  // namespace kt
