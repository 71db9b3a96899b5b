#include "app/block_ring.hpp"

#include "platform/file_access.hpp"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <system_error>

namespace tarvelle {

BlockRing::BlockRing(std::uint64_t totalBytes, std::size_t frameBytes, std::size_t readerCount, Loader load)
    : totalBytes_(totalBytes), blockBytes_(std::max<std::size_t>(1, targetBlockBytes / frameBytes) * frameBytes),
      load_(std::move(load)), blockCount_(static_cast<std::size_t>((totalBytes + blockBytes_ - 1) / blockBytes_)),
      buffers_(std::min(bufferCount, blockCount_),
               std::vector<std::int16_t>((std::min<std::uint64_t>(blockBytes_, totalBytes) + 1) / 2)),
      doneCounts_(readerCount)
{
    try {
        thread_ = std::thread([this] { readBlocks(); });
    } catch (const std::system_error&) {
        // No thread to be had (a process or memory limit): each block is read
        // when it is asked for, by its one reader.
        doneCounts_.assign(1, 0);
    }
}

BlockRing::~BlockRing()
{
    stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool BlockRing::readsAhead() const
{
    return thread_.joinable();
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
            changed_.wait(lock, [&] { return stopped_ || index < freedCount() + buffers_.size(); });
            if (stopped_) {
                return;
            }
        }
        // The buffer is this thread's alone until filledCount_ passes it.
        errno = 0;
        const bool read = load_(index * std::uint64_t{blockBytes_}, buffer(index));
        const std::string failure = read || errno == 0 ? std::string() : lastFileErrorText();
        {
            const std::lock_guard lock(mutex_);
            if (read) {
                ++filledCount_;
            } else {
                readFailed_ = stopped_ = true;
                readFailure_ = failure;
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
    const std::uint64_t first = index * std::uint64_t{blockBytes_};
    return {reinterpret_cast<std::uint8_t*>(buffers_[index % buffers_.size()].data()),
            static_cast<std::size_t>(std::min<std::uint64_t>(blockBytes_, totalBytes_ - first))};
}

std::optional<std::span<const std::uint8_t>> BlockRing::block(std::size_t index)
{
    if (!readsAhead()) {
        errno = 0;
        if (!load_(index * std::uint64_t{blockBytes_}, buffer(index))) {
            readFailed_ = true;
            readFailure_ = errno == 0 ? std::string() : lastFileErrorText();
            return std::nullopt;
        }
        return buffer(index);
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || index < filledCount_; });
    if (stopped_) {
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
readInHalves(std::uint64_t totalBytes, std::size_t frameBytes, const BlockRing::Loader& load,
             const std::function<void(int half, std::uint64_t firstByte, std::span<const std::uint8_t>)>& use)
{
    const std::size_t blockBytes = std::max<std::size_t>(1, BlockRing::targetBlockBytes / frameBytes) * frameBytes;
    const std::uint64_t blockCount = (totalBytes + blockBytes - 1) / blockBytes;
    const std::uint64_t middle = (blockCount + 1) / 2 * blockBytes;
    const auto readHalf = [&](int half, std::uint64_t first, std::uint64_t last) -> std::optional<std::string> {
        std::vector<std::int16_t> buffer((std::min<std::uint64_t>(blockBytes, totalBytes) + 1) / 2);
        for (std::uint64_t at = first; at < last; at += blockBytes) {
            const std::span<std::uint8_t> bytes(
                reinterpret_cast<std::uint8_t*>(buffer.data()),
                static_cast<std::size_t>(std::min<std::uint64_t>(blockBytes, last - at)));
            errno = 0;
            if (!load(at, bytes)) {
                return errno == 0 ? std::string() : lastFileErrorText();
            }
            use(half, at, bytes);
        }
        return std::nullopt;
    };
    std::optional<std::string> secondFailure;
    std::exception_ptr secondError;
    std::thread second;
    const std::uint64_t split = std::min(middle, totalBytes);
    try {
        second = std::thread([&] {
            try {
                secondFailure = readHalf(1, split, totalBytes);
            } catch (...) {
                secondError = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        // No second thread: this one reads both halves.
    }
    std::optional<std::string> firstFailure;
    try {
        firstFailure = readHalf(0, 0, split);
    } catch (...) {
        if (second.joinable()) {
            second.join();
        }
        throw;
    }
    if (second.joinable()) {
        second.join();
    } else if (!firstFailure) {
        secondFailure = readHalf(1, split, totalBytes);
    }
    if (secondError) {
        std::rethrow_exception(secondError);
    }
    return firstFailure ? firstFailure : secondFailure;
}

} // namespace tarvelle
