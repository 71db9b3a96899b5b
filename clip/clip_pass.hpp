// The 16-bit stereo kernel of the level count: which samples of a level are
// clipped, found sixty-four frames at a time as bit masks, and the clipping of
// samples for writing out block by block. Together they give exactly what
// clipping and counting one index at a time with the channels apart gives,
// without holding the channels apart or a whole clipped copy in memory.
#pragma once

#include "clip/level_count.hpp"

#include <array>
#include <cstdint>
#include <span>

namespace tarvelle {

// A stereo count at one of the rates 44.1 kHz times rateFactor (1, 2 or 4).
LevelCount startLevelCount(std::int16_t clipThreshold, std::int16_t rateFactor);

// The next stretch of interleaved samples (left at even indices), a whole
// number of frames, for several stereo levels in one sweep; stretches follow
// each other in order.
void countLevels(std::span<LevelCount> levels, std::span<const std::int16_t> interleavedSamples);
void countSamples(LevelCount& count, std::span<const std::int16_t> interleavedSamples);

// The counts of all six levels from one sweep, for when only the reports are
// wanted: the input is read once instead of six times. levels[k] ends up equal,
// counter for counter, to a LevelCount of clip level k taken on its own.
struct SixLevelCount {
    std::array<LevelCount, clipLevelCount> levels;
};

// The six thresholds follow from peakLevel (0..32768).
SixLevelCount startSixLevelCount(std::int32_t peakLevel, std::int16_t rateFactor);
void countSixLevels(SixLevelCount& count, std::span<const std::int16_t> interleavedSamples);
void finishSixLevelCount(SixLevelCount& count);

// clippedSamples[j] = samples[j] held within -clipThreshold..clipThreshold;
// both spans have the same size.
void clipSamples(std::span<const std::int16_t> samples, std::int16_t clipThreshold,
                 std::span<std::int16_t> clippedSamples);

} // namespace tarvelle
