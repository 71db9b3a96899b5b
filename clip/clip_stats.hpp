// Clipping events of one pass, per channel: a clipping event is a maximal run
// of consecutive clipped samples, of either polarity.
#pragma once

#include "clip/peak_clip.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace tarvelle {

constexpr int eventLengthBinCount = 11;

// At 44.1 kHz, the fewest samples that reach 25 us, 50 us, ... 12.8 ms. Other
// rates scale these rather than recompute them from the time boundaries.
constexpr std::array<std::int32_t, eventLengthBinCount - 1> baseEventLengthLimits = {
    2, 3, 5, 9, 18, 36, 71, 142, 283, 565,
};

using EventLengthLimits = std::array<std::int64_t, eventLengthBinCount - 1>;

// The limits at any rate. At 44.1, 88.2 and 176.4 kHz and at 22.05 and
// 11.025 kHz the base limits times rate / 44100, rounded up where that is not
// whole: downwards this is the 44.1 kHz limit a bin or two earlier, which is
// also the fewest samples reaching each boundary. At any other rate, the
// fewest samples whose duration reaches 25 us * 2^bin.
EventLengthLimits eventLengthLimits(std::int32_t sampleRate);

// The bin of a completed event of runLength samples.
int eventLengthBin(std::int64_t runLength, const EventLengthLimits& limits);

struct ChannelClipStats {
    // 64 bits: a long RF64 file's channel may have more than 2^31 samples.
    std::int64_t clippedSamples = 0;
    std::int64_t clipEvents = 0;
    std::int64_t runLength = 0; // the run in progress; 0 when none is open
    std::array<std::int64_t, eventLengthBinCount> eventLengthBins{};
    bool previousClipped = false;
};

// A clipping event once it is over: its channel (from 0, in the file's
// order), its first frame from the start of the file, and its length.
struct ClipEvent {
    int channel = 0;
    std::int64_t startFrame = 0;
    std::int64_t length = 0;

    friend bool operator==(const ClipEvent&, const ClipEvent&) = default;
};

// Told of each event as it ends, so nothing grows with their number.
using ClipEventSink = std::function<void(const ClipEvent&)>;

// What one level counted: made once, and read by the report, the JSON line
// and the summary alike.
struct LevelStats {
    int clipLevel = 0;
    double clipThreshold = 0.0;             // in the file's units: whole for integer samples
    std::vector<ChannelClipStats> channels; // in the file's order
};

// The bin of a completed event of runLength samples; the limits are the
// 44.1 kHz ones times rateFactor (1, 2 or 4).
int eventLengthBin(std::int64_t runLength, std::int16_t rateFactor);

void beginPass(ChannelClipStats& left, ChannelClipStats& right);

// Both channels for one sample index, indices in ascending order.
void countSample(ChannelClipStats& left, ChannelClipStats& right, ClippedFlags clippedNow,
                 std::int16_t rateFactor);

// Bins an event still open after the last sample, so the eleven bins always
// add up to clipEvents.
void endPass(ChannelClipStats& left, ChannelClipStats& right, std::int16_t rateFactor);

} // namespace tarvelle
