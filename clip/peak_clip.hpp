// The peak, the clip levels and their thresholds.
#pragma once

#include "wav/sample_format.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tarvelle {

// Levels 0 to 5 clip 3, 6, ... 18 dB below the peak.
constexpr int clipLevelCount = 6;

constexpr int decibelsBelowPeak(int clipLevel)
{
    return 3 * (clipLevel + 1);
}

// Largest magnitude over both channels; -32768 counts as 32768.
std::int32_t findPeak(std::span<const std::int16_t> interleavedSamples);

// For any sample format: the peak (the largest magnitude, in the file's
// units) divided by sqrt(2)^(clipLevel + 1) with a 64-bit significand, then
// rounded to the nearest whole number, halves up, for integer formats and to
// the nearest value of the file's type for float formats. A 16-bit peak's
// thresholds are its 16-bit values: SampleFormat{} is 16-bit.
double thresholdForLevel(const SampleFormat& format, double peak, int clipLevel);

// 20 log10(level / fullScale) to the nearest hundredth (16-bit full scale
// unless said); none for 0, which has no level in dB.
std::optional<double> levelDbfs(double level, double fullScale = 32768.0);

// Whether each channel's sample at the current index was clipped.
struct ClippedFlags {
    bool left = false;
    bool right = false;
};

} // namespace tarvelle
