#include "clip/clip_pass.hpp"

#include "clip/peak_clip.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace tarvelle {

namespace {

// Frames per block: one bit of a 64-bit mask per frame and channel.
constexpr std::size_t blockFrames = maskFrames;
constexpr std::size_t blockSamples = 2 * blockFrames;

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

// Bit j of first: sample j of the block was clipped; of second: sample 64 + j.
struct BlockMasks {
    std::uint64_t first = 0;
    std::uint64_t second = 0;
};

// A sample is clipped exactly when holding it within the threshold changes it.
BlockMasks clippedMasksOfPartBlock(const std::int16_t* samples, std::size_t sampleCount,
                                   std::int16_t clipThreshold)
{
    const std::int16_t upper = clipThreshold;
    const auto lower = static_cast<std::int16_t>(-clipThreshold);
    std::uint8_t flags[blockSamples] = {};
    for (std::size_t index = 0; index < sampleCount; ++index) {
        flags[index] = samples[index] != std::clamp(samples[index], lower, upper);
    }
    return BlockMasks{packFlags(flags), packFlags(flags + blockFrames)};
}

BlockMasks clippedMasksOfWholeBlock(const std::int16_t* samples, std::int16_t clipThreshold)
{
#if defined(__SSE2__) || defined(_M_X64)
    // Every x86-64 processor has SSE2: sixteen samples compared and their
    // flags gathered into bits in a handful of instructions.
    const __m128i upper = _mm_set1_epi16(clipThreshold);
    const __m128i lower = _mm_set1_epi16(static_cast<std::int16_t>(-clipThreshold));
    std::uint64_t halves[2] = {};
    for (std::size_t half = 0; half < 2; ++half) {
        for (std::size_t group = 0; group < 4; ++group) {
            const std::int16_t* sixteen = samples + blockFrames * half + 16 * group;
            const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sixteen));
            const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sixteen + 8));
            const __m128i lowClipped = _mm_or_si128(_mm_cmpgt_epi16(low, upper), _mm_cmplt_epi16(low, lower));
            const __m128i highClipped = _mm_or_si128(_mm_cmpgt_epi16(high, upper), _mm_cmplt_epi16(high, lower));
            const auto bits =
                static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(lowClipped, highClipped)));
            halves[half] |= static_cast<std::uint64_t>(bits) << (16 * group);
        }
    }
    return BlockMasks{halves[0], halves[1]};
#else
    return clippedMasksOfPartBlock(samples, blockSamples, clipThreshold);
#endif
}

std::int16_t wholeThreshold(const LevelCount& count)
{
    return static_cast<std::int16_t>(count.clipThreshold);
}

// Both channels' masks of one block at one level.
void countChannels(LevelCount& count, std::uint64_t leftMask, std::uint64_t rightMask, std::size_t frameCount,
                   std::int64_t firstFrame)
{
    countMask(count, 0, leftMask, frameCount, firstFrame);
    countMask(count, 1, rightMask, frameCount, firstFrame);
}

// One block of at most blockSamples samples at one level.
void countBlock(LevelCount& count, const std::int16_t* samples, std::size_t samplesInBlock,
                std::int64_t firstFrame)
{
    // Frames 0-31 interleaved in the first mask, 32-63 in the second.
    const BlockMasks masks = samplesInBlock == blockSamples
                                 ? clippedMasksOfWholeBlock(samples, wholeThreshold(count))
                                 : clippedMasksOfPartBlock(samples, samplesInBlock, wholeThreshold(count));
    countChannels(count, evenBits(masks.first) | evenBits(masks.second) << 32,
                  evenBits(masks.first >> 1) | evenBits(masks.second >> 1) << 32, samplesInBlock / 2, firstFrame);
}

#if defined(__SSE2__) || defined(_M_X64)
// Bit j set where magnitudes[j] > threshold, for 64 magnitudes in 8 vectors.
std::uint64_t maskAbove(const __m128i* magnitudes, __m128i threshold)
{
    std::uint64_t mask = 0;
    for (std::size_t group = 0; group < 4; ++group) {
        const __m128i low = _mm_cmpgt_epi16(magnitudes[2 * group], threshold);
        const __m128i high = _mm_cmpgt_epi16(magnitudes[2 * group + 1], threshold);
        const auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
        mask |= static_cast<std::uint64_t>(bits) << (16 * group);
    }
    return mask;
}

