#include "clip/any_format_count.hpp"

#include <algorithm>
#include <cmath>

namespace tarvelle {

namespace {

int binOf(std::int64_t runLength, const std::array<std::int64_t, eventLengthBinCount - 1>& limits)
{
    return static_cast<int>(std::upper_bound(limits.begin(), limits.end(), runLength) - limits.begin());
}

void endRun(ChannelClipStats& channel, const std::array<std::int64_t, eventLengthBinCount - 1>& limits)
{
    ++channel.eventLengthBins[static_cast<std::size_t>(binOf(channel.runLength, limits))];
    channel.runLength = 0;
    channel.previousClipped = false;
}

} // namespace

AnyFormatLevelCount startAnyFormatCount(double clipThreshold, int channelCount,
                                        const std::array<std::int64_t, eventLengthBinCount - 1>& limits)
{
    return AnyFormatLevelCount{clipThreshold, limits, std::vector<ChannelClipStats>(static_cast<std::size_t>(channelCount))};
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
                endRun(stats, level.limits);
            }
        }
    }
}

void finishAnyFormatCount(AnyFormatLevelCount& count)
{
    for (ChannelClipStats& channel : count.channels) {
        if (channel.previousClipped) {
            endRun(channel, count.limits);
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
