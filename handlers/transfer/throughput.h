// The throughput line a transfer appends after every chunk.
#pragma once

#include <cstdint>
#include <string>

namespace kt {

// Elapsed milliseconds between two performance-counter readings.
std::uint32_t ElapsedMs(std::int64_t start, std::int64_t now, std::int64_t frequency);
// "Takes S.MMMs to trans NMB(R.RRRMB/Sec)"; a rate measured over 0 ms reads 0.000.
std::string ThroughputText(std::uint32_t ms, std::uint32_t total_mb);

}  // namespace kt
