// Peak, clip thresholds and the clip rule, one sample index at a time. This is
// the reference the fused pass in clip_pass.hpp must match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tarvelle {

// Largest magnitude over both channels; -32768 counts as 32768.
std::int32_t findPeak(std::span<const std::int16_t> interleavedSamples);

// peakLevel / sqrt(2)^(clipLevel + 1), nearest, halves up.
std::int16_t thresholdForLevel(std::int32_t peakLevel, int clipLevel);

// 20 log10(level / 32768) to the nearest hundredth, for a level of 1..32768;
// none for 0, which has no level in dB.
std::optional<double> levelDbfs(std::int32_t level);

// Whether each channel's sample at the current index was clipped.
struct ClippedFlags {
    bool left = false;
    bool right = false;
};

// Clips leftSamples[i] and rightSamples[i] at +-clipThreshold into
// clippedLeft[i] and clippedRight[i]; a magnitude equal to the threshold passes.
ClippedFlags clipChannels(std::size_t sampleIndex, std::int16_t clipThreshold,
                          std::span<const std::int16_t> leftSamples, std::span<const std::int16_t> rightSamples,
                          std::span<std::int16_t> clippedLeft, std::span<std::int16_t> clippedRight);

void interleaveClipped(std::span<const std::int16_t> clippedLeft, std::span<const std::int16_t> clippedRight,
                       std::span<std::int16_t> interleavedSamples);

} // namespace tarvelle
