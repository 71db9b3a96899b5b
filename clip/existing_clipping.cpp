#include "clip/existing_clipping.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace tarvelle {

namespace {

// A clipper or limiter leaves many samples at its ceiling; a waveform's crest,
// even a sine's, holds barely more samples than the values just inside it.
constexpr std::int64_t pileUpFactor = 4;

// The largest 16-bit value in float, so that converted integer files keep
// every run.
constexpr double floatFullScaleLimit = 1.0 - 1.0 / 32768.0;

// Longer first, then earlier, then the lower channel.
bool longerOrEarlier(const ExistingClipRun& run, const std::optional<ExistingClipRun>& than)
{
    if (!than || run.length != than->length) {
        return !than || run.length > than->length;
    }
    return run.startFrame != than->startFrame ? run.startFrame < than->startFrame : run.channel < than->channel;
}

} // namespace

ExistingClipDetector::ExistingClipDetector(ExistingClipFormat format, std::int64_t minRunLength,
                                           ExistingClipSink sink)
    : format_(format), minRunLength_(minRunLength), sink_(std::move(sink))
{
    if (format.channels < 1 || !(format.fullScale > 0.0) || minRunLength < 1) {
        throw std::invalid_argument("clipping check: no channels, no full scale or a run shorter than 1");
    }
    fullScaleLimit_ = format.isFloat ? floatFullScaleLimit * format.fullScale : format.fullScale - 1.0;
    const auto channels = static_cast<std::size_t>(format.channels);
    result_.fullScaleRuns.assign(channels, 0);
    result_.ceilingRuns.assign(channels, 0);
    result_.overSamples.assign(format.isFloat ? channels : 0, 0);
    channels_.assign(channels, ChannelState{});
    for (std::size_t index = 0; index < sides_.size(); ++index) {
        sides_[index].sign = index == 0 ? 1.0 : -1.0;
        sides_[index].runLength.assign(channels, 0);
        sides_[index].runsPerChannel.assign(channels, 0);
    }
}

void ExistingClipDetector::addFrames(std::span<const double> interleaved)
{
    addSamples(interleaved);
}

void ExistingClipDetector::addFrames(std::span<const std::int16_t> interleaved)
{
    addSamples(interleaved);
}

namespace {

// The smallest and largest of samples, NaNs passed over as std::min and
// std::max pass them over; four pairs at a time where the target has SSE2.
void extremes(std::span<const double> samples, double& smallest, double& largest)
{
    smallest = largest = samples[0];
    std::size_t index = 0;
#if defined(__SSE2__) || defined(_M_X64)
    constexpr std::size_t pairs = 4;
    __m128d low[pairs];
    __m128d high[pairs];
    for (std::size_t pair = 0; pair < pairs; ++pair) {
        low[pair] = high[pair] = _mm_set1_pd(samples[0]);
    }
    for (; index + 2 * pairs <= samples.size(); index += 2 * pairs) {
        for (std::size_t pair = 0; pair < pairs; ++pair) {
            const __m128d two = _mm_loadu_pd(samples.data() + index + 2 * pair);
            // The sample first: a NaN there gives the second operand, the extreme so far.
            low[pair] = _mm_min_pd(two, low[pair]);
            high[pair] = _mm_max_pd(two, high[pair]);
        }
    }
    std::array<double, 2 * pairs> lows{};
    std::array<double, 2 * pairs> highs{};
    for (std::size_t pair = 0; pair < pairs; ++pair) {
        _mm_storeu_pd(lows.data() + 2 * pair, low[pair]);
        _mm_storeu_pd(highs.data() + 2 * pair, high[pair]);
    }
    for (std::size_t lane = 0; lane < lows.size(); ++lane) {
        smallest = std::min(smallest, lows[lane]);
        largest = std::max(largest, highs[lane]);
    }
#endif
    for (; index < samples.size(); ++index) {
        smallest = std::min(smallest, samples[index]);
        largest = std::max(largest, samples[index]);
    }
}

} // namespace

