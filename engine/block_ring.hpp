// The source of a read: the input read ahead on a thread of its own into a
// ring of block buffers, each block decoded once and handed in order to every
// reader of the read (one per thread) and refilled once all of them are done
// with it. The input is a file of a known length, or a stream read once to an
// end found only when it comes.
#pragma once

#include "engine/thread_pool.hpp"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace tarvelle {

class BlockRing {
public:
    // About 512 KiB a block, a whole number of frames of any format; small
    // enough to stay in the cache between the read, the count and the clips.
    static constexpr std::size_t targetBlockBytes = std::size_t{1} << 19;
    static constexpr std::size_t bufferCount = 4;

    // Fills bytes with the data from firstByte on, as the readers take it
    // (decoded, where the file's samples are not). Nothing when it did, else
    // why not: the system's words, or "" for a file that ended early.
    using Loader =
        std::function<std::optional<std::string>(std::uint64_t firstByte, std::span<std::uint8_t> bytes)>;
    // A loader for each thread that loads at once.
    using MakeLoader = std::function<Loader()>;
    // Fills bytes with the stream's next data: how many it filled, fewer only
    // at the end, or why it could not.
    using StreamLoader = std::function<std::variant<std::size_t, std::string>(std::span<std::uint8_t> bytes)>;

    // The bytes of a block: whole frames, about targetBlockBytes.
    static std::size_t blockBytesFor(std::size_t frameBytes);

    // totalBytes of data in blocks of frameBytes-sized frames, for readerCount
    // readers, read ahead on a thread of its own where one can be had; else
    // (readsAhead false) for one reader only, each block when it is asked for.
    // The buffers are aligned for doubles, so a block may be read as samples.
    BlockRing(std::uint64_t totalBytes, std::size_t frameBytes, std::size_t readerCount, Loader load);
    // A stream, in the same blocks; a part frame at its end is left out.
    BlockRing(std::size_t frameBytes, std::size_t readerCount, StreamLoader load);
    BlockRing(const BlockRing&) = delete;
    BlockRing& operator=(const BlockRing&) = delete;
    ~BlockRing(); // stops the reading and waits for its thread

    bool readsAhead() const;

    // Block index for one reader; none past the last, or once the ring is
    // stopped or the input could not be read (readFailed tells which). The
    // block stays as it is until that reader calls done(index).
    std::optional<std::span<const std::uint8_t>> block(std::size_t index);
    void done(std::size_t reader, std::size_t index);
    // That reader takes no more blocks.
    void leave(std::size_t reader);
    // The bytes of whole frames read, once the last block was handed out.
    std::uint64_t bytesRead();

    // Every reader's waits end, with no block.
    void stop();
    bool readFailed();
    // Why, in the system's words; empty when the file just ended early.
    std::string readFailure();

private:
    // Bytes filled, or why not.
    using Fill = std::function<std::variant<std::size_t, std::string>(std::uint64_t firstByte,
                                                                      std::span<std::uint8_t> bytes)>;
    BlockRing(std::uint64_t totalBytes, std::size_t frameBytes, std::size_t readerCount, Fill fill);

    void readBlocks();
    std::size_t freedCount() const; // blocks every reader is done with
    // Loads one block, ending the input at a short one; nothing, or why it
    // could not. Called under no lock: the block's buffer is the caller's.
    std::optional<std::string> load(std::size_t index);
    std::span<std::uint8_t> buffer(std::size_t index);

    std::uint64_t totalBytes_; // of a stream: as many as could be, until it ends
    std::size_t frameBytes_;
    std::size_t blockBytes_;
    Fill fill_;
    std::size_t blockCount_; // of a stream: the most there could be, until it ends
    std::vector<std::vector<double>> buffers_;
    std::vector<std::size_t> filledBytes_; // per buffer
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t filledCount_ = 0;
    std::vector<std::size_t> doneCounts_; // per reader
    bool stopped_ = false;
    bool readFailed_ = false;
    std::string readFailure_;
    std::exception_ptr loadError_; // what the loader threw on the reading thread
    ThreadPool reader_;            // last: starts once the rest is ready
};

// A read that needs no order, such as the one for the peak: the first half of
// the data on this thread and the second on another where one can be had,
// each read block by block into a buffer of its own by a loader of its own
// (makeLoader's). use(half, firstByte,
// bytes) is called with half 0 or 1, each half's blocks in order, the halves
// at once.
// Returns why a read failed (the system's words, or "" for a file that ended
// early), or nothing when every block was read.
std::optional<std::string>
readInHalves(std::uint64_t totalBytes, std::size_t frameBytes, const BlockRing::MakeLoader& makeLoader,
             const std::function<void(int half, std::uint64_t firstByte, std::span<const std::uint8_t>)>& use);

} // namespace tarvelle