// A whole block at several levels: the channels are pulled apart and their
// magnitudes taken once, after which a level costs a compare per eight
// frames, and a level nothing in the block reaches costs one compare.
void countWholeBlockAtLevels(std::span<LevelCount> levels, std::span<const std::int16_t> thresholds,
                             const std::int16_t* samples, std::int64_t blockFrame)
{
    __m128i leftMagnitudes[8];
    __m128i rightMagnitudes[8];
    __m128i largest = _mm_setzero_si128();
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t pair = 0; pair < 8; ++pair) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 16 * pair));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 16 * pair + 8));
        // Sign-extended halves pack back without saturating: left from the
        // low halves of the 32-bit lanes, right from the high halves.
        const __m128i left = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(first, 16), 16),
                                             _mm_srai_epi32(_mm_slli_epi32(second, 16), 16));
        const __m128i right = _mm_packs_epi32(_mm_srai_epi32(first, 16), _mm_srai_epi32(second, 16));
        // -32768 becomes 32767, which is above every level's threshold just
        // as 32768 would be.
        leftMagnitudes[pair] = _mm_max_epi16(left, _mm_subs_epi16(zero, left));
        rightMagnitudes[pair] = _mm_max_epi16(right, _mm_subs_epi16(zero, right));
        largest = _mm_max_epi16(largest, _mm_max_epi16(leftMagnitudes[pair], rightMagnitudes[pair]));
    }
    largest = _mm_max_epi16(largest, _mm_srli_si128(largest, 8));
    largest = _mm_max_epi16(largest, _mm_srli_si128(largest, 4));
    largest = _mm_max_epi16(largest, _mm_srli_si128(largest, 2));
    const auto blockPeak = static_cast<std::int16_t>(_mm_cvtsi128_si32(largest));

    for (std::size_t index = 0; index < levels.size(); ++index) {
        LevelCount& level = levels[index];
        if (blockPeak <= thresholds[index] && !level.channels[0].previousClipped &&
            !level.channels[1].previousClipped) {
            continue;
        }
        const __m128i threshold = _mm_set1_epi16(thresholds[index]);
        countChannels(level, maskAbove(leftMagnitudes, threshold), maskAbove(rightMagnitudes, threshold),
                      blockFrames, level.framesCounted + blockFrame);
    }
}
#endif

} // namespace

LevelCount startLevelCount(std::int16_t clipThreshold, std::int16_t rateFactor)
{
    return startLevelCount(clipThreshold, 2, eventLengthLimits(44100 * rateFactor));
}

void countSamples(LevelCount& count, std::span<const std::int16_t> interleavedSamples)
{
    countLevels(std::span(&count, 1), interleavedSamples);
}

SixLevelCount startSixLevelCount(std::int32_t peakLevel, std::int16_t rateFactor)
{
    SixLevelCount count;
    for (std::size_t clipLevel = 0; clipLevel < count.levels.size(); ++clipLevel) {
        count.levels[clipLevel] = startLevelCount(
            static_cast<std::int16_t>(thresholdForLevel(SampleFormat{}, peakLevel, static_cast<int>(clipLevel))),
            rateFactor);
    }
    return count;
}

void countLevels(std::span<LevelCount> levels, std::span<const std::int16_t> interleavedSamples)
{
    if (levels.empty()) {
        return;
    }
    std::array<std::int16_t, clipLevelCount> sixThresholds{};
    std::vector<std::int16_t> moreThresholds;
    std::span<std::int16_t> thresholds(sixThresholds);
    if (levels.size() > sixThresholds.size()) {
        moreThresholds.resize(levels.size());
        thresholds = moreThresholds;
    }
    for (std::size_t index = 0; index < levels.size(); ++index) {
        thresholds[index] = wholeThreshold(levels[index]);
    }
    const std::size_t sampleCount = interleavedSamples.size() & ~std::size_t{1};
    for (std::size_t blockStart = 0; blockStart < sampleCount; blockStart += blockSamples) {
        const std::int16_t* samples = interleavedSamples.data() + blockStart;
        const std::size_t samplesInBlock = std::min(blockSamples, sampleCount - blockStart);
#if defined(__SSE2__) || defined(_M_X64)
        if (samplesInBlock == blockSamples) {
            countWholeBlockAtLevels(levels, thresholds, samples, static_cast<std::int64_t>(blockStart / 2));
            continue;
        }
#endif
        for (LevelCount& level : levels) {
            countBlock(level, samples, samplesInBlock,
                       level.framesCounted + static_cast<std::int64_t>(blockStart / 2));
        }
    }
    for (LevelCount& level : levels) {
        level.framesCounted += static_cast<std::int64_t>(sampleCount / 2);
    }
}

void countSixLevels(SixLevelCount& count, std::span<const std::int16_t> interleavedSamples)
{
    countLevels(count.levels, interleavedSamples);
}

void finishSixLevelCount(SixLevelCount& count)
{
    for (LevelCount& level : count.levels) {
        finishLevelCount(level);
    }
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
