#include "clip/clip_pass.hpp"

#include "clip/any_format_count.hpp"

#include "clip/peak_clip.hpp"
#include "support/clip_reference.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace tarvelle {
namespace {

struct PassResult {
    std::vector<std::int16_t> interleaved;
    ChannelClipStats left;
    ChannelClipStats right;
};

// The pass the way the program runs it: counted, then clipped, from the
// interleaved input.
PassResult fusedPass(const std::vector<std::int16_t>& leftSamples, const std::vector<std::int16_t>& rightSamples,
                     std::int16_t clipThreshold, std::int16_t rateFactor)
{
    const std::vector<std::int16_t> input = testing::interleave(leftSamples, rightSamples);
    LevelCount count = startLevelCount(clipThreshold, rateFactor);
    countSamples(count, input);
    finishLevelCount(count);
    PassResult result{std::vector<std::int16_t>(input.size(), 0x7777), count.channels[0], count.channels[1]};
    clipSamples(input, clipThreshold, result.interleaved);
    return result;
}

void expectSameStats(const ChannelClipStats& fused, const ChannelClipStats& plain)
{
    EXPECT_EQ(fused.clippedSamples, plain.clippedSamples);
    EXPECT_EQ(fused.clipEvents, plain.clipEvents);
    EXPECT_EQ(fused.eventLengthBins, plain.eventLengthBins);
}

// Signals of several kinds: noise, long loud stretches, sparse spikes, square
// waves whose runs straddle the fused pass's blocks, spikes on block edges.
std::vector<std::int16_t> makeSignal(std::mt19937& random, std::size_t frameCount, int kind)
{
    std::vector<std::int16_t> samples(frameCount);
    std::uniform_int_distribution<int> full(-32768, 32767);
    std::uniform_int_distribution<int> period(1, 3000);
    const int squarePeriod = period(random);
    for (std::size_t index = 0; index < frameCount; ++index) {
        int value = 0;
        switch (kind) {
        case 0:
            value = full(random);
            break;
        case 1:
            value = (index / static_cast<std::size_t>(squarePeriod)) % 2 ? 30000 : -32768;
            break;
        case 2:
            value = random() % 97 == 0 ? full(random) : 0;
            break;
        case 5:
            // Events that end on a block's last frame and start again on the
            // first frame after a quiet block.
            value = index % 128 == 0 || index % 128 == 63 ? 30000 : 0;
            break;
        default:
            value = static_cast<int>(20000.0 * std::sin(static_cast<double>(index) / (1 + kind)));
            break;
        }
        samples[index] = static_cast<std::int16_t>(value);
    }
    return samples;
}

TEST(CountLevelAndClipSamples, MatchesThePlainPassOnVariedInputs)
{
    std::mt19937 random(20261207);
    const std::size_t frameCounts[] = {0, 1, 2, 63, 64, 65, 127, 128, 129, 1000, 4096, 50000};
    for (const std::size_t frameCount : frameCounts) {
        for (int leftKind = 0; leftKind < 6; ++leftKind) {
            const int rightKind = (leftKind + 2) % 5;
            const std::vector<std::int16_t> left = makeSignal(random, frameCount, leftKind);
            const std::vector<std::int16_t> right = makeSignal(random, frameCount, rightKind);
            const std::vector<std::int16_t> interleaved = testing::interleave(left, right);
            const std::int32_t peakLevel = findPeak(interleaved);
            for (const std::int16_t rateFactor : {std::int16_t{1}, std::int16_t{2}, std::int16_t{4}}) {
                // All six levels in one sweep, fed in two stretches that split a block.
                // So too, by way of doubles, for formats other than 16-bit stereo.
                SixLevelCount sixLevels = startSixLevelCount(peakLevel, rateFactor);
                std::array<LevelCount, clipLevelCount> anyFormat;
                std::array<std::vector<ClipEvent>, clipLevelCount> sixEvents;
                std::array<std::vector<ClipEvent>, clipLevelCount> anyFormatEvents;
                for (std::size_t level = 0; level < sixEvents.size(); ++level) {
                    const auto collect = [](std::vector<ClipEvent>& events) {
                        return [&events](const ClipEvent& event) { events.push_back(event); };
                    };
                    sixLevels.levels[level].onEvent = collect(sixEvents[level]);
                    anyFormat[level] = startLevelCount(sixLevels.levels[level].clipThreshold, 2,
                                                       eventLengthLimits(44100 * rateFactor));
                    anyFormat[level].onEvent = collect(anyFormatEvents[level]);
                }
                const std::vector<double> asDoubles(interleaved.begin(), interleaved.end());
                const std::size_t split = 2 * (frameCount / 3);
                countSixLevels(sixLevels, std::span(interleaved).first(split));
                countSixLevels(sixLevels, std::span(interleaved).subspan(split));
                finishSixLevelCount(sixLevels);
                countFrames(anyFormat, std::span(asDoubles).first(split));
                countFrames(anyFormat, std::span(asDoubles).subspan(split));
                const auto byChannel = [](std::vector<ClipEvent> events) {
                    std::stable_sort(events.begin(), events.end(),
                                     [](const ClipEvent& a, const ClipEvent& b) { return a.channel < b.channel; });
                    return events;
                };
                for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
                    const auto threshold =
                        static_cast<std::int16_t>(thresholdForLevel(SampleFormat{}, peakLevel, clipLevel));
                    SCOPED_TRACE(::testing::Message()
                                 << frameCount << " frames, kinds " << leftKind << "/" << rightKind << ", factor "
                                 << rateFactor << ", threshold " << threshold);
                    const testing::ReferencePass plain =
                        testing::referencePass(left, right, threshold, rateFactor);
                    const PassResult fused = fusedPass(left, right, threshold, rateFactor);
                    ASSERT_EQ(fused.interleaved, plain.interleaved);
                    expectSameStats(fused.left, plain.left);
                    expectSameStats(fused.right, plain.right);
                    const auto level = static_cast<std::size_t>(clipLevel);
                    const LevelCount& oneOfSix = sixLevels.levels[level];
                    EXPECT_EQ(oneOfSix.clipThreshold, threshold);
                    expectSameStats(oneOfSix.channels.at(0), plain.left);
                    expectSameStats(oneOfSix.channels.at(1), plain.right);
                    EXPECT_EQ(byChannel(sixEvents[level]), plain.events);
                    finishLevelCount(anyFormat[level]);
                    expectSameStats(anyFormat[level].channels.at(0), plain.left);
                    expectSameStats(anyFormat[level].channels.at(1), plain.right);
                    EXPECT_EQ(byChannel(anyFormatEvents[level]), plain.events);
                }
            }
        }
    }
}

