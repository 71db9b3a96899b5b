// The kernel of the level count for any sample format and channel count, on
// samples as doubles: every stored value of every format is exactly a double,
// so comparing and holding magnitudes there is exact.
#pragma once

#include "clip/level_count.hpp"

#include <cstdint>
#include <span>

namespace tarvelle {

// The next stretch of interleaved frames, for several levels of the same
// channel count in one sweep.
void countFrames(std::span<LevelCount> levels, std::span<const double> samples);

// clipped[j] = samples[j] held within -clipThreshold..clipThreshold.
void clipFrames(std::span<const double> samples, double clipThreshold, std::span<double> clipped);

// The largest magnitude; the index of the first sample that is not a finite
// number, if any (a NaN or an infinity is not audio).
struct AnyFormatPeak {
    double peak = 0.0;
    std::int64_t firstNonFinite = -1;
};
void takePeak(AnyFormatPeak& peak, std::span<const double> samples, std::int64_t firstIndex);

} // namespace tarvelle
