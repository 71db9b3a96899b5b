// The count of one clip level, whatever the samples: per channel the run in
// progress, the clipped samples, the events and their lengths' histogram, and
// each event told as it ends. The kernels (the 16-bit bit masks in
// clip_pass, the doubles in any_format_count) only find which frames of a
// stretch are clipped; the runs are followed here, once for both.
#pragma once

#include "clip/clip_stats.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarvelle {

// Frames a kernel hands over at a time: one bit of a 64-bit mask each.
constexpr std::size_t maskFrames = 64;

struct LevelCount {
    double clipThreshold = 0.0; // a sample is clipped when its magnitude is above it
    EventLengthLimits limits{};
    std::vector<std::uint8_t> binOfLength; // the bin of every short length, so that most events cost one load
    std::vector<ChannelClipStats> channels;
    std::int64_t framesCounted = 0;
    ClipEventSink onEvent; // where each event goes as it ends, if anywhere
};

LevelCount startLevelCount(double clipThreshold, int channelCount, const EventLengthLimits& limits);

// One channel over frameCount (at most maskFrames) frames from firstFrame of
// the file, bit j of clippedMask set where frame firstFrame + j is clipped.
// Each channel's stretches follow each other in order.
void countMask(LevelCount& count, std::size_t channel, std::uint64_t clippedMask, std::size_t frameCount,
               std::int64_t firstFrame);

// Bins the runs still open after the last stretch: they end with the file.
void finishLevelCount(LevelCount& count);

} // namespace tarvelle
