#include "engine/block_ring.hpp"

#include <algorithm>
#include <exception>
#include <limits>

namespace tarvelle {

namespace {

// A buffer for blocks of blockBytes out of totalBytes, aligned for any sample.
std::vector<double> blockBuffer(std::size_t blockBytes, std::uint64_t totalBytes)
{
    return std::vector<double>((std::min<std::uint64_t>(blockBytes, totalBytes) + sizeof(double) - 1) /
                               sizeof(double));
}

std::span<std::uint8_t> bytesOf(std::vector<double>& buffer, std::uint64_t byteCount)
{
    return {reinterpret_cast<std::uint8_t*>(buffer.data()), static_cast<std::size_t>(byteCount)};
}

} // namespace

std::size_t BlockRing::blockBytesFor(std::size_t frameBytes)
{
    return std::max<std::size_t>(1, targetBlockBytes / frameBytes) * frameBytes;
}

BlockRing::BlockRing(std::uint64_t totalBytes, std::size_t frameBytes, std::size_t readerCount, Loader load)
    : BlockRing(totalBytes, frameBytes, readerCount,
                [load = std::move(load)](std::uint64_t firstByte,
                                         std::span<std::uint8_t> bytes) -> std::variant<std::size_t, std::string> {
                    if (std::optional<std::string> failure = load(firstByte, bytes)) {
                        return std::move(*failure);
                    }
                    return bytes.size();
                })
{
}

BlockRing::BlockRing(std::size_t frameBytes, std::size_t readerCount, StreamLoader load)
    : BlockRing(std::numeric_limits<std::uint64_t>::max(), frameBytes, readerCount,
                [load = std::move(load)](std::uint64_t, std::span<std::uint8_t> bytes) { return load(bytes); })
{
}

BlockRing::BlockRing(std::uint64_t totalBytes, std::size_t frameBytes, std::size_t readerCount, Fill fill)
    : totalBytes_(totalBytes), frameBytes_(frameBytes), blockBytes_(blockBytesFor(frameBytes)),
      fill_(std::move(fill)), blockCount_(static_cast<std::size_t>(std::min<std::uint64_t>(
                                  (totalBytes / blockBytes_) + (totalBytes % blockBytes_ != 0 ? 1 : 0),
                                  std::numeric_limits<std::size_t>::max()))),
      buffers_(std::min(bufferCount, blockCount_), blockBuffer(blockBytes_, totalBytes)),
      filledBytes_(buffers_.size()), doneCounts_(readerCount), reader_(1, 1)
{
    if (reader_.threadCount() == 0) {
        // No thread to be had (a process or memory limit): each block is read
        // when it is asked for, by its one reader.
        doneCounts_.assign(1, 0);
        return;
    }
    reader_.submit([this] {
        try {
            readBlocks();
        } catch (...) {
            // Passed on to the readers, whose waits end.
            {
                const std::lock_guard lock(mutex_);
                loadError_ = std::current_exception();
                readFailed_ = stopped_ = true;
            }
            changed_.notify_all();
        }
    });
}

BlockRing::~BlockRing()
{
    stop();
}

bool BlockRing::readsAhead() const
{
    return reader_.threadCount() != 0;
}

std::size_t BlockRing::freedCount() const
{
    return *std::min_element(doneCounts_.begin(), doneCounts_.end());
}

void BlockRing::readBlocks()
{
    for (std::size_t index = 0; index < blockCount_; ++index) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] {
                const std::size_t freed = freedCount();
                return stopped_ || index < freed || index - freed < buffers_.size();
            });
            if (stopped_) {
                return;
            }
        }
        // The buffer is this thread's alone until filledCount_ passes it.
        std::optional<std::string> failure = load(index);
        const bool read = !failure;
        {
            const std::lock_guard lock(mutex_);
            if (!read) {
                readFailed_ = stopped_ = true;
                readFailure_ = std::move(*failure);
            } else if (index < blockCount_) { // not a stream's empty end
                ++filledCount_;
            }
        }
        changed_.notify_all();
        if (!read) {
            return;
        }
    }
}

