#include "clip/existing_clipping.hpp"

#include <cmath>
#include <stdexcept>
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
    const auto channels = static_cast<std::size_t>(format_.channels);
    if (interleaved.size() % channels != 0) {
        throw std::invalid_argument("clipping check: a partial frame");
    }
    const std::size_t frames = interleaved.size() / channels;
    if (limit_ > 0.0) {
        for (std::size_t frame = 0; frame < frames; ++frame) {
            for (std::size_t channel = 0; channel < channels; ++channel) {
                if (std::fabs(interleaved[frame * channels + channel]) >= limit_) {
                    ++runLength_[channel];
                } else if (runLength_[channel] != 0) {
                    endRun(static_cast<int>(channel));
                }
            }
            ++frameIndex_;
        }
    } else {
        frameIndex_ += static_cast<std::int64_t>(frames);
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
