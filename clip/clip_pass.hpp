// One whole pass in one sweep: clip both channels, count their events and
// write the clipped frames interleaved. Gives exactly what clipChannels and
// countSample for every index, endPass and interleaveClipped give, without the
// two intermediate channel arrays and at a fraction of the time.
#pragma once

#include "clip/clip_stats.hpp"

#include <cstdint>
#include <span>

namespace tarvelle {

// Resets both records first. interleavedSamples has 2N elements for N
// elements in each channel.
void clipAndCountLevel(std::span<const std::int16_t> leftSamples, std::span<const std::int16_t> rightSamples,
                       std::int16_t clipThreshold, std::int16_t rateFactor, std::span<std::int16_t> interleavedSamples,
                       ChannelClipStats& left, ChannelClipStats& right);

} // namespace tarvelle
