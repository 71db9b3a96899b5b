#include "clip/plot_gatherer.hpp"

#include "support/clip_reference.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

namespace tarvelle {
namespace {

constexpr std::array<double, clipLevelCount> thresholds = {700, 500, 350, 250, 177, 125};
constexpr std::uint64_t totalFrames = 12000;

// Stereo samples of ±30, with runs (channel, first frame, length, value) across
// columns and the 1024-frame chunks, runs that end where a column or chunk
// without clipping begins, two touching runs of different heights, a run
// exactly at a threshold and one still open at the end.
std::vector<double> burstSamples()
{
    const struct {
        std::size_t channel;
        std::uint64_t startFrame, length;
        double value;
    } bursts[] = {
        {0, 95, 10, 400},  {1, 1020, 12, -800}, {0, 2040, 8, 400}, {1, 3990, 10, 400}, {0, 5000, 3, 200},
        {0, 7000, 4, 400}, {0, 7004, 4, -800},  {0, 9000, 2, 700}, {1, 11995, 5, 600},
    };
    std::vector<double> samples(totalFrames * 2);
    for (std::size_t index = 0; index < samples.size(); ++index) {
        samples[index] = index / 2 % 2 == 0 ? 30 : -30;
    }
    for (const auto& burst : bursts) {
        for (std::uint64_t frame = burst.startFrame; frame < burst.startFrame + burst.length; ++frame) {
            samples[frame * 2 + burst.channel] = burst.value;
        }
    }
    return samples;
}

// The columns straight from the definitions: a sample is clipped above its
// level's threshold, an event starts at a clipped sample whose predecessor in
// its channel is not.
PlotData expectedPlot(const std::vector<double>& samples, std::size_t columns)
{
    PlotData expected;
    expected.minimum.assign(2 * columns, 1e9);
    expected.maximum.assign(2 * columns, -1e9);
    for (std::size_t level = 0; level < clipLevelCount; ++level) {
        PlotClipping& clipping = expected.levels[level];
        clipping = {std::vector<std::uint64_t>(columns), std::vector<std::uint64_t>(columns),
                    std::vector<std::uint64_t>(columns), std::vector<std::uint64_t>(columns)};
        for (std::size_t index = 0; index < samples.size(); ++index) {
            const std::uint64_t frame = index / 2;
            const std::size_t column = frame / (totalFrames / columns);
            const std::size_t cell = index % 2 * columns + column;
            expected.minimum[cell] = std::min(expected.minimum[cell], samples[index]);
            expected.maximum[cell] = std::max(expected.maximum[cell], samples[index]);
            if (std::fabs(samples[index]) > thresholds[level]) {
                // Frames come in order: the column's first clipped sample has its first frame.
                if (++clipping.clippedSamples[column] == 1) {
                    clipping.firstClippedFrame[column] = frame;
                }
                clipping.eventStarts[column] += index < 2 || std::fabs(samples[index - 2]) <= thresholds[level];
                clipping.endClippedFrame[column] = std::max(clipping.endClippedFrame[column], frame + 1);
            }
        }
    }
    return expected;
}

TEST(PlotGatherer, ColumnsHoldTheClippingWhateverTheBlocks)
{
    const std::vector<double> samples = burstSamples();
    // 10 frames a column, or 3000 so that chunks end inside columns.
    for (const std::size_t columns : {1200, 4}) {
        const PlotData expected = expectedPlot(samples, columns);
        // The bursts counted by hand, so that the reference is not wrong alike.
        std::array<std::uint64_t, clipLevelCount> events{};
        for (std::size_t level = 0; level < clipLevelCount; ++level) {
            events[level] =
                std::reduce(expected.levels[level].eventStarts.begin(), expected.levels[level].eventStarts.end());
        }
        EXPECT_EQ(events, (std::array<std::uint64_t, clipLevelCount>{2, 4, 7, 7, 8, 8}));

        for (const std::vector<std::size_t>& blocks :
             {std::vector<std::size_t>{totalFrames}, {1, 7, 300, 2, 1000, 33}}) {
            SCOPED_TRACE(::testing::Message() << columns << " columns, blocks from " << blocks.size() << " sizes");
            PlotGatherer gatherer(2, totalFrames, thresholds, static_cast<int>(columns));
            for (std::size_t frame = 0, block = 0; frame < totalFrames; ++block) {
                const std::size_t frames = std::min(blocks[block % blocks.size()], totalFrames - frame);
                gatherer.addFrames(std::span<const double>(samples).subspan(frame * 2, frames * 2));
                frame += frames;
            }
            testing::addLevelRunsOf(gatherer, samples, 2, thresholds);
            const PlotData data = gatherer.finish();
            EXPECT_EQ(data.minimum, expected.minimum);
            EXPECT_EQ(data.maximum, expected.maximum);
            for (std::size_t level = 0; level < clipLevelCount; ++level) {
                SCOPED_TRACE(level);
                EXPECT_EQ(data.levels[level].clippedSamples, expected.levels[level].clippedSamples);
                EXPECT_EQ(data.levels[level].eventStarts, expected.levels[level].eventStarts);
                EXPECT_EQ(data.levels[level].firstClippedFrame, expected.levels[level].firstClippedFrame);
                EXPECT_EQ(data.levels[level].endClippedFrame, expected.levels[level].endClippedFrame);
            }
        }
    }
}

// The path the program ships: the envelope from 16-bit samples as they are,
// and each level's clipping from the runs the count finds. Blocks of any
// size, across columns, give what the samples and runs give at once.
TEST(PlotGatherer, EnvelopeOfSixteenBitSamplesAndLevelsFromRuns)
{
    const std::vector<double> samples = burstSamples();
    const std::vector<std::int16_t> pcm(samples.begin(), samples.end());
    const PlotData expected = expectedPlot(samples, 4);
    for (const std::size_t blockFrames : {std::size_t{1}, std::size_t{7}, std::size_t{2999}, totalFrames}) {
        SCOPED_TRACE(blockFrames);
        PlotGatherer gatherer(2, totalFrames, thresholds, 4);
        for (std::size_t frame = 0; frame < totalFrames; frame += blockFrames) {
            const std::size_t frames = std::min(blockFrames, totalFrames - frame);
            gatherer.addEnvelope(std::span<const std::int16_t>(pcm).subspan(frame * 2, frames * 2));
        }
        testing::addLevelRunsOf(gatherer, samples, 2, thresholds);
        const PlotData data = gatherer.finish();
        EXPECT_EQ(data.minimum, expected.minimum);
        EXPECT_EQ(data.maximum, expected.maximum);
        EXPECT_EQ(data.levels[2].clippedSamples, expected.levels[2].clippedSamples);
        EXPECT_EQ(data.levels[2].eventStarts, expected.levels[2].eventStarts);
        EXPECT_EQ(data.levels[2].firstClippedFrame, expected.levels[2].firstClippedFrame);
        EXPECT_EQ(data.levels[2].endClippedFrame, expected.levels[2].endClippedFrame);
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
    const auto column = [&](std::size_t index) {
        const PlotClipping& existing = data.existing;
        return std::array<std::uint64_t, 4>{existing.clippedSamples[index], existing.eventStarts[index],
                                            existing.firstClippedFrame[index], existing.endClippedFrame[index]};
    };
    // Clipped samples, events starting there, first and end frame, of columns 9 to 12 and the last.
    EXPECT_EQ((std::vector{column(9), column(10), column(11), column(12), column(1199)}),
              (std::vector<std::array<std::uint64_t, 4>>{
                  {5, 1, 95, 100}, {10, 0, 100, 110}, {5, 0, 110, 115}, {0, 0, 0, 0}, {3, 1, 11997, 12000}}));
}

TEST(PlotGatherer, RefusesWhatItCannotPlot)
{
    PlotGatherer gatherer(2, 5, thresholds);
    EXPECT_THROW(gatherer.addFrames(std::vector<double>{1, 2, 3}), std::invalid_argument); // half a frame
    const PlotData data = gatherer.finish();
    EXPECT_EQ(data.columnCount, 5);              // one column per frame
    EXPECT_GT(data.minimum[0], data.maximum[0]); // never reached
    EXPECT_THROW(gatherer.finish(), std::logic_error);
    EXPECT_THROW(PlotGatherer(2, 5, {1, 2, 3, std::nan(""), 5, 6}), std::invalid_argument);
}

} // namespace
} // namespace tarvelle
