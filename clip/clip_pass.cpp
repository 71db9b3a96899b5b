#include "clip/clip_pass.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace tarvelle {

namespace {

// Frames per block: one bit of a 64-bit mask per frame and channel.
constexpr std::size_t blockFrames = 64;
constexpr std::size_t blockSamples = 2 * blockFrames;

// Bins of every event length below the last limit at this rate, so an
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

// Bit j set where flags[j] is 1, for the 64 flags from flags.
std::uint64_t packFlags(const std::uint8_t* flags)
{
    std::uint64_t mask = 0;
    for (std::size_t group = 0; group < 8; ++group) {
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

// Bits 0, 2, 4 ... 62 of bits moved to bits 0 to 31.
std::uint64_t evenBits(std::uint64_t bits)
{
    bits &= 0x5555555555555555ULL;
    bits = (bits | bits >> 1) & 0x3333333333333333ULL;
    bits = (bits | bits >> 2) & 0x0F0F0F0F0F0F0F0FULL;
    bits = (bits | bits >> 4) & 0x00FF00FF00FF00FFULL;
    bits = (bits | bits >> 8) & 0x0000FFFF0000FFFFULL;
    bits = (bits | bits >> 16) & 0x00000000FFFFFFFFULL;
    return bits;
}

// Whether no sample of the block lies beyond the threshold; the extremes
// alone decide, in a loop the compiler vectorises.
bool blockWithinThreshold(const std::int16_t* samples, std::size_t sampleCount, std::int16_t clipThreshold)
{
    std::int16_t lowest = 0;
    std::int16_t highest = 0;
    for (std::size_t index = 0; index < sampleCount; ++index) {
        lowest = std::min(lowest, samples[index]);
        highest = std::max(highest, samples[index]);
    }
    return highest <= clipThreshold && lowest >= -clipThreshold;
}

// std::popcount is a library call unless the build targets a processor with
// the instruction; this stays a handful of instructions everywhere.
std::int32_t bitCount(std::uint64_t bits)
{
    bits = bits - (bits >> 1 & 0x5555555555555555ULL);
    bits = (bits & 0x3333333333333333ULL) + (bits >> 2 & 0x3333333333333333ULL);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<std::int32_t>((bits * 0x0101010101010101ULL) >> 56);
}

// Counts the events of one channel over a block of frameCount frames, bit j of
// clippedMask being frame j.
void countBlockEvents(ChannelClipStats& channel, std::uint64_t clippedMask, std::size_t frameCount,
                      const BinTable& bins)
{
    const std::uint64_t validMask = frameCount == blockFrames ? ~0ULL : (1ULL << frameCount) - 1;
    const std::uint64_t previousMask = clippedMask << 1 | static_cast<std::uint64_t>(channel.previousClipped);
    const std::uint64_t starts = clippedMask & ~previousMask;
    const std::uint64_t ends = ~clippedMask & previousMask & validMask;

    channel.clippedSamples += bitCount(clippedMask);
    if (clippedMask == 0 && !channel.previousClipped) {
        return;
    }
    // Where the run now open began in this block; runLength holds what it
    // had before the block.
    std::size_t runStart = 0;
    for (std::uint64_t edges = starts | ends; edges != 0; edges &= edges - 1) {
        const auto position = static_cast<std::size_t>(std::countr_zero(edges));
        if (ends >> position & 1) {
            const auto length = channel.runLength + static_cast<std::int32_t>(position - runStart);
            ++channel.eventLengthBins[static_cast<std::size_t>(bins.binOf(length))];
        } else {
            ++channel.clipEvents;
            runStart = position;
        }
        channel.runLength = 0;
    }
    channel.previousClipped = (clippedMask >> (frameCount - 1) & 1) != 0;
    if (channel.previousClipped) {
        channel.runLength += static_cast<std::int32_t>(frameCount - runStart);
    }
}

} // namespace

void countLevel(std::span<const std::int16_t> interleavedSamples, std::int16_t clipThreshold, std::int16_t rateFactor,
                ChannelClipStats& left, ChannelClipStats& right)
{
    beginPass(left, right);
    const BinTable bins = makeBinTable(rateFactor);
    const std::int16_t upper = clipThreshold;
    const auto lower = static_cast<std::int16_t>(-clipThreshold);
    const std::size_t sampleCount = interleavedSamples.size() & ~std::size_t{1};

    for (std::size_t blockStart = 0; blockStart < sampleCount; blockStart += blockSamples) {
        const std::size_t samplesInBlock = std::min(blockSamples, sampleCount - blockStart);
        const std::int16_t* samples = interleavedSamples.data() + blockStart;
        if (blockWithinThreshold(samples, samplesInBlock, clipThreshold)) {
            // Most blocks of most levels: nothing clipped, at most a run to close.
            countBlockEvents(left, 0, samplesInBlock / 2, bins);
            countBlockEvents(right, 0, samplesInBlock / 2, bins);
            continue;
        }
        std::uint8_t flags[blockSamples] = {};
        // Branch-free so that the compiler can vectorise it; a sample is
        // clipped exactly when holding it within the threshold changes it.
        for (std::size_t index = 0; index < samplesInBlock; ++index) {
            flags[index] = samples[index] != std::clamp(samples[index], lower, upper);
        }
        // Frames 0-31 interleaved in the first mask, 32-63 in the second.
        const std::uint64_t firstHalf = packFlags(flags);
        const std::uint64_t secondHalf = packFlags(flags + blockFrames);
        const std::uint64_t leftMask = evenBits(firstHalf) | evenBits(secondHalf) << 32;
        const std::uint64_t rightMask = evenBits(firstHalf >> 1) | evenBits(secondHalf >> 1) << 32;
        countBlockEvents(left, leftMask, samplesInBlock / 2, bins);
        countBlockEvents(right, rightMask, samplesInBlock / 2, bins);
    }
    endPass(left, right, rateFactor);
}

void clipSamples(std::span<const std::int16_t> samples, std::int16_t clipThreshold,
                 std::span<std::int16_t> clippedSamples)
{
    const std::int16_t upper = clipThreshold;
    const auto lower = static_cast<std::int16_t>(-clipThreshold);
    for (std::size_t index = 0; index < samples.size(); ++index) {
        clippedSamples[index] = std::clamp(samples[index], lower, upper);
    }
}

} // namespace tarvelle