std::span<std::uint8_t> BlockRing::buffer(std::size_t index)
{
    const std::size_t slot = index % buffers_.size();
    return bytesOf(buffers_[slot], filledBytes_[slot]);
}

std::optional<std::string> BlockRing::load(std::size_t index)
{
    const std::uint64_t first = index * std::uint64_t{blockBytes_};
    const std::size_t slot = index % buffers_.size();
    const std::span<std::uint8_t> bytes =
        bytesOf(buffers_[slot], std::min<std::uint64_t>(blockBytes_, totalBytes_ - first));
    std::variant<std::size_t, std::string> filled = fill_(first, bytes);
    if (std::string* failure = std::get_if<std::string>(&filled)) {
        return std::move(*failure);
    }
    const std::size_t count = std::get<std::size_t>(filled) - std::get<std::size_t>(filled) % frameBytes_;
    filledBytes_[slot] = count;
    if (count < bytes.size()) {
        // Only a stream comes short: its end.
        const std::lock_guard lock(mutex_);
        blockCount_ = index + (count > 0 ? 1 : 0);
        totalBytes_ = first + count;
    }
    return std::nullopt;
}

std::optional<std::span<const std::uint8_t>> BlockRing::block(std::size_t index)
{
    if (!readsAhead()) {
        if (index >= blockCount_) {
            return std::nullopt;
        }
        if (std::optional<std::string> failure = load(index)) {
            readFailed_ = true;
            readFailure_ = std::move(*failure);
            return std::nullopt;
        }
        return index < blockCount_ ? std::optional(buffer(index)) : std::nullopt;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || index < filledCount_ || index >= blockCount_; });
    if (loadError_) {
        std::rethrow_exception(loadError_);
    }
    if (stopped_ || index >= blockCount_) {
        return std::nullopt;
    }
    return buffer(index);
}

void BlockRing::done(std::size_t reader, std::size_t index)
{
    {
        const std::lock_guard lock(mutex_);
        doneCounts_[reader] = index + 1;
    }
    changed_.notify_all();
}

void BlockRing::leave(std::size_t reader)
{
    done(reader, std::numeric_limits<std::size_t>::max() - 1);
}

std::uint64_t BlockRing::bytesRead()
{
    const std::lock_guard lock(mutex_);
    return totalBytes_;
}

void BlockRing::stop()
{
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

bool BlockRing::readFailed()
{
    const std::lock_guard lock(mutex_);
    return readFailed_;
}

std::string BlockRing::readFailure()
{
    const std::lock_guard lock(mutex_);
    return readFailure_;
}

std::optional<std::string>
readInHalves(std::uint64_t totalBytes, std::size_t frameBytes, const BlockRing::MakeLoader& makeLoader,
             const std::function<void(int half, std::uint64_t firstByte, std::span<const std::uint8_t>)>& use)
{
    const std::size_t blockBytes = BlockRing::blockBytesFor(frameBytes);
    const std::uint64_t blockCount = (totalBytes + blockBytes - 1) / blockBytes;
    const std::uint64_t split = std::min((blockCount + 1) / 2 * blockBytes, totalBytes);
    const auto readHalf = [&](int half, std::uint64_t first, std::uint64_t last) -> std::optional<std::string> {
        const BlockRing::Loader load = makeLoader();
        std::vector<double> buffer = blockBuffer(blockBytes, totalBytes);
        for (std::uint64_t at = first; at < last; at += blockBytes) {
            const std::span<std::uint8_t> bytes = bytesOf(buffer, std::min<std::uint64_t>(blockBytes, last - at));
            if (std::optional<std::string> failure = load(at, bytes)) {
                return failure;
            }
            use(half, at, bytes);
        }
        return std::nullopt;
    };
    std::optional<std::string> secondFailure;
    std::optional<std::string> firstFailure;
    {
        // Without a second thread, this one reads both halves.
        ThreadPool second(1, 1);
        second.submit([&] { secondFailure = readHalf(1, split, totalBytes); });
        firstFailure = readHalf(0, 0, split);
        second.finish();
    }
    return firstFailure ? firstFailure : secondFailure;
}

} // namespace tarvelle
