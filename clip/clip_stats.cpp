#include "clip/clip_stats.hpp"

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

int eventLengthBin(std::int32_t runLength, std::int16_t rateFactor)
{
    int bin = 0;
    while (bin < eventLengthBinCount - 1 &&
           runLength >= baseEventLengthLimits[static_cast<std::size_t>(bin)] * rateFactor) {
        ++bin;
    }
    return bin;
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
