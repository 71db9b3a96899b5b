#include "clip/plot_gatherer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tarvelle {
namespace {

constexpr std::array<double, clipLevelCount> thresholds = {700, 500, 350, 250, 177, 125};
constexpr std::uint64_t totalFrames = 12000;

struct Burst {
    std::size_t channel;
    std::uint64_t startFrame;
    std::uint64_t length;
    double value;
};

// Runs across columns and the 1024-frame chunks, runs that end where a
// column or chunk without clipping begins, two touching runs of different
// heights, a run exactly at a threshold and one still open at the end.
const std::vector<Burst> bursts = {
    {0, 95, 10, 400},  {1, 1020, 12, -800}, {0, 2040, 8, 400}, {1, 3990, 10, 400}, {0, 5000, 3, 200},
    {0, 7000, 4, 400}, {0, 7004, 4, -800},  {0, 9000, 2, 700}, {1, 11995, 5, 600},
};

std::vector<double> burstSamples()
{
    std::vector<double> samples(totalFrames * 2);
    for (std::size_t index = 0; index < samples.size(); ++index) {
        samples[index] = index / 2 % 2 == 0 ? 30 : -30;
    }
    for (const Burst& burst : bursts) {
        for (std::uint64_t frame = burst.startFrame; frame < burst.startFrame + burst.length; ++frame) {
            samples[frame * 2 + burst.channel] = burst.value;
        }
    }
    return samples;
}

TEST(PlotGatherer, ColumnsHoldTheClippingWhateverTheBlocks)
{
    const std::vector<double> samples = burstSamples();

    // 10 frames a column, or 3000 so that chunks end inside columns.
    for (const std::size_t columns : {1200, 4}) {
        SCOPED_TRACE(columns);
        const std::uint64_t columnFrames = totalFrames / columns;
        // What each column must show, straight from the definitions: a sample
        // is clipped above its level's threshold, an event starts at a clipped
        // sample whose predecessor in its channel is not.
        PlotData expected;
        expected.minimum.assign(2 * columns, 1e9);
        expected.maximum.assign(2 * columns, -1e9);
        std::array<std::uint64_t, clipLevelCount> eventsPerLevel{};
        for (std::size_t level = 0; level < clipLevelCount; ++level) {
            PlotClipping& clipping = expected.levels[level];
            clipping = {std::vector<std::uint64_t>(columns), std::vector<std::uint64_t>(columns),
                        std::vector<std::uint64_t>(columns, totalFrames), std::vector<std::uint64_t>(columns)};
            for (std::size_t channel = 0; channel < 2; ++channel) {
                for (std::uint64_t frame = 0; frame < totalFrames; ++frame) {
                    const std::size_t column = frame / columnFrames;
                    const double sample = samples[frame * 2 + channel];
                    double& minimum = expected.minimum[channel * columns + column];
                    double& maximum = expected.maximum[channel * columns + column];
                    minimum = std::min(minimum, sample);
                    maximum = std::max(maximum, sample);
                    if (std::fabs(sample) <= thresholds[level]) {
                        continue;
                    }
                    ++clipping.clippedSamples[column];
                    if (frame == 0 || std::fabs(samples[(frame - 1) * 2 + channel]) <= thresholds[level]) {
                        ++clipping.eventStarts[column];
                        ++eventsPerLevel[level];
                    }
                    clipping.firstClippedFrame[column] = std::min(clipping.firstClippedFrame[column], frame);
                    clipping.endClippedFrame[column] = std::max(clipping.endClippedFrame[column], frame + 1);
                }
            }
            for (std::size_t column = 0; column < columns; ++column) {
                if (clipping.clippedSamples[column] == 0) {
                    clipping.firstClippedFrame[column] = 0;
                }
            }
        }
        // The bursts by hand, so that the reference above is not wrong alike.
        EXPECT_EQ(eventsPerLevel, (std::array<std::uint64_t, clipLevelCount>{2, 4, 7, 7, 8, 8}));

        const std::vector<std::vector<std::size_t>> blockPatterns = {{totalFrames}, {1, 7, 300, 2, 1000, 33}};
        for (const std::vector<std::size_t>& pattern : blockPatterns) {
            SCOPED_TRACE(pattern.size());
            PlotGatherer gatherer(2, totalFrames, thresholds, static_cast<int>(columns));
            for (std::size_t frame = 0, block = 0; frame < totalFrames; ++block) {
                const std::size_t frames = std::min(pattern[block % pattern.size()], totalFrames - frame);
                gatherer.addFrames(std::span<const double>(samples).subspan(frame * 2, frames * 2));
                frame += frames;
            }
            const PlotData data = gatherer.finish();
            ASSERT_EQ(data.columnCount, static_cast<int>(columns));
            EXPECT_EQ(data.columnStartFrame[1], columnFrames);
            EXPECT_EQ(data.columnStartFrame[columns], totalFrames);
            EXPECT_EQ(data.minimum, expected.minimum);
            EXPECT_EQ(data.maximum, expected.maximum);
            for (std::size_t level = 0; level < clipLevelCount; ++level) {
                SCOPED_TRACE(level);
                EXPECT_EQ(data.levels[level].clippedSamples, expected.levels[level].clippedSamples);
                EXPECT_EQ(data.levels[level].eventStarts, expected.levels[level].eventStarts);
                EXPECT_EQ(data.levels[level].firstClippedFrame, expected.levels[level].firstClippedFrame);
                EXPECT_EQ(data.levels[level].endClippedFrame, expected.levels[level].endClippedFrame);
            }
            EXPECT_FALSE(data.hasExistingClipping);
        }
    }
}

TEST(PlotGatherer, ExistingRunsCountOnceAndStayInTheFile)
{
    PlotGatherer gatherer(2, totalFrames, thresholds);
    gatherer.addExistingRun(1, 95, 20);              // columns 9 to 11
    gatherer.addExistingRun(0, totalFrames, 5);      // past the end: nothing
    gatherer.addExistingRun(0, totalFrames - 3, 50); // cut at the end
    EXPECT_THROW(gatherer.addExistingRun(2, 0, 1), std::invalid_argument);
    const PlotData data = gatherer.finish();
    ASSERT_TRUE(data.hasExistingClipping);
    const PlotClipping& existing = data.existing;
    EXPECT_EQ((std::vector<std::uint64_t>{existing.clippedSamples[9], existing.clippedSamples[10],
                                          existing.clippedSamples[11], existing.clippedSamples[1199]}),
              (std::vector<std::uint64_t>{5, 10, 5, 3}));
    EXPECT_EQ((std::vector<std::uint64_t>{existing.eventStarts[9], existing.eventStarts[10],
                                          existing.eventStarts[11], existing.eventStarts[1199]}),
              (std::vector<std::uint64_t>{1, 0, 0, 1}));
    EXPECT_EQ(existing.firstClippedFrame[9], 95u);
    EXPECT_EQ(existing.endClippedFrame[11], 115u);
    EXPECT_EQ(existing.endClippedFrame[1199], totalFrames);
}

TEST(PlotGatherer, ShortFilesAndPartialFrames)
{
    PlotGatherer gatherer(2, 5, thresholds);
    const std::vector<double> samples = {1, 2, 3, 4, 5};
    EXPECT_THROW(gatherer.addFrames(samples), std::invalid_argument);
    const PlotData data = gatherer.finish();
    EXPECT_EQ(data.columnCount, 5);              // one column per frame
    EXPECT_GT(data.minimum[0], data.maximum[0]); // never reached
    EXPECT_THROW(gatherer.finish(), std::logic_error);
    EXPECT_THROW(PlotGatherer(2, 5, {1, 2, 3, std::nan(""), 5, 6}), std::invalid_argument);
}

} // namespace
} // namespace tarvelle