TEST(CountLevelAndClipSamples, EdgeThresholds)
{
    const std::vector<std::int16_t> left = {0, 1, -1, 32767, -32768, 2, -2, 0};
    const std::vector<std::int16_t> right = {-32768, -32768, 0, 0, 5, -5, 5, -5};
    for (const std::int16_t threshold : {std::int16_t{0}, std::int16_t{1}, std::int16_t{5}, std::int16_t{23170}}) {
        SCOPED_TRACE(threshold);
        const testing::ReferencePass plain = testing::referencePass(left, right, threshold, 1);
        const PassResult fused = fusedPass(left, right, threshold, 1);
        EXPECT_EQ(fused.interleaved, plain.interleaved);
        expectSameStats(fused.left, plain.left);
        expectSameStats(fused.right, plain.right);
    }
}

TEST(CountLevelAndClipSamples, BoundariesAndPolarity)
{
    const struct {
        std::int16_t threshold;
        std::int16_t input;
        std::int16_t output;
        bool clipped;
    } cases[] = {
        {23170, 23170, 23170, false},
        {23170, -23170, -23170, false},
        {23170, 23171, 23170, true},
        {23170, -23171, -23170, true},
        {23170, -32767, -23170, true},
        {23170, -32768, -23170, true},
        {4096, -32768, -4096, true},
        {0, 0, 0, false},
        {0, 1, 0, true},
        {0, -1, 0, true},
        {1, -1, -1, false},
        {1, 2, 1, true},
    };
    for (const auto& clipCase : cases) {
        SCOPED_TRACE(::testing::Message() << clipCase.threshold << " " << clipCase.input);
        const PassResult fused = fusedPass({clipCase.input}, {0}, clipCase.threshold, 1);
        EXPECT_EQ(fused.interleaved, (std::vector<std::int16_t>{clipCase.output, 0}));
        EXPECT_EQ(fused.left.clippedSamples, clipCase.clipped ? 1 : 0);
        EXPECT_EQ(fused.right.clippedSamples, 0);
    }
}

TEST(CountLevelAndClipSamples, PositiveThenNegativeClippingIsOneEvent)
{
    const std::vector<std::int16_t> left = {0, 100, -100, 0};
    const std::vector<std::int16_t> right = {0, 0, 0, 0};
    const PassResult fused = fusedPass(left, right, 50, 1);
    EXPECT_EQ(fused.interleaved, (std::vector<std::int16_t>{0, 0, 50, 0, -50, 0, 0, 0}));
    EXPECT_EQ(fused.left.clipEvents, 1);
    EXPECT_EQ(fused.left.eventLengthBins[1], 1);
}

// The peak eight at a time: wherever the largest magnitude or the first
// sample that is no number falls, in a whole eight or in the rest after them.
TEST(TakePeak, FindsThePeakAndTheFirstNonFiniteSampleAnywhere)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const struct {
        std::size_t peakAt;
        std::size_t badAt; // none past the end
        double bad;
        std::int64_t firstNonFinite;
    } cases[] = {{0, 99, 0.0, -1},       {13, 99, 0.0, -1},       {36, 99, 0.0, -1}, {5, 6, nan, 106},
                 {5, 6, -infinity, 106}, {20, 34, infinity, 134}, {33, 12, nan, 112}};
    for (const auto& peakCase : cases) {
        std::vector<double> samples(37);
        for (std::size_t index = 0; index < samples.size(); ++index) {
            samples[index] = (index % 2 == 0 ? 0.5 : -0.5) * static_cast<double>(index % 5) / 5.0;
        }
        samples[peakCase.peakAt] = -0.9;
        if (peakCase.badAt < samples.size()) {
            samples[peakCase.badAt] = peakCase.bad;
            samples[peakCase.badAt + 2] = nan; // only the first is told
        }
        AnyFormatPeak peak;
        takePeak(peak, samples, 100);
        EXPECT_EQ(peak.peak, 0.9) << peakCase.peakAt;
        EXPECT_EQ(peak.firstNonFinite, peakCase.firstNonFinite) << peakCase.badAt;
    }
}

} // namespace
} // namespace tarvelle
