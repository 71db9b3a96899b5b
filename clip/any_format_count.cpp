#include "clip/any_format_count.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tarvelle {

void countFrames(std::span<LevelCount> levels, std::span<const double> samples)
{
    if (levels.empty()) {
        return;
    }
    const std::size_t channelCount = levels.front().channels.size();
    const std::size_t frameCount = samples.size() / channelCount;
    // Per level and channel, the clipped frames of the stretch.
    std::vector<std::uint64_t> masks(levels.size() * channelCount);
    for (std::size_t stretchStart = 0; stretchStart < frameCount; stretchStart += maskFrames) {
        const std::size_t stretchFrames = std::min(maskFrames, frameCount - stretchStart);
        std::fill(masks.begin(), masks.end(), 0);
        const double* frame = samples.data() + stretchStart * channelCount;
        for (std::size_t bit = 0; bit < stretchFrames; ++bit, frame += channelCount) {
            for (std::size_t channel = 0; channel < channelCount; ++channel) {
                const double magnitude = std::fabs(frame[channel]);
                for (std::size_t level = 0; level < levels.size(); ++level) {
                    masks[level * channelCount + channel] |=
                        static_cast<std::uint64_t>(magnitude > levels[level].clipThreshold) << bit;
                }
            }
        }
        for (std::size_t level = 0; level < levels.size(); ++level) {
            for (std::size_t channel = 0; channel < channelCount; ++channel) {
                countMask(levels[level], channel, masks[level * channelCount + channel], stretchFrames,
                          levels[level].framesCounted + static_cast<std::int64_t>(stretchStart));
            }
        }
    }
    for (LevelCount& level : levels) {
        level.framesCounted += static_cast<std::int64_t>(frameCount);
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
