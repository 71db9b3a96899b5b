#include "clip/level_count.hpp"

#include <algorithm>
#include <bit>

namespace tarvelle {

namespace {

// Longer events look their bin up among the limits.
constexpr std::int64_t longestTabledLength = 4096;

int binOf(const LevelCount& count, std::int64_t length)
{
    const auto index = static_cast<std::size_t>(length);
    return index < count.binOfLength.size() ? count.binOfLength[index] : eventLengthBin(length, count.limits);
}

// std::popcount is a library call unless the build targets a processor with
// the instruction; this stays a handful of instructions everywhere.
std::int64_t bitCount(std::uint64_t bits)
{
    bits = bits - (bits >> 1 & 0x5555555555555555ULL);
    bits = (bits & 0x3333333333333333ULL) + (bits >> 2 & 0x3333333333333333ULL);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<std::int64_t>((bits * 0x0101010101010101ULL) >> 56);
}

void endEvent(LevelCount& count, std::size_t channel, std::int64_t endFrame, std::int64_t length)
{
    ++count.channels[channel].eventLengthBins[static_cast<std::size_t>(binOf(count, length))];
    if (count.onEvent) {
        count.onEvent(ClipEvent{static_cast<int>(channel), endFrame - length, length});
    }
}

} // namespace

LevelCount startLevelCount(double clipThreshold, int channelCount, const EventLengthLimits& limits)
{
    LevelCount count;
    count.clipThreshold = clipThreshold;
    count.limits = limits;
    count.channels.resize(static_cast<std::size_t>(channelCount));
    const std::int64_t tabled = std::min(limits.back(), longestTabledLength);
    count.binOfLength.resize(static_cast<std::size_t>(tabled) + 1);
    for (std::int64_t length = 0; length <= tabled; ++length) {
        count.binOfLength[static_cast<std::size_t>(length)] =
            static_cast<std::uint8_t>(eventLengthBin(length, limits));
    }
    return count;
}

void countMask(LevelCount& count, std::size_t channel, std::uint64_t clippedMask, std::size_t frameCount,
               std::int64_t firstFrame)
{
    ChannelClipStats& stats = count.channels[channel];
    if (clippedMask == 0 && !stats.previousClipped) {
        return; // most stretches of most levels
    }
    const std::uint64_t validMask = frameCount == maskFrames ? ~0ULL : (1ULL << frameCount) - 1;
    const std::uint64_t previousMask = clippedMask << 1 | static_cast<std::uint64_t>(stats.previousClipped);
    std::uint64_t startsLeft = clippedMask & ~previousMask;
    std::uint64_t endsLeft = ~clippedMask & previousMask & validMask;

    stats.clippedSamples += bitCount(clippedMask);
    stats.clipEvents += bitCount(startsLeft);
    // A run carried in from the last stretch ends first, or fills this one.
    if (stats.previousClipped) {
        if (endsLeft == 0) {
            stats.runLength += static_cast<std::int64_t>(frameCount);
            return;
        }
        const std::int64_t end = std::countr_zero(endsLeft);
        endEvent(count, channel, firstFrame + end, stats.runLength + end);
        endsLeft &= endsLeft - 1;
        stats.runLength = 0;
    }
    // Starts and ends now alternate, each start before its end: pairing them
    // up needs no branch on which comes next.
    for (; endsLeft != 0; endsLeft &= endsLeft - 1, startsLeft &= startsLeft - 1) {
        const std::int64_t end = std::countr_zero(endsLeft);
        endEvent(count, channel, firstFrame + end, end - std::countr_zero(startsLeft));
    }
    // At most one start is left: a run still open at the end of the stretch.
    stats.previousClipped = startsLeft != 0;
    if (stats.previousClipped) {
        stats.runLength = static_cast<std::int64_t>(frameCount) - std::countr_zero(startsLeft);
    }
}

void finishLevelCount(LevelCount& count)
{
    for (std::size_t channel = 0; channel < count.channels.size(); ++channel) {
        ChannelClipStats& stats = count.channels[channel];
        if (stats.previousClipped) {
            endEvent(count, channel, count.framesCounted, stats.runLength);
            stats.runLength = 0;
            stats.previousClipped = false;
        }
    }
}

} // namespace tarvelle
