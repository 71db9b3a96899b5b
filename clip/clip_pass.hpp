// A level's work on the interleaved input, touching nothing but the input and
// a block the caller owns: counting the clipping events of both channels, and
// clipping samples for writing out block by block. Together they give exactly
// what clipping and counting one index at a time with the channels apart
// gives, without holding the channels apart or a whole clipped copy in memory.
#pragma once

#include "clip/clip_stats.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace tarvelle {

// The count of one level, taken a stretch of samples at a time, so that it can
// ride along with another sweep over the same samples.
struct LevelCount {
    std::int16_t clipThreshold = 0;
    std::int16_t rateFactor = 1;
    std::vector<std::uint8_t> binOfLength; // the bin of every event length up to the last limit
    ChannelClipStats left;
    ChannelClipStats right;
    std::int64_t framesCounted = 0;
    ClipEventSink onEvent; // where each event goes as it ends, if anywhere
};

LevelCount startLevelCount(std::int16_t clipThreshold, std::int16_t rateFactor);

// The next stretch of interleaved samples (left at even indices), a whole
// number of frames; stretches follow each other in order.
void countSamples(LevelCount& count, std::span<const std::int16_t> interleavedSamples);

// Bins a run still open after the last stretch.
void finishLevelCount(LevelCount& count);

// The counts of all six levels from one sweep, for when only the reports are
// wanted: the input is read once instead of six times. levels[k] ends up equal,
// counter for counter, to a LevelCount of clip level k taken on its own.
struct SixLevelCount {
    std::array<LevelCount, clipLevelCount> levels;
};

// The six thresholds follow from peakLevel (0..32768).
SixLevelCount startSixLevelCount(std::int32_t peakLevel, std::int16_t rateFactor);

// As countSamples, for several levels in one sweep.
void countLevels(std::span<LevelCount> levels, std::span<const std::int16_t> interleavedSamples);
void countSixLevels(SixLevelCount& count, std::span<const std::int16_t> interleavedSamples);

void finishSixLevelCount(SixLevelCount& count);

// clippedSamples[j] = samples[j] held within -clipThreshold..clipThreshold;
// both spans have the same size.
void clipSamples(std::span<const std::int16_t> samples, std::int16_t clipThreshold,
                 std::span<std::int16_t> clippedSamples);

} // namespace tarvelle
