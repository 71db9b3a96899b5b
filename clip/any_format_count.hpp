// Counting and clipping of any sample format and channel count, on samples as
// doubles: every stored value of every format is exactly a double, so
// comparing and holding magnitudes there is exact.
#pragma once

#include "clip/clip_stats.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace tarvelle {

// One level's count, taken a stretch of whole frames at a time.
struct AnyFormatLevelCount {
    double clipThreshold = 0.0; // a sample is clipped when its magnitude is above it
    EventLengthLimits limits{};
    std::vector<ChannelClipStats> channels;
    std::int64_t framesCounted = 0;
    ClipEventSink onEvent; // where each event goes as it ends, if anywhere
};

AnyFormatLevelCount startAnyFormatCount(double clipThreshold, int channelCount, const EventLengthLimits& limits);

// The next stretch of interleaved frames, for several levels in one sweep.
void countFrames(std::span<AnyFormatLevelCount> levels, std::span<const double> samples);

// Bins the runs still open after the last stretch.
void finishAnyFormatCount(AnyFormatLevelCount& count);

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
