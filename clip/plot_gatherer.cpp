#include "clip/plot_gatherer.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>

namespace tarvelle {

namespace {

// Frames checked at once for clipping: small enough to stay in the first-level
// cache for the sample-by-sample pass that follows when they hold any.
constexpr std::uint64_t chunkFrames = 256;

// The envelope of one chunk, folded into lows and highs (one per channel). A
// fixed channel count lets the compiler keep the extremes in registers.
template <int FixedChannels>
void foldEnvelope(const double* samples, std::uint64_t frames, int channels, double* lows, double* highs)
{
    if constexpr (FixedChannels > 0) {
        double low[FixedChannels];
        double high[FixedChannels];
        std::copy_n(lows, FixedChannels, low);
        std::copy_n(highs, FixedChannels, high);
        for (std::uint64_t frame = 0; frame < frames; ++frame) {
            for (int channel = 0; channel < FixedChannels; ++channel) {
                const double sample = samples[frame * FixedChannels + static_cast<std::uint64_t>(channel)];
                low[channel] = sample < low[channel] ? sample : low[channel];
                high[channel] = sample > high[channel] ? sample : high[channel];
            }
        }
        std::copy_n(low, FixedChannels, lows);
        std::copy_n(high, FixedChannels, highs);
    } else {
        const auto width = static_cast<std::uint64_t>(channels);
        for (std::uint64_t frame = 0; frame < frames; ++frame) {
            for (std::uint64_t channel = 0; channel < width; ++channel) {
                const double sample = samples[frame * width + channel];
                lows[channel] = std::min(lows[channel], sample);
                highs[channel] = std::max(highs[channel], sample);
            }
        }
    }
}

// The first frame of each column and, last, the total: column c starts at
// floor(c * total / columns), computed without overflowing.
std::vector<std::uint64_t> columnStarts(std::uint64_t totalFrames, int columnCount)
{
    const auto columns = static_cast<std::uint64_t>(columnCount);
    const std::uint64_t whole = totalFrames / columns;
    const std::uint64_t rest = totalFrames % columns;
    std::vector<std::uint64_t> starts(columns + 1);
    for (std::uint64_t column = 0; column <= columns; ++column) {
        starts[column] = whole * column + rest * column / columns;
    }
    return starts;
}

PlotClipping emptyClipping(int columnCount)
{
    const auto columns = static_cast<std::size_t>(columnCount);
    return {std::vector<std::uint64_t>(columns), std::vector<std::uint64_t>(columns),
            std::vector<std::uint64_t>(columns), std::vector<std::uint64_t>(columns)};
}

} // namespace

PlotGatherer::PlotGatherer(int channels, std::uint64_t totalFrames, std::array<double, clipLevelCount> thresholds,
                           int columns)
{
    if (channels < 1 || columns < 1) {
        throw std::invalid_argument("a plot needs at least one channel and one column");
    }
    data_.channelCount = channels;
    data_.columnCount =
        static_cast<int>(std::clamp<std::uint64_t>(totalFrames, 1, static_cast<std::uint64_t>(columns)));
    data_.totalFrames = totalFrames;
    data_.thresholds = thresholds;
    data_.columnStartFrame = columnStarts(totalFrames, data_.columnCount);
    const auto cells = static_cast<std::size_t>(channels) * static_cast<std::size_t>(data_.columnCount);
    data_.minimum.assign(cells, std::numeric_limits<double>::infinity());
    data_.maximum.assign(cells, -std::numeric_limits<double>::infinity());
    for (PlotClipping& level : data_.levels) {
        level = emptyClipping(data_.columnCount);
    }
    data_.existing = emptyClipping(data_.columnCount);

    std::iota(levelsByThreshold_.begin(), levelsByThreshold_.end(), 0);
    std::stable_sort(levelsByThreshold_.begin(), levelsByThreshold_.end(),
                     [&](int a, int b) { return thresholds[a] < thresholds[b]; });
    for (int rank = 0; rank < clipLevelCount; ++rank) {
        sortedThresholds_[rank] = thresholds[levelsByThreshold_[rank]];
    }
    columnEnd_ = data_.columnStartFrame[1];
    previousClippedLevels_.assign(static_cast<std::size_t>(channels), 0);
    chunkLows_.resize(static_cast<std::size_t>(channels));
    chunkHighs_.resize(static_cast<std::size_t>(channels));
}

void PlotGatherer::addFrames(std::span<const double> interleaved)
{
    const auto channels = static_cast<std::uint64_t>(data_.channelCount);
    if (interleaved.size() % channels != 0) {
        throw std::invalid_argument("samples must come in whole frames");
    }
    const double* samples = interleaved.data();
    std::uint64_t frames = std::min<std::uint64_t>(interleaved.size() / channels, data_.totalFrames - nextFrame_);
    while (frames > 0) {
        const std::uint64_t segment = std::min(frames, columnEnd_ - nextFrame_);
        addSegment(samples, nextFrame_, segment);
        samples += segment * channels;
        frames -= segment;
        nextFrame_ += segment;
        if (nextFrame_ == columnEnd_ && column_ + 1 < data_.columnCount) {
            beginNextColumn();
        }
    }
}

void PlotGatherer::beginNextColumn()
{
    ++column_;
    columnEnd_ = data_.columnStartFrame[static_cast<std::size_t>(column_) + 1];
}

// Frames within the current column.
void PlotGatherer::addSegment(const double* samples, std::uint64_t firstFrame, std::uint64_t frames)
{
    const int channels = data_.channelCount;
    std::vector<double>& lows = chunkLows_;
    std::vector<double>& highs = chunkHighs_;
    const double lowestThreshold = sortedThresholds_[0];
    for (std::uint64_t done = 0; done < frames;) {
        const std::uint64_t count = std::min(chunkFrames, frames - done);
        const double* chunk = samples + done * static_cast<std::uint64_t>(channels);
        std::fill(lows.begin(), lows.end(), std::numeric_limits<double>::infinity());
        std::fill(highs.begin(), highs.end(), -std::numeric_limits<double>::infinity());
        if (channels == 2) {
            foldEnvelope<2>(chunk, count, channels, lows.data(), highs.data());
        } else if (channels == 1) {
            foldEnvelope<1>(chunk, count, channels, lows.data(), highs.data());
        } else {
            foldEnvelope<0>(chunk, count, channels, lows.data(), highs.data());
        }
        bool anyClipped = false;
        for (int channel = 0; channel < channels; ++channel) {
            const std::size_t index =
                static_cast<std::size_t>(channel) * static_cast<std::size_t>(data_.columnCount) +
                static_cast<std::size_t>(column_);
            data_.minimum[index] = std::min(data_.minimum[index], lows[static_cast<std::size_t>(channel)]);
            data_.maximum[index] = std::max(data_.maximum[index], highs[static_cast<std::size_t>(channel)]);
            anyClipped = anyClipped || highs[static_cast<std::size_t>(channel)] > lowestThreshold ||
                         -lows[static_cast<std::size_t>(channel)] > lowestThreshold;
        }
        if (anyClipped) {
            addClippingSamples(chunk, firstFrame + done, count);
        } else {
            // Every run open before the chunk ends in it.
            std::fill(previousClippedLevels_.begin(), previousClippedLevels_.end(), 0);
        }
        done += count;
    }
}

void PlotGatherer::addClippingSamples(const double* samples, std::uint64_t firstFrame, std::uint64_t frames)
{
    const auto channels = static_cast<std::size_t>(data_.channelCount);
    for (std::uint64_t frame = 0; frame < frames; ++frame) {
        for (std::size_t channel = 0; channel < channels; ++channel) {
            const double magnitude = std::fabs(samples[frame * channels + channel]);
            int clippedLevels = 0;
            while (clippedLevels < clipLevelCount && magnitude > sortedThresholds_[clippedLevels]) {
                ++clippedLevels;
            }
            int& previous = previousClippedLevels_[channel];
            for (int rank = 0; rank < clippedLevels; ++rank) {
                mark(data_.levels[levelsByThreshold_[rank]], static_cast<std::size_t>(column_), firstFrame + frame,
                     1, rank >= previous);
            }
            previous = clippedLevels;
        }
    }
}

void PlotGatherer::mark(PlotClipping& clipping, std::size_t column, std::uint64_t frame, std::uint64_t count,
                        bool startsEvent)
{
    if (clipping.clippedSamples[column] == 0) {
        clipping.firstClippedFrame[column] = frame;
        clipping.endClippedFrame[column] = frame + count;
    } else {
        clipping.firstClippedFrame[column] = std::min(clipping.firstClippedFrame[column], frame);
        clipping.endClippedFrame[column] = std::max(clipping.endClippedFrame[column], frame + count);
    }
    clipping.clippedSamples[column] += count;
    clipping.eventStarts[column] += startsEvent ? 1 : 0;
}

void PlotGatherer::addExistingRun(int channel, std::uint64_t startFrame, std::uint64_t length)
{
    if (channel < 0 || channel >= data_.channelCount) {
        throw std::invalid_argument("no such channel");
    }
    if (startFrame >= data_.totalFrames || length == 0) {
        return;
    }
    data_.hasExistingClipping = true;
    const std::uint64_t end = startFrame + std::min(length, data_.totalFrames - startFrame);
    const auto& starts = data_.columnStartFrame;
    auto column =
        static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), startFrame) - starts.begin() - 1);
    for (std::uint64_t frame = startFrame; frame < end; ++column) {
        const std::uint64_t stop = std::min(end, starts[column + 1]);
        mark(data_.existing, column, frame, stop - frame, frame == startFrame);
        frame = stop;
    }
}

PlotData PlotGatherer::finish()
{
    return std::move(data_);
}

} // namespace tarvelle
