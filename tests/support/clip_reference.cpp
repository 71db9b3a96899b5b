#include "support/clip_reference.hpp"

#include <cstdlib>

namespace tarvelle::testing {

namespace {

// A magnitude equal to the threshold passes.
bool clipOne(std::int16_t sample, std::int16_t clipThreshold, std::int16_t& clipped)
{
    const std::int32_t magnitude = std::abs(static_cast<std::int32_t>(sample));
    clipped = sample;
    if (magnitude > clipThreshold && sample > 0) {
        clipped = clipThreshold;
        return true;
    }
    if (magnitude > clipThreshold && sample < 0) {
        clipped = static_cast<std::int16_t>(-clipThreshold);
        return true;
    }
    return false;
}

} // namespace

ReferencePass referencePass(std::span<const std::int16_t> leftSamples, std::span<const std::int16_t> rightSamples,
                            std::int16_t clipThreshold, std::int16_t rateFactor)
{
    std::vector<std::int16_t> clippedLeft(leftSamples.size());
    std::vector<std::int16_t> clippedRight(rightSamples.size());
    ReferencePass pass;
    beginPass(pass.left, pass.right);
    for (std::size_t index = 0; index < leftSamples.size(); ++index) {
        ClippedFlags clippedNow;
        clippedNow.left = clipOne(leftSamples[index], clipThreshold, clippedLeft[index]);
        clippedNow.right = clipOne(rightSamples[index], clipThreshold, clippedRight[index]);
        countSample(pass.left, pass.right, clippedNow, rateFactor);
    }
    endPass(pass.left, pass.right, rateFactor);
    pass.interleaved = interleave(clippedLeft, clippedRight);
    for (const auto& [channel, clipped] : {std::pair{0, &clippedLeft}, std::pair{1, &clippedRight}}) {
        const std::span<const std::int16_t> samples = channel == 0 ? leftSamples : rightSamples;
        for (std::size_t index = 0; index < samples.size(); ++index) {
            if ((*clipped)[index] == samples[index]) {
                continue;
            }
            const auto start = static_cast<std::int64_t>(index);
            while (index < samples.size() && (*clipped)[index] != samples[index]) {
                ++index;
            }
            pass.events.push_back(ClipEvent{channel, start, static_cast<std::int64_t>(index) - start});
        }
    }
    return pass;
}

std::vector<std::int16_t> interleave(std::span<const std::int16_t> leftSamples,
                                     std::span<const std::int16_t> rightSamples)
{
    std::vector<std::int16_t> interleaved(2 * leftSamples.size());
    for (std::size_t frame = 0; frame < leftSamples.size(); ++frame) {
        interleaved[2 * frame] = leftSamples[frame];
        interleaved[2 * frame + 1] = rightSamples[frame];
    }
    return interleaved;
}

void addLevelRunsOf(PlotGatherer& gatherer, std::span<const double> interleaved, int channels,
                    const std::array<double, clipLevelCount>& thresholds)
{
    const auto width = static_cast<std::size_t>(channels);
    const std::uint64_t frames = interleaved.size() / width;
    for (std::size_t level = 0; level < thresholds.size(); ++level) {
        for (std::size_t channel = 0; channel < width; ++channel) {
            for (std::uint64_t frame = 0; frame < frames;) {
                std::uint64_t end = frame;
                while (end < frames && std::fabs(interleaved[end * width + channel]) > thresholds[level]) {
                    ++end;
                }
                if (end > frame) {
                    gatherer.addLevelRun(static_cast<int>(level), static_cast<int>(channel), frame, end - frame);
                }
                frame = end + 1;
            }
        }
    }
}

} // namespace tarvelle::testing
