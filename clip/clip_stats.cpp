#include "clip/clip_stats.hpp"

#include <algorithm>

namespace tarvelle {

namespace {

void startCounting(ChannelClipStats& channel, bool clippedNow)
{
    if (!clippedNow) {
        return;
    }
    ++channel.clippedSamples;
    if (!channel.previousClipped) {
        ++channel.clipEvents;
    }
    ++channel.runLength;
}

void closeEndedRun(ChannelClipStats& channel, bool clippedNow, std::int16_t rateFactor)
{
    if (!clippedNow && channel.previousClipped) {
        ++channel.eventLengthBins[static_cast<std::size_t>(eventLengthBin(channel.runLength, rateFactor))];
        channel.runLength = 0;
    }
}

} // namespace

int eventLengthBin(std::int64_t runLength, std::int16_t rateFactor)
{
    int bin = 0;
    while (bin < eventLengthBinCount - 1 &&
           runLength >= baseEventLengthLimits[static_cast<std::size_t>(bin)] * rateFactor) {
        ++bin;
    }
    return bin;
}

EventLengthLimits eventLengthLimits(std::int32_t sampleRate)
{
    constexpr std::int64_t baseRate = 44100;
    // 25 us is 1 / 40000 s: the first boundary in samples is rate / 40000.
    constexpr std::int64_t firstBoundaryPerSecond = 40000;
    EventLengthLimits limits{};
    const std::int64_t rate = sampleRate;
    constexpr std::array<std::int64_t, 5> familyRates{baseRate / 4, baseRate / 2, baseRate, 2 * baseRate,
                                                      4 * baseRate};
    const bool family = std::find(familyRates.begin(), familyRates.end(), rate) != familyRates.end();
    for (std::size_t bin = 0; bin < limits.size(); ++bin) {
        if (family) {
            const std::int64_t scaled = baseEventLengthLimits[bin] * rate;
            limits[bin] = (scaled + baseRate - 1) / baseRate;
        } else {
            const std::int64_t boundary = rate << bin;
            limits[bin] = (boundary + firstBoundaryPerSecond - 1) / firstBoundaryPerSecond;
        }
    }
    return limits;
}

int eventLengthBin(std::int64_t runLength, const EventLengthLimits& limits)
{
    const auto reached = std::upper_bound(limits.begin(), limits.end(), runLength);
    return static_cast<int>(reached - limits.begin());
}

void beginPass(ChannelClipStats& left, ChannelClipStats& right)
{
    left = ChannelClipStats{};
    right = ChannelClipStats{};
}

void countSample(ChannelClipStats& left, ChannelClipStats& right, ClippedFlags clippedNow, std::int16_t rateFactor)
{
    startCounting(left, clippedNow.left);
    startCounting(right, clippedNow.right);
    closeEndedRun(left, clippedNow.left, rateFactor);
    closeEndedRun(right, clippedNow.right, rateFactor);
    left.previousClipped = clippedNow.left;
    right.previousClipped = clippedNow.right;
}

void endPass(ChannelClipStats& left, ChannelClipStats& right, std::int16_t rateFactor)
{
    // As if one unclipped sample followed the last one.
    countSample(left, right, ClippedFlags{}, rateFactor);
}

} // namespace tarvelle
