#include "clip/any_format_count.hpp"

#include <algorithm>
#include <cmath>

namespace tarvelle {

namespace {

// The run of a channel ends before endFrame.
void endRun(AnyFormatLevelCount& level, std::size_t channelIndex, std::int64_t endFrame)
{
    ChannelClipStats& channel = level.channels[channelIndex];
    ++channel.eventLengthBins[static_cast<std::size_t>(eventLengthBin(channel.runLength, level.limits))];
    if (level.onEvent) {
        level.onEvent(ClipEvent{static_cast<int>(channelIndex), endFrame - channel.runLength, channel.runLength});
    }
    channel.runLength = 0;
    channel.previousClipped = false;
}

} // namespace

AnyFormatLevelCount startAnyFormatCount(double clipThreshold, int channelCount, const EventLengthLimits& limits)
{
    AnyFormatLevelCount count;
    count.clipThreshold = clipThreshold;
    count.limits = limits;
    count.channels.resize(static_cast<std::size_t>(channelCount));
    return count;
}

void countFrames(std::span<AnyFormatLevelCount> levels, std::span<const double> samples)
{
    if (levels.empty()) {
        return;
    }
    const std::size_t channelCount = levels.front().channels.size();
    for (std::size_t index = 0; index < samples.size(); ++index) {
        const double magnitude = std::fabs(samples[index]);
        const std::size_t channel = index % channelCount;
        const auto frame = static_cast<std::int64_t>(index / channelCount);
        for (AnyFormatLevelCount& level : levels) {
            ChannelClipStats& stats = level.channels[channel];
            if (magnitude > level.clipThreshold) {
                ++stats.clippedSamples;
                if (!stats.previousClipped) {
                    ++stats.clipEvents;
                    stats.previousClipped = true;
                }
                ++stats.runLength;
            } else if (stats.previousClipped) {
                endRun(level, channel, level.framesCounted + frame);
            }
        }
    }
    for (AnyFormatLevelCount& level : levels) {
        level.framesCounted += static_cast<std::int64_t>(samples.size() / channelCount);
    }
}

void finishAnyFormatCount(AnyFormatLevelCount& count)
{
    for (std::size_t channel = 0; channel < count.channels.size(); ++channel) {
        if (count.channels[channel].previousClipped) {
            endRun(count, channel, count.framesCounted);
        }
    }
}

void clipFrames(std::span<const double> samples, double clipThreshold, std::span<double> clipped)
{
    for (std::size_t index = 0; index < samples.size(); ++index) {
        clipped[index] = std::clamp(samples[index], -clipThreshold, clipThreshold);
    }
}

void takePeak(AnyFormatPeak& peak, std::span<const double> samples, std::int64_t firstIndex)
{
    for (std::size_t index = 0; index < samples.size(); ++index) {
        const double magnitude = std::fabs(samples[index]);
        if (!std::isfinite(magnitude)) {
            if (peak.firstNonFinite < 0) {
                peak.firstNonFinite = firstIndex + static_cast<std::int64_t>(index);
            }
            continue;
        }
        peak.peak = std::max(peak.peak, magnitude);
    }
}

} // namespace tarvelle
