#include "handlers/transfer/throughput.h"

#include "common/text_format.h"

namespace kt {

std::uint32_t ElapsedMs(std::int64_t start, std::int64_t now, std::int64_t frequency) {
    if (frequency <= 0) return 0;
    return static_cast<std::uint32_t>((now - start) * 1000 / frequency);
}

std::string ThroughputText(std::uint32_t ms, std::uint32_t total_mb) {
    // A first chunk done within a millisecond has no measurable rate yet.
    const double rate = ms == 0 ? 0.0 : total_mb * 1000.0 / ms;
    return Format("Takes %u.%03us to trans %uMB(%.3lfMB/Sec)", ms / 1000, ms % 1000, total_mb, rate);
}

}  // namespace kt
