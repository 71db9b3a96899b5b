#include "clip/clip_pass.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace tarvelle {

namespace {

// Frames per block: one bit of a 64-bit mask per frame and channel.
constexpr std::size_t blockFrames = 64;

// Bins of every event length below the last limit at the highest rate, so an
// event's bin costs one load.
struct BinTable {
    std::vector<std::uint8_t> binOfLength;

    int binOf(std::int32_t runLength) const
    {
        const auto index = static_cast<std::size_t>(runLength);
        return index < binOfLength.size() ? binOfLength[index] : eventLengthBinCount - 1;
    }
};

BinTable makeBinTable(std::int16_t rateFactor)
{
    BinTable table;
    const std::int32_t longestLength = 565 * rateFactor;
    table.binOfLength.resize(static_cast<std::size_t>(longestLength) + 1);
    for (std::int32_t length = 0; length <= longestLength; ++length) {
        table.binOfLength[static_cast<std::size_t>(length)] =
            static_cast<std::uint8_t>(eventLengthBin(length, rateFactor));
    }
    return table;
}

// Bit j set where flags[j] is 1.
std::uint64_t packFlags(const std::uint8_t (&flags)[blockFrames])
{
    std::uint64_t mask = 0;
    for (std::size_t group = 0; group < blockFrames / 8; ++group) {
        std::uint64_t eightFlags = 0;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&eightFlags, flags + 8 * group, 8);
        } else {
            for (std::size_t index = 0; index < 8; ++index) {
                eightFlags |= static_cast<std::uint64_t>(flags[8 * group + index]) << (8 * index);
            }
        }
        // Gathers the low bit of each byte into the top byte, byte i to bit 56 + i.
        mask |= (eightFlags * 0x0102040810204080ULL) >> 56 << (8 * group);
    }
    return mask;
}

// Where the current run began inside the block; runLength holds what it had
// before the block.
struct OpenRun {
    std::size_t startInBlock = 0;
};

// Counts the events of one channel over one block of frameCount frames, bit j
// of clippedMask being frame j.
void countBlock(ChannelClipStats& channel, std::uint64_t clippedMask, std::size_t frameCount, const BinTable& bins)
{
    const std::uint64_t validMask = frameCount == blockFrames ? ~0ULL : (1ULL << frameCount) - 1;
    const std::uint64_t previousMask = clippedMask << 1 | static_cast<std::uint64_t>(channel.previousClipped);
    const std::uint64_t starts = clippedMask & ~previousMask;
    const std::uint64_t ends = ~clippedMask & previousMask & validMask;

    channel.clippedSamples += std::popcount(clippedMask);
    channel.clipEvents += std::popcount(starts);

    OpenRun run;
    for (std::uint64_t edges = starts | ends; edges != 0; edges &= edges - 1) {
        const auto position = static_cast<std::size_t>(std::countr_zero(edges));
        if (ends >> position & 1) {
            const auto length = channel.runLength + static_cast<std::int32_t>(position - run.startInBlock);
            ++channel.eventLengthBins[static_cast<std::size_t>(bins.binOf(length))];
        } else {
            run.startInBlock = position;
        }
        channel.runLength = 0;
    }
    channel.previousClipped = (clippedMask >> (frameCount - 1) & 1) != 0;
    if (channel.previousClipped) {
        channel.runLength += static_cast<std::int32_t>(frameCount - run.startInBlock);
    }
}

} // namespace

void clipAndCountLevel(std::span<const std::int16_t> leftSamples, std::span<const std::int16_t> rightSamples,
                       std::int16_t clipThreshold, std::int16_t rateFactor, std::span<std::int16_t> interleavedSamples,
                       ChannelClipStats& left, ChannelClipStats& right)
{
    beginPass(left, right);
    const BinTable bins = makeBinTable(rateFactor);
    const std::int16_t upper = clipThreshold;
    const auto lower = static_cast<std::int16_t>(-clipThreshold);
    const std::size_t frameCount = leftSamples.size();

    for (std::size_t blockStart = 0; blockStart < frameCount; blockStart += blockFrames) {
        const std::size_t framesInBlock = std::min(blockFrames, frameCount - blockStart);
        const std::int16_t* leftIn = leftSamples.data() + blockStart;
        const std::int16_t* rightIn = rightSamples.data() + blockStart;
        std::int16_t* out = interleavedSamples.data() + 2 * blockStart;
        std::uint8_t leftFlags[blockFrames] = {};
        std::uint8_t rightFlags[blockFrames] = {};
        // Branch-free so that the compiler can vectorise it; a sample is clipped
        // exactly when clamping changes it.
        for (std::size_t frame = 0; frame < framesInBlock; ++frame) {
            const std::int16_t leftClipped = std::clamp(leftIn[frame], lower, upper);
            const std::int16_t rightClipped = std::clamp(rightIn[frame], lower, upper);
            out[2 * frame] = leftClipped;
            out[2 * frame + 1] = rightClipped;
            leftFlags[frame] = leftClipped != leftIn[frame];
            rightFlags[frame] = rightClipped != rightIn[frame];
        }
        countBlock(left, packFlags(leftFlags), framesInBlock, bins);
        countBlock(right, packFlags(rightFlags), framesInBlock, bins);
    }
    endPass(left, right, rateFactor);
}

} // namespace tarvelle
