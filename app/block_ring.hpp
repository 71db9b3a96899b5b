// The input read ahead on a thread of its own into a ring of block buffers,
// each block handed in order to every reader of the pass (the counting on
// this thread, the writing of some levels on another) and refilled once all
// of them are done with it.
#pragma once

#include "platform/file_access.hpp"
#include "wav/wave_header.hpp"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace tarvelle {

class BlockRing {
public:
    // Samples a block holds: a whole number of frames.
    static constexpr std::size_t blockSamples = std::size_t{1} << 18;
    static constexpr std::size_t bufferCount = 4;

    // Reads the samples of the header's data chunk for readerCount readers,
    // ahead on a thread of its own where one can be had; else (readsAhead
    // false) for one reader only, each block when it is asked for.
    BlockRing(const FileHandle& input, const WaveHeaderInfo& header, std::size_t readerCount);
    BlockRing(const BlockRing&) = delete;
    BlockRing& operator=(const BlockRing&) = delete;
    ~BlockRing(); // stops the reading and waits for its thread

    std::size_t blockCount() const { return blockCount_; }
    bool readsAhead() const;

    // Block index for one reader; none once the ring is stopped or the file
    // could not be read (readFailed tells which). The block stays as it is
    // until that reader calls done(index).
    std::optional<std::span<const std::int16_t>> block(std::size_t index);
    void done(std::size_t reader, std::size_t index);

    // Every reader's waits end, with no block.
    void stop();
    bool readFailed();

private:
    void readBlocks();
    std::size_t freedCount() const; // blocks every reader is done with

    const FileHandle& input_;
    const WaveHeaderInfo& header_;
    std::size_t sampleCount_;
    std::size_t blockCount_;
    std::vector<std::vector<std::int16_t>> buffers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t filledCount_ = 0;
    std::vector<std::size_t> doneCounts_; // per reader
    bool stopped_ = false;
    bool readFailed_ = false;
    std::thread thread_; // last: starts once the rest is ready
};

} // namespace tarvelle
