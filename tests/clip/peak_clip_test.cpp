#include "clip/peak_clip.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <vector>

namespace tarvelle {
namespace {

// t is the threshold of level k exactly when it is the nearest whole number to
// peak / 2^((k+1)/2), halves up: 2t - 1 <= 2 * peak / 2^((k+1)/2) < 2t + 1.
// Squared, everything stays in integers.
bool isNearestThreshold(std::int64_t threshold, std::int64_t peakLevel, int clipLevel)
{
    const std::int64_t divisorSquared = std::int64_t{1} << (clipLevel + 1);
    const std::int64_t fourPeakSquared = 4 * peakLevel * peakLevel;
    const bool lowEnough =
        threshold == 0 || (2 * threshold - 1) * (2 * threshold - 1) * divisorSquared <= fourPeakSquared;
    const bool highEnough = fourPeakSquared < (2 * threshold + 1) * (2 * threshold + 1) * divisorSquared;
    return threshold >= 0 && lowEnough && highEnough;
}

TEST(ThresholdForLevel, MatchesIntegerArithmeticForEveryPeak)
{
    for (std::int32_t peakLevel = 0; peakLevel <= 32768; ++peakLevel) {
        for (int clipLevel = 0; clipLevel < 6; ++clipLevel) {
            const double threshold = thresholdForLevel(SampleFormat{}, peakLevel, clipLevel);
            ASSERT_TRUE(isNearestThreshold(static_cast<std::int64_t>(threshold), peakLevel, clipLevel))
                << "peak " << peakLevel << ", level " << clipLevel << ", got " << threshold;
        }
    }
}

TEST(ThresholdForLevel, KnownTables)
{
    struct Row {
        std::int32_t peakLevel;
        std::int16_t thresholds[6];
    };
    const Row rows[] = {
        {32767, {23170, 16384, 11585, 8192, 5792, 4096}},
        {32768, {23170, 16384, 11585, 8192, 5793, 4096}},
        {5, {4, 3, 2, 1, 1, 1}},
        {1, {1, 1, 0, 0, 0, 0}},
        {3, {2, 2, 1, 1, 1, 0}},
        {0, {0, 0, 0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        for (int clipLevel = 0; clipLevel < 6; ++clipLevel) {
            EXPECT_EQ(thresholdForLevel(SampleFormat{}, row.peakLevel, clipLevel), row.thresholds[clipLevel])
                << "peak " << row.peakLevel << ", level " << clipLevel;
        }
    }
}

TEST(ThresholdForLevel, EveryFormatRoundsToItsOwnValues)
{
    const struct {
        SampleEncoding encoding;
        double peak;
        std::array<double, clipLevelCount> thresholds;
    } rows[] = {
        {SampleEncoding::UInt8, 128, {91, 64, 45, 32, 23, 16}},
        {SampleEncoding::Int24, 8388608, {5931642, 4194304, 2965821, 2097152, 1482910, 1048576}},
        {SampleEncoding::Int32,
         2147483648.0,
         {1518500250, 1073741824, 759250125, 536870912, 379625062, 268435456}},
        {SampleEncoding::Float32, 1.0, {0x1.6a09e6p-1, 0x1p-1, 0x1.6a09e6p-2, 0x1p-2, 0x1.6a09e6p-3, 0x1p-3}},
        {SampleEncoding::Float32, 0x1.8p-148, {0x1p-148, 0x1p-148, 0x1p-149, 0x1p-149, 0x1p-149, 0}},
        {SampleEncoding::Float64,
         0x1.999999999999ap-4,
         {0x1.21a1851ff630ap-4, 0x1.999999999999ap-5, 0x1.21a1851ff630ap-5, 0x1.999999999999ap-6,
          0x1.21a1851ff630ap-6, 0x1.999999999999ap-7}},
        {SampleEncoding::Float64, 0x5p-1074, {0x4p-1074, 0x2p-1074, 0x2p-1074, 0x1p-1074, 0x1p-1074, 0x1p-1074}},
    };
    for (const auto& row : rows) {
        SampleFormat format;
        format.encoding = row.encoding;
        for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
            EXPECT_EQ(thresholdForLevel(format, row.peak, clipLevel),
                      row.thresholds[static_cast<std::size_t>(clipLevel)])
                << sampleFormatKey(row.encoding) << " peak " << row.peak << ", level " << clipLevel;
        }
    }
}

TEST(FindPeak, LargestMagnitudeOverBothChannels)
{
    const struct {
        std::vector<std::int16_t> samples;
        std::int32_t expected;
    } cases[] = {
        {{}, 0},
        {{0, 0, 0, 0}, 0},
        {{-20000, 19999, 100, -5}, 20000},
        {{1, 2, 3, 32767}, 32767},
        {{0, 0, -32768, 0}, 32768},
        {{5, -4}, 5},
    };
    for (const auto& peakCase : cases) {
        EXPECT_EQ(findPeak(peakCase.samples), peakCase.expected);
    }
}

TEST(LevelDbfs, HundredthsAndNoneForSilence)
{
    // As the summary line shows them, two decimals; never "-0.00".
    const struct {
        std::int32_t level;
        const char* text;
    } cases[] = {{32768, "0.00"}, {32767, "0.00"}, {32567, "-0.05"}, {16384, "-6.02"}, {1, "-90.31"}};
    for (const auto& known : cases) {
        const std::optional<double> decibels = levelDbfs(known.level);
        ASSERT_TRUE(decibels.has_value()) << known.level;
        char text[16];
        std::snprintf(text, sizeof text, "%.2f", *decibels);
        EXPECT_STREQ(text, known.text) << known.level;
    }
    EXPECT_FALSE(levelDbfs(0).has_value());
}

} // namespace
} // namespace tarvelle
