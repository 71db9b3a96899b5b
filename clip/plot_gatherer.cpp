#include "clip/plot_gatherer.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <stdexcept>

namespace tarvelle {

namespace {

// Frames checked at once for clipping: small enough to stay in the first-level
// cache for the sample-by-sample pass that follows when they hold any.
constexpr std::uint64_t chunkFrames = 1024;

// The lowest and highest sample of each channel in count interleaved samples
// that begin with a whole frame. Eight running extremes, not one per channel,
// so that the compiler can keep several in flight and in vector registers.
template <class Sample, std::size_t lanes = 8>
void foldEnvelope(const Sample* samples, std::size_t count, std::size_t channels, Sample* lows, Sample* highs)
{
    std::size_t index = 0;
    if (lanes % channels == 0) {
        Sample low[lanes];
        Sample high[lanes];
        std::fill_n(low, lanes, std::numeric_limits<Sample>::max());
        std::fill_n(high, lanes, std::numeric_limits<Sample>::lowest());
        for (; index + lanes <= count; index += lanes) {
            for (std::size_t lane = 0; lane < lanes; ++lane) {
                const Sample sample = samples[index + lane];
                low[lane] = sample < low[lane] ? sample : low[lane];
                high[lane] = sample > high[lane] ? sample : high[lane];
            }
        }
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            lows[lane % channels] = std::min(lows[lane % channels], low[lane]);
            highs[lane % channels] = std::max(highs[lane % channels], high[lane]);
        }
    }
    for (; index < count; ++index) {
        lows[index % channels] = std::min(lows[index % channels], samples[index]);
        highs[index % channels] = std::max(highs[index % channels], samples[index]);
    }
}

// levels[i]: at how many of the Levels lowest thresholds (ascending) sample i
// clips. Summed in doubles, which the compiler vectorises where it cannot for
// integers.
template <std::size_t Levels>
void countLevels(const double* samples, std::size_t count, const std::array<double, clipLevelCount>& thresholds,
                 std::uint8_t* levels)
{
    std::array<double, Levels> lowest{};
    std::copy_n(thresholds.begin(), Levels, lowest.begin());
    for (std::size_t index = 0; index < count; ++index) {
        const double magnitude = std::fabs(samples[index]);
        double clipped = 0;
        for (const double threshold : lowest) {
            clipped += magnitude > threshold ? 1.0 : 0.0;
        }
        levels[index] = static_cast<std::uint8_t>(static_cast<std::int32_t>(clipped));
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
    // The levels are sorted by threshold, which needs numbers.
    if (std::any_of(thresholds.begin(), thresholds.end(),
                    [](double threshold) { return std::isnan(threshold); })) {
        throw std::invalid_argument("a threshold is not a number");
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
                     [&](std::size_t a, std::size_t b) { return thresholds[a] < thresholds[b]; });
    for (std::size_t rank = 0; rank < clipLevelCount; ++rank) {
        sortedThresholds_[rank] = thresholds[levelsByThreshold_[rank]];
    }
    columnEnd_ = data_.columnStartFrame[1];
    previousClippedLevels_.assign(static_cast<std::size_t>(channels), 0);
    chunkLows_.resize(static_cast<std::size_t>(channels));
    chunkHighs_.resize(static_cast<std::size_t>(channels));
    chunkClippedLevels_.resize((chunkFrames + 1) * static_cast<std::size_t>(channels));
    columnFirstClipped_.fill(std::numeric_limits<std::uint64_t>::max());
}

void PlotGatherer::addFrames(std::span<const double> interleaved)
{
    if (finished_) {
        throw std::logic_error("the plot is finished");
    }
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

void PlotGatherer::addEnvelope(std::span<const std::int16_t> interleaved)
{
    if (finished_ || !levelsFromRuns_) {
        throw std::logic_error("the plot takes no envelope alone");
    }
    const auto channels = static_cast<std::size_t>(data_.channelCount);
    if (interleaved.size() % channels != 0) {
        throw std::invalid_argument("samples must come in whole frames");
    }
    const auto columns = static_cast<std::size_t>(data_.columnCount);
    std::vector<std::int16_t> lows(channels);
    std::vector<std::int16_t> highs(channels);
    const std::int16_t* samples = interleaved.data();
    std::uint64_t frames = std::min<std::uint64_t>(interleaved.size() / channels, data_.totalFrames - nextFrame_);
    while (frames > 0) {
        const std::uint64_t segment = std::min(frames, columnEnd_ - nextFrame_);
        std::fill(lows.begin(), lows.end(), std::numeric_limits<std::int16_t>::max());
        std::fill(highs.begin(), highs.end(), std::numeric_limits<std::int16_t>::lowest());
        foldEnvelope<std::int16_t, 16>(samples, segment * channels, channels, lows.data(), highs.data());
        for (std::size_t channel = 0; channel < channels; ++channel) {
            const std::size_t cell = channel * columns + static_cast<std::size_t>(column_);
            data_.minimum[cell] = std::min<double>(data_.minimum[cell], lows[channel]);
            data_.maximum[cell] = std::max<double>(data_.maximum[cell], highs[channel]);
        }
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
    closeColumn(nextFrame_);
    ++column_;
    columnEnd_ = data_.columnStartFrame[static_cast<std::size_t>(column_) + 1];
}

// Frames within the current column.
void PlotGatherer::addSegment(const double* samples, std::uint64_t firstFrame, std::uint64_t frames)
{
    const auto channels = static_cast<std::size_t>(data_.channelCount);
    const auto columns = static_cast<std::size_t>(data_.columnCount);
    const auto column = static_cast<std::size_t>(column_);
    const double lowestThreshold = sortedThresholds_[0];
    for (std::uint64_t done = 0; done < frames;) {
        const std::uint64_t count = std::min(chunkFrames, frames - done);
        const double* chunk = samples + done * channels;
        std::fill(chunkLows_.begin(), chunkLows_.end(), std::numeric_limits<double>::infinity());
        std::fill(chunkHighs_.begin(), chunkHighs_.end(), -std::numeric_limits<double>::infinity());
        foldEnvelope(chunk, count * channels, channels, chunkLows_.data(), chunkHighs_.data());
        bool anyClipped = false;
        for (std::size_t channel = 0; channel < channels; ++channel) {
            double& minimum = data_.minimum[channel * columns + column];
            double& maximum = data_.maximum[channel * columns + column];
            minimum = std::min(minimum, chunkLows_[channel]);
            maximum = std::max(maximum, chunkHighs_[channel]);
            anyClipped =
                anyClipped || chunkHighs_[channel] > lowestThreshold || -chunkLows_[channel] > lowestThreshold;
        }
        if (levelsFromRuns_) {
            // The levels come run by run.
        } else if (anyClipped) {
            addClippingSamples(chunk, firstFrame + done, count);
        } else {
            // Every run still open ends at the chunk's first frame.
            for (std::uint8_t& previous : previousClippedLevels_) {
                changeClippedLevels(previous, 0, firstFrame + done);
            }
        }
        done += count;
    }
}

void PlotGatherer::addClippingSamples(const double* samples, std::uint64_t firstFrame, std::uint64_t frames)
{
    const auto channels = static_cast<std::size_t>(data_.channelCount);
    const std::size_t count = frames * channels;
    // levels[i] is how many levels sample i clips at, lowest threshold first (a
    // sample over one threshold is over every lower one as well); the frame
    // before the chunk goes first, so each sample has its predecessor
    // `channels` bytes before it.
    std::uint8_t* levels = chunkClippedLevels_.data();
    std::copy(previousClippedLevels_.begin(), previousClippedLevels_.end(), levels);
    levels += channels;
    // Only the levels whose thresholds the chunk's extremes pass can clip in it.
    const double largest = std::max(-*std::min_element(chunkLows_.begin(), chunkLows_.end()),
                                    *std::max_element(chunkHighs_.begin(), chunkHighs_.end()));
    const auto reached = static_cast<std::size_t>(
        std::upper_bound(sortedThresholds_.begin(), sortedThresholds_.end(), largest, std::less_equal<>()) -
        sortedThresholds_.begin());
    switch (reached) {
    case 1:
        countLevels<1>(samples, count, sortedThresholds_, levels);
        break;
    case 2:
        countLevels<2>(samples, count, sortedThresholds_, levels);
        break;
    case 3:
        countLevels<3>(samples, count, sortedThresholds_, levels);
        break;
    case 4:
        countLevels<4>(samples, count, sortedThresholds_, levels);
        break;
    case 5:
        countLevels<5>(samples, count, sortedThresholds_, levels);
        break;
    default:
        countLevels<clipLevelCount>(samples, count, sortedThresholds_, levels);
        break;
    }
    if (channels == 2) {
        visitChanges<2>(levels, count, firstFrame);
    } else {
        visitChanges<0>(levels, count, firstFrame);
    }
}

// Runs begin and end only where a sample's count of levels differs from its
// predecessor's: eight samples are compared at once, and only those that
// differ are visited, in order. FixedChannels, where not 0, saves divisions in
// the common case.
template <std::size_t FixedChannels>
void PlotGatherer::visitChanges(const std::uint8_t* levels, std::size_t count, std::uint64_t firstFrame)
{
    const std::size_t channels = FixedChannels != 0 ? FixedChannels : previousClippedLevels_.size();
    std::size_t index = 0;
    for (; index + 8 <= count; index += 8) {
        std::uint64_t now = 0;
        std::uint64_t before = 0;
        std::memcpy(&now, levels + index, sizeof now);
        std::memcpy(&before, levels + index - channels, sizeof before);
        for (std::uint64_t differ = now ^ before; differ != 0;) {
            const int bit = std::endian::native == std::endian::little ? std::countr_zero(differ)
                                                                       : 63 - std::countl_zero(differ);
            differ &= ~(std::uint64_t{0xFF} << (bit / 8 * 8));
            const std::size_t offset =
                index +
                static_cast<std::size_t>(std::endian::native == std::endian::little ? bit / 8 : 7 - bit / 8);
            changeClippedLevels(previousClippedLevels_[offset % channels], levels[offset],
                                firstFrame + offset / channels);
        }
    }
    for (; index < count; ++index) {
        if (levels[index] != levels[index - channels]) {
            changeClippedLevels(previousClippedLevels_[index % channels], levels[index],
                                firstFrame + index / channels);
        }
    }
}

// A channel clips at `levels` levels (lowest threshold first) from frame on,
// where it clipped at `previous` before. A run adds its length to its column's
// count as its end minus its start, each taken when it comes (in unsigned
// arithmetic, so the start may be taken away first).
void PlotGatherer::changeClippedLevels(std::uint8_t& previous, std::size_t levels, std::uint64_t frame)
{
    for (std::size_t rank = previous; rank < levels; ++rank) {
        ++columnEventStarts_[rank];
        columnFirstClipped_[rank] = std::min(columnFirstClipped_[rank], frame);
        columnClippedSamples_[rank] -= frame;
    }
    for (std::size_t rank = levels; rank < previous; ++rank) {
        columnEndClipped_[rank] = std::max(columnEndClipped_[rank], frame);
        columnClippedSamples_[rank] += frame;
    }
    previous = static_cast<std::uint8_t>(levels);
}

// The current column's clipping into data_, with the runs still open ending
// at frame; they go on from there in the next column, if any, without
// counting as new events.
void PlotGatherer::closeColumn(std::uint64_t frame)
{
    const auto column = static_cast<std::size_t>(column_);
    for (const std::uint8_t previous : previousClippedLevels_) {
        for (std::size_t rank = 0; rank < previous; ++rank) {
            columnEndClipped_[rank] = frame;
            columnClippedSamples_[rank] += frame;
        }
    }
    for (std::size_t rank = 0; rank < clipLevelCount && !levelsFromRuns_; ++rank) {
        PlotClipping& level = data_.levels[levelsByThreshold_[rank]];
        level.clippedSamples[column] = columnClippedSamples_[rank];
        level.eventStarts[column] = columnEventStarts_[rank];
        if (columnClippedSamples_[rank] != 0) {
            level.firstClippedFrame[column] = columnFirstClipped_[rank];
            level.endClippedFrame[column] = columnEndClipped_[rank];
        }
    }
    columnClippedSamples_.fill(0);
    columnEventStarts_.fill(0);
    columnFirstClipped_.fill(std::numeric_limits<std::uint64_t>::max());
    columnEndClipped_.fill(0);
    for (const std::uint8_t previous : previousClippedLevels_) {
        for (std::size_t rank = 0; rank < previous; ++rank) {
            columnFirstClipped_[rank] = frame;
            columnClippedSamples_[rank] -= frame;
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
    if (finished_) {
        throw std::logic_error("the plot is finished");
    }
    data_.hasExistingClipping = true;
    markRun(data_.existing, columnHints_.back(), channel, startFrame, length);
}

void PlotGatherer::takeLevelsFromRuns()
{
    levelsFromRuns_ = true;
}

void PlotGatherer::showExistingClipping()
{
    data_.hasExistingClipping = true;
}

void PlotGatherer::addLevelRun(int clipLevel, int channel, std::uint64_t startFrame, std::uint64_t length)
{
    if (finished_ || !levelsFromRuns_) {
        throw std::logic_error("the plot takes no runs of levels");
    }
    if (clipLevel < 0 || clipLevel >= clipLevelCount) {
        throw std::invalid_argument("no such level");
    }
    const auto level = static_cast<std::size_t>(clipLevel);
    markRun(data_.levels[level], columnHints_[level], channel, startFrame, length);
}

// Each column the run covers, counting the event in the column it starts in.
void PlotGatherer::markRun(PlotClipping& clipping, std::size_t& columnHint, int channel, std::uint64_t startFrame,
                           std::uint64_t length) const
{
    if (channel < 0 || channel >= data_.channelCount) {
        throw std::invalid_argument("no such channel");
    }
    if (startFrame >= data_.totalFrames || length == 0) {
        return;
    }
    const std::uint64_t end = startFrame + std::min(length, data_.totalFrames - startFrame);
    const auto& starts = data_.columnStartFrame;
    // Runs come nearly in order: most start in the column the last one did.
    std::size_t column = columnHint;
    if (startFrame < starts[column] || startFrame >= starts[column + 1]) {
        column = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), startFrame) -
                                          starts.begin() - 1);
    }
    columnHint = column;
    for (std::uint64_t frame = startFrame; frame < end; ++column) {
        const std::uint64_t stop = std::min(end, starts[column + 1]);
        mark(clipping, column, frame, stop - frame, frame == startFrame);
        frame = stop;
    }
}

PlotData PlotGatherer::finish()
{
    if (finished_) {
        throw std::logic_error("the plot is finished");
    }
    finished_ = true;
    closeColumn(nextFrame_);
    return std::move(data_);
}

} // namespace tarvelle
