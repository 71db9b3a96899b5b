#include "clip/existing_clipping.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace tarvelle {

ExistingClipDetector::ExistingClipDetector(ExistingClipFormat format, double filePeak, std::int64_t minRunLength,
                                           ExistingClipSink sink)
    : format_(format), minRunLength_(minRunLength), sink_(std::move(sink))
{
    if (format.channels < 1 || !(format.fullScale > 0.0) || minRunLength < 1) {
        throw std::invalid_argument("clipping check: no channels, no full scale or a run shorter than 1");
    }
    const double fullScaleLimit = format.isFloat ? format.fullScale : format.fullScale - 1.0;
    const auto channels = static_cast<std::size_t>(format.channels);
    result_.fullScaleRuns.assign(channels, 0);
    result_.ceilingRuns.assign(channels, 0);
    runLength_.assign(channels, 0);
    if (filePeak >= fullScaleLimit) {
        limit_ = fullScaleLimit;
    } else if (filePeak > 0.0) {
        // Below full scale, no sample reaches it: only the ceiling can be found.
        kind_ = ExistingClipKind::ceiling;
        limit_ = filePeak;
        result_.ceiling = filePeak;
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

template <class Sample> void ExistingClipDetector::addSamples(std::span<const Sample> interleaved)
{
    const auto channels = static_cast<std::size_t>(format_.channels);
    if (interleaved.size() % channels != 0) {
        throw std::invalid_argument("clipping check: a partial frame");
    }
    const std::size_t frames = interleaved.size() / channels;
    if (!(limit_ > 0.0)) {
        frameIndex_ += static_cast<std::int64_t>(frames);
        return;
    }
    // Most stretches of most files hold nothing at the limit: a stretch whose
    // largest magnitude is below it, with no run open, is only counted past.
    constexpr std::size_t stretchFrames = 256;
    bool runOpen =
        std::any_of(runLength_.begin(), runLength_.end(), [](std::int64_t length) { return length != 0; });
    for (std::size_t first = 0; first < frames; first += stretchFrames) {
        const std::size_t count = std::min(stretchFrames, frames - first);
        const Sample* samples = interleaved.data() + first * channels;
        if (!runOpen) {
            double largest = 0.0;
            if constexpr (std::is_integral_v<Sample>) {
                // Whole numbers: a loop the compiler vectorises.
                std::int32_t largestWhole = 0;
                for (std::size_t index = 0; index < count * channels; ++index) {
                    largestWhole = std::max(largestWhole, std::abs(static_cast<std::int32_t>(samples[index])));
                }
                largest = largestWhole;
            } else {
                for (std::size_t index = 0; index < count * channels; ++index) {
                    largest = std::max(largest, std::fabs(samples[index]));
                }
            }
            if (largest < limit_) {
                frameIndex_ += static_cast<std::int64_t>(count);
                continue;
            }
        }
        for (std::size_t frame = 0; frame < count; ++frame) {
            for (std::size_t channel = 0; channel < channels; ++channel) {
                if (std::fabs(static_cast<double>(samples[frame * channels + channel])) >= limit_) {
                    ++runLength_[channel];
                } else if (runLength_[channel] != 0) {
                    endRun(static_cast<int>(channel));
                }
            }
            ++frameIndex_;
        }
        runOpen =
            std::any_of(runLength_.begin(), runLength_.end(), [](std::int64_t length) { return length != 0; });
    }
}

ExistingClipResult ExistingClipDetector::finish()
{
    for (int channel = 0; channel < format_.channels; ++channel) {
        if (runLength_[static_cast<std::size_t>(channel)] != 0) {
            endRun(channel);
        }
    }
    return result_;
}

// Called at the first sample after the run, which is frameIndex_.
void ExistingClipDetector::endRun(int channel)
{
    const auto index = static_cast<std::size_t>(channel);
    const std::int64_t length = std::exchange(runLength_[index], 0);
    if (length < minRunLength_) {
        return;
    }
    const ExistingClipRun run{kind_, channel, frameIndex_ - length, length};
    ++(kind_ == ExistingClipKind::fullScale ? result_.fullScaleRuns : result_.ceilingRuns)[index];
    // Runs of one length end in the order they start, and channels are taken
    // in order: the first of a length is the earliest.
    if (!result_.longest || run.length > result_.longest->length) {
        result_.longest = run;
    }
    if (sink_) {
        sink_(run);
    }
}

} // namespace tarvelle