template <class Sample> void ExistingClipDetector::addSamples(std::span<const Sample> interleaved)
{
    const auto channels = static_cast<std::size_t>(format_.channels);
    if (interleaved.size() % channels != 0) {
        throw std::invalid_argument("clipping check: a partial frame");
    }
    const std::size_t frames = interleaved.size() / channels;
    // Most stretches of most files hold nothing at full scale and nothing at
    // or beyond the values tracked on either side: they are only counted past.
    constexpr std::size_t stretchFrames = 256;
    for (std::size_t first = 0; first < frames; first += stretchFrames) {
        const std::size_t count = std::min(stretchFrames, frames - first);
        const Sample* samples = interleaved.data() + first * channels;
        const std::size_t sampleCount = count * channels;
        double smallest = 0.0;
        double largest = 0.0;
        if (anyOpen()) {
            smallest = largest = fullScaleLimit_; // an open run is followed sample by sample
        } else if constexpr (std::is_integral_v<Sample>) {
            // Whole numbers: loops the compiler vectorises.
            std::int32_t low = samples[0];
            std::int32_t high = samples[0];
            for (std::size_t index = 0; index < sampleCount; ++index) {
                low = std::min(low, static_cast<std::int32_t>(samples[index]));
                high = std::max(high, static_cast<std::int32_t>(samples[index]));
            }
            smallest = low;
            largest = high;
        } else {
            extremes(std::span(samples, sampleCount), smallest, largest);
        }
        if (skippable(smallest, largest)) {
            frameIndex_ += static_cast<std::int64_t>(count);
            continue;
        }
        if (smallest == largest && std::fabs(largest) < fullScaleLimit_) {
            addConstant(largest, static_cast<std::int64_t>(count));
            continue;
        }
        for (std::size_t frame = 0; frame < count; ++frame) {
            for (std::size_t channel = 0; channel < channels; ++channel) {
                addSample(static_cast<int>(channel), static_cast<double>(samples[frame * channels + channel]));
            }
            ++frameIndex_;
        }
    }
}

// Silence, above all: the first frame sample by sample, which ends any run at
// full scale; the others only lengthen what it left.
void ExistingClipDetector::addConstant(double value, std::int64_t frames)
{
    for (int channel = 0; channel < format_.channels; ++channel) {
        addSample(channel, value);
    }
    ++frameIndex_;
    const std::int64_t more = frames - 1;
    for (Side& side : sides_) {
        for (ValueCount& tracked : side.values) {
            tracked.count += tracked.value == value * side.sign ? more * format_.channels : 0;
        }
        for (std::int64_t& runLength : side.runLength) {
            runLength += runLength != 0 ? more : 0;
        }
    }
    frameIndex_ += more;
}

bool ExistingClipDetector::anyOpen() const
{
    return sides_[0].openRuns != 0 || sides_[1].openRuns != 0 ||
           std::any_of(channels_.begin(), channels_.end(), [](const ChannelState& state) {
               return state.fullScaleLength != 0 || state.overLength != 0;
           });
}

bool ExistingClipDetector::skippable(double smallest, double largest) const
{
    return largest < fullScaleLimit_ && -smallest < fullScaleLimit_ && largest < sides_[0].floor &&
           -smallest < sides_[1].floor;
}

void ExistingClipDetector::addSample(int channel, double value)
{
    ChannelState& state = channels_[static_cast<std::size_t>(channel)];
    const bool atFullScale = std::fabs(value) >= fullScaleLimit_;
    if (format_.isFloat) {
        // A float flat top is one value repeated.
        if (state.fullScaleLength != 0 && value != state.fullScaleValue) {
            endFullScaleRun(channel);
        }
        if (std::fabs(value) <= format_.fullScale) {
            endOvers(channel);
        }
        if (atFullScale) {
            state.fullScaleValue = value;
            ++state.fullScaleLength;
        }
    } else if (atFullScale) {
        ++state.fullScaleLength;
    } else if (state.fullScaleLength != 0) {
        endFullScaleRun(channel);
    }
    for (Side& side : sides_) {
        if (value * side.sign >= side.floor || side.openRuns != 0) {
            addToSide(side, channel, value);
        }
    }
}

void ExistingClipDetector::addToSide(Side& side, int channel, double value)
{
    const double outward = value * side.sign;
    std::vector<ValueCount>& values = side.values;
    std::int64_t& runLength = side.runLength[static_cast<std::size_t>(channel)];
    if (outward < side.floor) {
        if (runLength != 0) {
            endSideRun(side, channel);
        }
        return;
    }
    if (values.empty() || outward > values.front().value) {
        // Runs at the old extreme are no longer at the extreme.
        std::fill(side.runLength.begin(), side.runLength.end(), 0);
        side.openRuns = 0;
        std::fill(side.runsPerChannel.begin(), side.runsPerChannel.end(), 0);
        side.runs.clear();
        side.longest.reset();
        side.unlisted = 0;
    }
    auto place = std::find_if(values.begin(), values.end(),
                              [outward](const ValueCount& tracked) { return tracked.value <= outward; });
    if (place != values.end() && place->value == outward) {
        ++place->count;
    } else if (place != values.end() || values.size() < trackedValues) {
        values.insert(place, ValueCount{outward, 1});
        if (values.size() > trackedValues) {
            values.pop_back();
        }
        if (values.size() == trackedValues) {
            side.floor = values.back().value;
        }
        if (values.front().value >= fullScaleLimit_) {
            // A side at full scale has no ceiling, whatever follows: it is not looked at again.
            side.floor = std::numeric_limits<double>::infinity();
        }
    }
    // An extreme at full scale is never a ceiling, nor is one at or below 0.
    if (outward == values.front().value && outward > 0.0 && outward < fullScaleLimit_) {
        side.openRuns += runLength == 0 ? 1 : 0;
        ++runLength;
    } else if (runLength != 0) {
        endSideRun(side, channel);
    }
}

