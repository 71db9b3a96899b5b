// A level's work on the interleaved input, in two sweeps that touch nothing
// but the input and a block the caller owns: one counts the clipping events
// of both channels, the other clips samples for writing out block by block.
// Together they give exactly what clipChannels and countSample for every
// index, endPass and interleaveClipped give, without holding the channels
// apart or a whole clipped copy in memory.
#pragma once

#include "clip/clip_stats.hpp"

#include <cstdint>
#include <span>

namespace tarvelle {

// Resets both records, then counts every frame of interleavedSamples (left at
// even indices, right at odd ones), binning a run still open at the end.
void countLevel(std::span<const std::int16_t> interleavedSamples, std::int16_t clipThreshold,
                std::int16_t rateFactor, ChannelClipStats& left, ChannelClipStats& right);

// clippedSamples[j] = samples[j] held within -clipThreshold..clipThreshold;
// both spans have the same size.
void clipSamples(std::span<const std::int16_t> samples, std::int16_t clipThreshold,
                 std::span<std::int16_t> clippedSamples);

} // namespace tarvelle
