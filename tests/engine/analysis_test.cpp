#include "engine/analysis.hpp"

#include "analysis/clipping_check.hpp"
#include "analysis/event_listeners.hpp"
#include "analysis/level_counts.hpp"
#include "analysis/loudness_analysis.hpp"
#include "analysis/peak.hpp"
#include "analysis/picture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace tarvelle {
namespace {

constexpr int channels = 2;
constexpr std::int32_t sampleRate = 8000; // long enough for a loudness block

// Stereo frames of a tone with runs at the peak and near it, so that every
// level and the check find events, some of them across any split point.
std::vector<std::int16_t> clippingSamples()
{
    std::vector<std::int16_t> samples;
    for (int frame = 0; frame < 6000; ++frame) {
        const double tone = 20000.0 * std::sin(frame * 0.05);
        const bool atPeak = frame % 997 < 5 + frame % 3;
        samples.push_back(atPeak ? std::int16_t{32767} : static_cast<std::int16_t>(tone));
        samples.push_back(static_cast<std::int16_t>(frame % 1500 < 40 ? -32768 : -tone / 2));
    }
    return samples;
}

// The events in start order: a kernel tells those ending in one block in an
// order of its own.
std::vector<ClipEvent> sorted(std::vector<ClipEvent> events)
{
    std::sort(events.begin(), events.end(), [](const ClipEvent& a, const ClipEvent& b) {
        return std::tie(a.startFrame, a.channel) < std::tie(b.startFrame, b.channel);
    });
    return events;
}

template <class Sample> std::array<LevelCount, clipLevelCount> startCounts(double peak)
{
    if constexpr (std::is_same_v<Sample, std::int16_t>) {
        return startSixLevelCount(static_cast<std::int32_t>(peak), 1).levels;
    } else {
        std::array<LevelCount, clipLevelCount> counts;
        for (std::size_t level = 0; level < counts.size(); ++level) {
            counts[level] = startLevelCount(thresholdForLevel(SampleFormat{}, peak, static_cast<int>(level)),
                                            channels, eventLengthLimits(sampleRate));
        }
        return counts;
    }
}

// Every analysis over the samples in blocks that end at the given frames,
// through the interface as a read feeds them.
template <class Sample> JobResult analyse(const std::vector<Sample>& samples, std::vector<std::size_t> splitFrames)
{
    JobResult result;
    result.check.emplace();
    JobOutputs outputs; // nothing begun: the counts write no files
    EventListeners listeners;
    KeptEvents kept(result);
    listeners.add(kept);
    PeakAnalysis<Sample> peakAnalysis;
    peakAnalysis.add(samples);
    const double peak = peakAnalysis.peak().value();
    auto counts = startCounts<Sample>(peak);
    std::array<double, clipLevelCount> thresholds{};
    for (std::size_t level = 0; level < counts.size(); ++level) {
        thresholds[level] = counts[level].clipThreshold;
    }
    const std::uint64_t frames = samples.size() / channels;
    Picture<Sample> picture(PlotHeading{"take.wav", sampleRate, "16-bit PCM, 2 channels", 32768.0, {}, {}},
                            channels, frames, thresholds, true);
    listeners.add(picture);
    for (std::size_t level = 0; level < counts.size(); ++level) {
        counts[level].onEvent = listeners.levelSink(level);
    }
    ClippingCheck<Sample> check(ExistingClipFormat{channels, 32768.0, false}, 3, listeners.existingSink());
    LoudnessAnalysis<Sample> loudness(channels, sampleRate, 0, 32768.0, samples.size());
    const auto reportText = [](int clipLevel, const std::vector<ChannelClipStats>& stats) {
        return std::to_string(clipLevel) + ":" + std::to_string(stats[0].clipEvents + stats[1].clipEvents);
    };
    LevelCounts<Sample> low(0, std::span(counts).first(3), SampleFormat{}, outputs, samples.size(), reportText);
    LevelCounts<Sample> high(3, std::span(counts).subspan(3), SampleFormat{}, outputs, samples.size(), reportText);
    const std::vector<Analysis<Sample>*> analyses = {&loudness, &check, &low, &high, &picture};
    splitFrames.push_back(frames);
    std::size_t from = 0;
    for (const std::size_t to : splitFrames) {
        for (Analysis<Sample>* analysis : analyses) {
            analysis->add(std::span(samples).subspan(from * channels, (to - from) * channels));
        }
        from = to;
    }
    for (Analysis<Sample>* analysis : analyses) {
        analysis->finish(result);
    }
    listeners.eventsEnded(result);
    return result;
}

template <class Sample> class AnalysisTest : public ::testing::Test {
};
using SampleTypes = ::testing::Types<std::int16_t, double>;
TYPED_TEST_SUITE(AnalysisTest, SampleTypes);

TYPED_TEST(AnalysisTest, ABlockBoundaryAnywhereGivesTheSameResult)
{
    const std::vector<std::int16_t> pcm = clippingSamples();
    const std::vector<TypeParam> samples(pcm.begin(), pcm.end());
    const JobResult whole = analyse(samples, {});
    // The fixture is worth its name: every level and the check found events.
    for (const LevelResult& level : whole.levels) {
        EXPECT_FALSE(level.events.empty()) << level.stats.clipLevel;
    }
    ASSERT_FALSE(whole.check->runs.empty());
    ASSERT_TRUE(whole.loudness && whole.loudness->integratedLufs);
    const std::vector<std::vector<std::size_t>> splits = {
        {1}, {997}, {998, 999, 1000}, {2999, 3000}, {5999}, {1, 2, 3, 1500, 1501, 4000},
    };
    for (const std::vector<std::size_t>& split : splits) {
        const JobResult blocks = analyse(samples, split);
        for (std::size_t level = 0; level < clipLevelCount; ++level) {
            EXPECT_EQ(sorted(blocks.levels[level].events.toVector()),
                      sorted(whole.levels[level].events.toVector()))
                << level;
            EXPECT_EQ(blocks.reports[level], whole.reports[level]);
            for (std::size_t channel = 0; channel < channels; ++channel) {
                const ChannelClipStats& got = blocks.levels[level].stats.channels.at(channel);
                const ChannelClipStats& wanted = whole.levels[level].stats.channels.at(channel);
                EXPECT_EQ(got.clippedSamples, wanted.clippedSamples);
                EXPECT_EQ(got.eventLengthBins, wanted.eventLengthBins);
            }
        }
        EXPECT_EQ(blocks.check->clipping, whole.check->clipping);
        EXPECT_EQ(blocks.check->runs.toVector(), whole.check->runs.toVector());
        EXPECT_EQ(blocks.loudness->truePeakDbtp, whole.loudness->truePeakDbtp);
        EXPECT_EQ(blocks.loudness->integratedLufs, whole.loudness->integratedLufs);
        EXPECT_EQ(blocks.loudness->loudnessRange, whole.loudness->loudnessRange);
        EXPECT_EQ(blocks.plotText, whole.plotText);
    }
}

} // namespace
} // namespace tarvelle
