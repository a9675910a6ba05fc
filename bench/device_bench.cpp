// Query rate and 32 MiB READ(10)/WRITE(10) of the emulated device, against
// `dd bs=32M` copying a file of the same size in the same folder. The ratios
// the targets are stated in come last.
#include <benchmark/benchmark.h>
#include <kt62/apiKT6200.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kTransferBytes = 32u << 20;

kt::test::TempDir& Dir() {
    static kt::test::TempDir dir;
    return dir;
}

// The built-in programmer, its state under the temporary folder; opened once for every benchmark.
KT62_HANDLE Handle() {
    static KT62_HANDLE h = [] {
        setenv("XDG_DATA_HOME", (Dir().Path() + "/xdg").c_str(), 1);
        unsetenv("KT62_EMULATOR");
        unsetenv("KT62_TRACE");
        if (kt62Search() < 1) std::abort();
        KT62_HANDLE opened = kt62Open(0);
        if (opened == KT62_INVALID_HANDLE) std::abort();
        return opened;
    }();
    return h;
}

void BM_ReadAttribute(benchmark::State& state) {
    KT62_HANDLE h = Handle();
    uint32_t v = 0;
    for (auto _ : state) {
        if (kt62UfsReadAttribute(h, 0x0B, 0, 0, &v) != KT62_OK) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadAttribute);

void BM_ReadFlag(benchmark::State& state) {
    KT62_HANDLE h = Handle();
    uint8_t v = 0;
    for (auto _ : state) {
        if (kt62UfsReadFlag(h, 0x04, &v) != KT62_OK) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadFlag);

void BM_ReadDeviceDescriptor(benchmark::State& state) {
    KT62_HANDLE h = Handle();
    uint8_t buf[64];
    for (auto _ : state) {
        if (kt62UfsReadDescriptor(h, 0x00, 0, 0, buf, sizeof buf) != KT62_OK)
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(buf);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadDeviceDescriptor);

void BM_ToggleVolatileFlag(benchmark::State& state) {
    KT62_HANDLE h = Handle();
    for (auto _ : state)
        if (kt62UfsToggleFlag(h, 0x04) != KT62_OK) state.SkipWithError("toggle failed");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ToggleVolatileFlag);

std::vector<uint8_t>& Buffer() {
    static std::vector<uint8_t> buf = [] {
        std::vector<uint8_t> b(kTransferBytes);
        for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 31 + 7);
        return b;
    }();
    return buf;
}

void BM_Write10_32MiB(benchmark::State& state) {
    KT62_HANDLE h = Handle();
    kt62SetPacketSize(static_cast<uint32_t>(state.range(0)));
    for (auto _ : state)
        if (kt62ScsiWrite10(h, 0, kBlock, Buffer().data(), kTransferBytes / kBlock) != KT62_OK)
            state.SkipWithError("write failed");
    state.SetBytesProcessed(state.iterations() * int64_t{kTransferBytes});
}
BENCHMARK(BM_Write10_32MiB)->Arg(0)->Arg(64 << 10)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Read10_32MiB(benchmark::State& state) {
    KT62_HANDLE h = Handle();
    kt62SetPacketSize(static_cast<uint32_t>(state.range(0)));
    for (auto _ : state)
        if (kt62ScsiRead10(h, 0, kBlock, Buffer().data(), kTransferBytes / kBlock) != KT62_OK)
            state.SkipWithError("read failed");
    state.SetBytesProcessed(state.iterations() * int64_t{kTransferBytes});
}
BENCHMARK(BM_Read10_32MiB)->Arg(0)->Arg(64 << 10)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the transfers are measured against: dd copying a 32 MiB file beside the unit's data.
void BM_Dd_32MiB(benchmark::State& state) {
    const std::string src = Dir().Path() + "/dd-in.bin";
    const std::string dst = Dir().Path() + "/dd-out.bin";
    {
        std::FILE* f = std::fopen(src.c_str(), "wb");
        if (!f || std::fwrite(Buffer().data(), 1, Buffer().size(), f) != Buffer().size()) std::abort();
        if (std::fclose(f) != 0) std::abort();
    }
    const std::string cmd = "dd if=" + src + " of=" + dst + " bs=32M status=none";
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("dd failed");
    state.SetBytesProcessed(state.iterations() * int64_t{kTransferBytes});
}
BENCHMARK(BM_Dd_32MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each run's time per iteration so that the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                seconds_[r.benchmark_name()] = r.real_accumulated_time / static_cast<double>(r.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        const auto dd = seconds_.find("BM_Dd_32MiB/real_time");
        for (const auto& [name, s] : seconds_) {
            if (name.rfind("BM_Read10", 0) == 0 || name.rfind("BM_Write10", 0) == 0) {
                if (dd != seconds_.end())
                    std::printf("%-34s %7.1f MB/s  %5.2f x dd (target >= 0.80)\n", name.c_str(),
                                kTransferBytes / s / 1e6, dd->second / s);
            } else if (name != "BM_Dd_32MiB/real_time") {
                std::printf("%-34s %7.2f million requests/s (target >= 1.00)\n", name.c_str(), 1e-6 / s);
            }
        }
        if (dd != seconds_.end())
            std::printf("%-34s %7.1f MB/s\n", "dd bs=32M (file copy)", kTransferBytes / dd->second / 1e6);
    }

private:
    std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    reporter.PrintRatios();
    kt62Close(Handle());
    benchmark::Shutdown();
    return 0;
}
