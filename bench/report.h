// What the transfer benchmarks print: the median of the rounds, one line a measure.
#pragma once

#include <algorithm>
#include <cstdio>
#include <vector>

namespace kt::bench {

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// "  <what>  <seconds> s  <MiB/s> MiB/s" for `mib` moved in `seconds`.
inline void PrintRate(const char* what, double seconds, double mib, int width) {
    std::printf("  %-*s %7.3f s %8.1f MiB/s\n", width, what, seconds, mib / seconds);
}

}  // namespace kt::bench
