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

// Running extremes at once: more of the narrow samples fit a vector register.
template <class Sample> constexpr std::size_t lanesFor = std::is_same_v<Sample, std::int16_t> ? 16 : 8;

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

    columnEnd_ = data_.columnStartFrame[1];
}

void PlotGatherer::addFrames(std::span<const double> interleaved)
{
    addEnvelopeOf(interleaved);
}

void PlotGatherer::addEnvelope(std::span<const std::int16_t> interleaved)
{
    addEnvelopeOf(interleaved);
}

template <class Sample> void PlotGatherer::addEnvelopeOf(std::span<const Sample> interleaved)
{
    if (finished_) {
        throw std::logic_error("the plot is finished");
    }
    const auto channels = static_cast<std::size_t>(data_.channelCount);
    if (interleaved.size() % channels != 0) {
        throw std::invalid_argument("samples must come in whole frames");
    }
    const auto columns = static_cast<std::size_t>(data_.columnCount);
    std::vector<Sample> lows(channels);
    std::vector<Sample> highs(channels);
    const Sample* samples = interleaved.data();
    std::uint64_t frames = std::min<std::uint64_t>(interleaved.size() / channels, data_.totalFrames - nextFrame_);
    while (frames > 0) {
        const std::uint64_t segment = std::min(frames, columnEnd_ - nextFrame_);
        std::fill(lows.begin(), lows.end(), std::numeric_limits<Sample>::max());
        std::fill(highs.begin(), highs.end(), std::numeric_limits<Sample>::lowest());
        foldEnvelope<Sample, lanesFor<Sample>>(samples, segment * channels, channels, lows.data(), highs.data());
        for (std::size_t channel = 0; channel < channels; ++channel) {
            const std::size_t cell = channel * columns + static_cast<std::size_t>(column_);
            data_.minimum[cell] = std::min<double>(data_.minimum[cell], lows[channel]);
            data_.maximum[cell] = std::max<double>(data_.maximum[cell], highs[channel]);
        }
        samples += segment * channels;
        frames -= segment;
        nextFrame_ += segment;
        if (nextFrame_ == columnEnd_ && column_ + 1 < data_.columnCount) {
            ++column_;
            columnEnd_ = data_.columnStartFrame[static_cast<std::size_t>(column_) + 1];
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

void PlotGatherer::showExistingClipping()
{
    data_.hasExistingClipping = true;
}

void PlotGatherer::addLevelRun(int clipLevel, int channel, std::uint64_t startFrame, std::uint64_t length)
{
    if (finished_) {
        throw std::logic_error("the plot is finished");
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
    return std::move(data_);
}

} // namespace tarvelle
