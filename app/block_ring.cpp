#include "app/block_ring.hpp"

#include "wav/samples.hpp"

#include <algorithm>
#include <system_error>

namespace tarvelle {

BlockRing::BlockRing(const FileHandle& input, const WaveHeaderInfo& header, std::size_t readerCount)
    : input_(input), header_(header), sampleCount_(2 * static_cast<std::size_t>(std::max(header.samplesPerChannel, 0))),
      blockCount_((sampleCount_ + blockSamples - 1) / blockSamples),
      buffers_(std::min(bufferCount, blockCount_), std::vector<std::int16_t>(std::min(blockSamples, sampleCount_))),
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
        const std::size_t first = index * blockSamples;
        const std::span<std::int16_t> buffer(buffers_[index % buffers_.size()].data(),
                                             std::min(blockSamples, sampleCount_ - first));
        const bool read = loadSamples(input_, header_, first, buffer) == LoadResult::Loaded;
        {
            const std::lock_guard lock(mutex_);
            if (read) {
                ++filledCount_;
            } else {
                readFailed_ = stopped_ = true;
            }
        }
        changed_.notify_all();
        if (!read) {
            return;
        }
    }
}

std::optional<std::span<const std::int16_t>> BlockRing::block(std::size_t index)
{
    if (!readsAhead()) {
        const std::size_t first = index * blockSamples;
        const std::span<std::int16_t> buffer(buffers_[0].data(), std::min(blockSamples, sampleCount_ - first));
        if (loadSamples(input_, header_, first, buffer) != LoadResult::Loaded) {
            readFailed_ = true;
            return std::nullopt;
        }
        return buffer;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || index < filledCount_; });
    if (stopped_) {
        return std::nullopt;
    }
    const std::size_t first = index * blockSamples;
    return std::span<const std::int16_t>(buffers_[index % buffers_.size()].data(),
                                         std::min(blockSamples, sampleCount_ - first));
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

} // namespace tarvelle
