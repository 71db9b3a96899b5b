// Which thread runs which analysis in which read. The first read finds the
// peak; what does not need the peak may run beside it. The second read, when
// anything needs the peak, runs the rest. Each read lasts as long as its
// busiest thread, so the plan is the one that makes the two together shortest.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

namespace tarvelle {

struct AnalysisCost {
    bool needsPeak = false;
    double cost = 1.0; // per sample, the peak's being 1
};

constexpr std::size_t maxReadThreads = 2;

struct ReadPlan {
    // Per thread, the analyses (indices) each takes, in order.
    using Threads = std::array<std::vector<std::size_t>, maxReadThreads>;
    Threads firstRead; // besides the peak, which thread 0 takes
    Threads secondRead;
    bool secondReadNeeded = false;
};

// The first read alone (no analysis beside the peak) splits the peak over the
// threads; the second takes the peak again on thread 0, to see that the file
// did not change between the reads. Where fewer threads can be had, the read
// runs the threads' analyses on the ones it has.
ReadPlan planReads(std::span<const AnalysisCost> analyses);

} // namespace tarvelle