// Each run ends at the sample after it, which is frameIndex_.
void ExistingClipDetector::endSideRun(Side& side, int channel)
{
    const std::int64_t length = std::exchange(side.runLength[static_cast<std::size_t>(channel)], 0);
    --side.openRuns;
    if (length < minRunLength_) {
        return;
    }
    const ExistingClipRun run{ExistingClipKind::ceiling, channel, frameIndex_ - length, length};
    count(run, side.runsPerChannel, side.longest);
    if (side.runs.size() < maxListedCeilingRuns / 2) {
        side.runs.push_back(run);
    } else {
        ++side.unlisted;
    }
}

void ExistingClipDetector::endFullScaleRun(int channel)
{
    ChannelState& state = channels_[static_cast<std::size_t>(channel)];
    const std::int64_t length = std::exchange(state.fullScaleLength, 0);
    const std::int64_t start = frameIndex_ - length;
    // One sample over full scale is a peak, not a flat top.
    const bool over = format_.isFloat && std::fabs(state.fullScaleValue) > format_.fullScale;
    if (length >= minRunLength_ && (!over || length >= 2)) {
        endOvers(channel);
        const ExistingClipRun run{ExistingClipKind::fullScale, channel, start, length};
        count(run, result_.fullScaleRuns, result_.longest);
        if (sink_) {
            sink_(run);
        }
    } else if (over) {
        result_.overSamples[static_cast<std::size_t>(channel)] += length;
        result_.highestOver = std::max(result_.highestOver.value_or(0.0), std::fabs(state.fullScaleValue));
        if (state.overLength != 0 && state.overStart + state.overLength != start) {
            endOvers(channel);
        }
        if (state.overLength == 0) {
            state.overStart = start;
        }
        state.overLength += length;
    }
}

void ExistingClipDetector::endOvers(int channel)
{
    ChannelState& state = channels_[static_cast<std::size_t>(channel)];
    const std::int64_t length = std::exchange(state.overLength, 0);
    if (length != 0 && sink_) {
        sink_(ExistingClipRun{ExistingClipKind::over, channel, state.overStart, length});
    }
}

void ExistingClipDetector::count(const ExistingClipRun& run, std::vector<std::int64_t>& perChannel,
                                 std::optional<ExistingClipRun>& longest) const
{
    ++perChannel[static_cast<std::size_t>(run.channel)];
    if (longerOrEarlier(run, longest)) {
        longest = run;
    }
}

std::optional<double> ExistingClipDetector::ceilingOf(const Side& side) const
{
    if (side.values.size() < 2) {
        return std::nullopt; // nothing inside to compare with: a constant, not a ceiling
    }
    const ValueCount& extreme = side.values.front();
    if (!(extreme.value > 0.0) || extreme.value >= fullScaleLimit_) {
        return std::nullopt;
    }
    std::int64_t inside = 0;
    for (std::size_t index = 1; index < side.values.size(); ++index) {
        inside = std::max(inside, side.values[index].count);
    }
    if (extreme.count < pileUpFactor * inside) {
        return std::nullopt;
    }
    return extreme.value * side.sign;
}

ExistingClipResult ExistingClipDetector::finish()
{
    for (int channel = 0; channel < format_.channels; ++channel) {
        if (channels_[static_cast<std::size_t>(channel)].fullScaleLength != 0) {
            endFullScaleRun(channel);
        }
        endOvers(channel);
        for (Side& side : sides_) {
            if (side.runLength[static_cast<std::size_t>(channel)] != 0) {
                endSideRun(side, channel);
            }
        }
    }
    for (std::size_t index = 0; index < sides_.size(); ++index) {
        Side& side = sides_[index];
        const std::optional<double> ceiling = ceilingOf(side);
        if (!ceiling) {
            side.runs.clear();
            continue;
        }
        (index == 0 ? result_.positiveCeiling : result_.negativeCeiling) = ceiling;
        for (std::size_t channel = 0; channel < side.runsPerChannel.size(); ++channel) {
            result_.ceilingRuns[channel] += side.runsPerChannel[channel];
        }
        if (side.longest && longerOrEarlier(*side.longest, result_.longest)) {
            result_.longest = side.longest;
        }
        result_.unlistedCeilingRuns += side.unlisted;
    }
    // Each side's runs are in the order they ended, channels in order: merged
    // as they stand, so that no more memory is taken.
    const std::vector<ExistingClipRun>& positive = sides_[0].runs;
    const std::vector<ExistingClipRun>& negative = sides_[1].runs;
    const auto end = [](const ExistingClipRun& run) {
        return std::pair(run.startFrame + run.length, run.channel);
    };
    for (std::size_t first = 0, second = 0; sink_ && (first < positive.size() || second < negative.size());) {
        const bool positiveFirst = second == negative.size() ||
                                   (first < positive.size() && end(positive[first]) <= end(negative[second]));
        sink_(positiveFirst ? positive[first++] : negative[second++]);
    }
    sides_[0].runs.clear();
    sides_[1].runs.clear();
    return result_;
}

} // namespace tarvelle
