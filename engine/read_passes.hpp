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
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace tarvelle {

template <class Sample> using ThreadWork = std::vector<Analysis<Sample>*>;

// What a read's ring reads: a file of a known length, as often as asked, or a
// stream, once to its end.
struct RingInput {
    std::uint64_t totalBytes = 0; // a file's
    std::size_t frameBytes = 1;
    BlockRing::MakeLoader makeLoader;
    BlockRing::StreamLoader stream; // where set, read instead of the file

    std::unique_ptr<BlockRing> ring() const
    {
        return stream ? std::make_unique<BlockRing>(frameBytes, maxReadThreads, stream)
                      : std::make_unique<BlockRing>(totalBytes, frameBytes, maxReadThreads, makeLoader());
    }
};

template <class Sample> std::span<const Sample> samplesOf(std::span<const std::uint8_t> block)
{
    return {reinterpret_cast<const Sample*>(block.data()), block.size() / sizeof(Sample)};
}

// Hands every block of the ring in order to each analysis of a thread, as the
// ring's reader number reader, until the last or until the ring stops.
template <class Sample> void workThrough(BlockRing& ring, std::size_t reader, const ThreadWork<Sample>& analyses)
{
    for (std::size_t index = 0;; ++index) {
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
            ring.leave(1);
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

// One read through the ring, in order, by both threads' analyses; bytesRead,
// where given, is told how many it read.
template <class Sample>
std::optional<JobError> readThrough(const RingInput& input, const ThreadWork<Sample>& first,
                                    const ThreadWork<Sample>& second, std::uint64_t* bytesRead = nullptr)
{
    const std::unique_ptr<BlockRing> ring = input.ring();
    runRead(*ring, first, second);
    if (ring->readFailed()) {
        return JobError(JobError::Kind::ReadError, ring->readFailure());
    }
    if (bytesRead != nullptr) {
        *bytesRead = ring->bytesRead();
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

// The first read: the peak alone in halves (of a file), or with the analyses
// that do not need it, thread 0's taking the peak too.
template <class Sample>
std::variant<typename SampleKernel<Sample>::Peak, JobError>
readForPeak(const RingInput& input, ThreadWork<Sample> first, const ThreadWork<Sample>& second,
            std::uint64_t* bytesRead = nullptr)
{
    if (first.empty() && second.empty() && !input.stream) {
        return peakInHalves<Sample>(input.makeLoader, input.totalBytes, input.frameBytes);
    }
    PeakAnalysis<Sample> peak;
    first.insert(first.begin(), &peak);
    if (std::optional<JobError> failure = readThrough(input, first, second, bytesRead)) {
        return std::move(*failure);
    }
    return peak.peak();
}

// The second read, thread 0 taking the peak again: a file changed between
// the two reads would be counted against the wrong peak.
template <class Sample>
std::optional<JobError> readAgain(const RingInput& input, const typename SampleKernel<Sample>::Peak& peak,
                                  ThreadWork<Sample> first, const ThreadWork<Sample>& second)
{
    PeakAnalysis<Sample> peakAgain;
    first.insert(first.begin(), &peakAgain);
    if (std::optional<JobError> failure = readThrough(input, first, second)) {
        return failure;
    }
    if (!(peakAgain.peak() == peak)) {
        return JobError(JobError::Kind::Changed);
    }
    return std::nullopt;
}

} // namespace tarvelle
