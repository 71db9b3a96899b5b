// The reads' passes over a file: the blocks of a ring handed in order to
// each thread's analyses, the peak read in halves when it is read alone.
#pragma once

#include "analysis/peak.hpp"
#include "engine/analysis.hpp"
#include "engine/block_ring.hpp"
#include "engine/job_error.hpp"
#include "engine/scheduler.hpp"
#include "engine/thread_pool.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace tarvelle {

template <class Sample> using ThreadWork = std::vector<Analysis<Sample>*>;

template <class Sample> std::span<const Sample> samplesOf(std::span<const std::uint8_t> block)
{
    return {reinterpret_cast<const Sample*>(block.data()), block.size() / sizeof(Sample)};
}

// Hands every block of the ring in order to each analysis of a thread, as the
// ring's reader number reader, until the last or until the ring stops.
template <class Sample> void workThrough(BlockRing& ring, std::size_t reader, const ThreadWork<Sample>& analyses)
{
    for (std::size_t index = 0; index < ring.blockCount(); ++index) {
        const std::optional<std::span<const std::uint8_t>> block = ring.block(index);
        if (!block) {
            return;
        }
        for (Analysis<Sample>* analysis : analyses) {
            analysis->add(samplesOf<Sample>(*block));
        }
        ring.done(reader, index);
    }
}

// Both threads' analyses over the ring's blocks; without a second thread (a
// process limit), this one runs them all.
template <class Sample> void runRead(BlockRing& ring, ThreadWork<Sample> first, const ThreadWork<Sample>& second)
{
    ThreadPool background(ring.readsAhead() && !second.empty() ? 1 : 0, 1);
    if (background.threadCount() == 0) {
        first.insert(first.end(), second.begin(), second.end());
        if (ring.readsAhead()) {
            ring.done(1, ring.blockCount());
        }
    } else {
        background.submit([&] {
            try {
                workThrough(ring, 1, second);
            } catch (...) {
                ring.stop(); // the other thread must not wait for a block never freed
                throw;
            }
        });
    }
    try {
        workThrough(ring, 0, first);
    } catch (...) {
        ring.stop();
        throw;
    }
    background.finish();
}

// One read through the ring, in order, by both threads' analyses.
template <class Sample>
std::optional<JobError> readThrough(const BlockRing::MakeLoader& makeLoader, std::uint64_t totalBytes,
                                    std::size_t frameBytes, const ThreadWork<Sample>& first,
                                    const ThreadWork<Sample>& second)
{
    BlockRing ring(totalBytes, frameBytes, maxReadThreads, makeLoader());
    runRead(ring, first, second);
    if (ring.readFailed()) {
        return JobError(JobError::Kind::ReadError, ring.readFailure());
    }
    return std::nullopt;
}

// The peak alone: half the file on each thread, in no order.
template <class Sample>
std::variant<typename SampleKernel<Sample>::Peak, JobError>
peakInHalves(const BlockRing::MakeLoader& makeLoader, std::uint64_t totalBytes, std::size_t frameBytes)
{
    std::array<typename SampleKernel<Sample>::Peak, 2> halves;
    if (std::optional<std::string> failure = readInHalves(
            totalBytes, frameBytes, makeLoader,
            [&](int half, std::uint64_t firstByte, std::span<const std::uint8_t> block) {
                halves[static_cast<std::size_t>(half)].take(samplesOf<Sample>(block), firstByte / sizeof(Sample));
            })) {
        return JobError(JobError::Kind::ReadError, std::move(*failure));
    }
    halves[0].merge(halves[1]);
    return halves[0];
}

template <class Sample> std::vector<AnalysisCost> costsOf(const std::vector<PickedAnalysis<Sample>>& analyses)
{
    std::vector<AnalysisCost> costs;
    for (const PickedAnalysis<Sample>& picked : analyses) {
        costs.push_back({picked.needsPeak, picked.cost});
    }
    return costs;
}

// The first read: the peak alone in halves, or with the analyses that do not
// need it, thread 0's taking the peak too.
template <class Sample>
std::variant<typename SampleKernel<Sample>::Peak, JobError>
readForPeak(const BlockRing::MakeLoader& makeLoader, std::uint64_t totalBytes, std::size_t frameBytes,
            ThreadWork<Sample> first, const ThreadWork<Sample>& second)
{
    if (first.empty() && second.empty()) {
        return peakInHalves<Sample>(makeLoader, totalBytes, frameBytes);
    }
    PeakAnalysis<Sample> peak;
    first.insert(first.begin(), &peak);
    if (std::optional<JobError> failure = readThrough(makeLoader, totalBytes, frameBytes, first, second)) {
        return std::move(*failure);
    }
    return peak.peak();
}

// The second read, thread 0 taking the peak again: a file changed between
// the two reads would be counted against the wrong peak.
template <class Sample>
std::optional<JobError> readAgain(const BlockRing::MakeLoader& makeLoader, std::uint64_t totalBytes,
                                  std::size_t frameBytes, const typename SampleKernel<Sample>::Peak& peak,
                                  ThreadWork<Sample> first, const ThreadWork<Sample>& second)
{
    PeakAnalysis<Sample> peakAgain;
    first.insert(first.begin(), &peakAgain);
    if (std::optional<JobError> failure = readThrough(makeLoader, totalBytes, frameBytes, first, second)) {
        return failure;
    }
    if (!(peakAgain.peak() == peak)) {
        return JobError(JobError::Kind::Changed);
    }
    return std::nullopt;
}

} // namespace tarvelle
