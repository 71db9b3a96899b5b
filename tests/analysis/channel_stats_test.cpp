#include "analysis/channel_stats.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>

namespace tarvelle {
namespace {

constexpr std::int32_t rate = 8000;

// A second of stereo 16-bit frames, each made by frame(index, channel).
std::vector<std::int16_t> frames(const std::function<double(int, int)>& frame)
{
    std::vector<std::int16_t> samples;
    for (int index = 0; index < rate; ++index) {
        for (int channel = 0; channel < 2; ++channel) {
            samples.push_back(static_cast<std::int16_t>(std::lround(frame(index, channel))));
        }
    }
    return samples;
}

double tone(int index, double hertz)
{
    return 10000.0 * std::sin(2.0 * std::numbers::pi * hertz * index / rate + 0.5);
}

template <class Sample> ChannelStats measure(const std::vector<Sample>& samples, std::vector<std::size_t> splits)
{
    ChannelStatsAnalysis<Sample> analysis(2, rate, 32768.0);
    std::size_t from = 0;
    splits.push_back(samples.size() / 2);
    for (const std::size_t to : splits) {
        analysis.add(std::span(samples).subspan(from * 2, (to - from) * 2));
        from = to;
    }
    JobResult result;
    analysis.finish(result);
    return *result.channelStats;
}

// Each figure from frames that show it, whatever the blocks they come in.
TEST(ChannelStatsAnalysis, FiguresOfEachKindWhereverTheBlocksEnd)
{
    const struct {
        const char* name;
        std::function<double(int, int)> frame;
        double head, tail, correlation, dcDbfs;
        bool copied, rightEmpty;
    } cases[] = {
        {"unlike tones", [](int i, int c) { return tone(i, c == 0 ? 440 : 550); }, 0, 0, 0.0, -100, false, false},
        {"copy", [](int i, int) { return tone(i, 440); }, 0, 0, 1.0, -100, true, false},
        {"copy within -90 dBFS", [](int i, int c) { return tone(i, 440) + c; }, 0, 0, 1.0, -100, true, false},
        {"opposite", [](int i, int c) { return c == 0 ? tone(i, 440) : -tone(i, 440); }, 0, 0, -1.0, -100, false,
         false},
        {"right empty", [](int i, int c) { return c == 0 ? tone(i, 440) : 0.0; }, 0, 0, 0.0, -100, false, true},
        {"head and tail", [](int i, int c) { return i < 2000 || i >= 7000 ? c * 32.0 : tone(i, 440); }, 0.25,
         0.125, 1.0, -100, false, false},
        {"right loud first, left last",
         [](int i, int c) {
             return i >= (c == 0 ? 4000 : 2000) && i < (c == 0 ? 7000 : 6000) ? tone(i, 440) : 0.0;
         },
         0.25, 0.125, 0.58, -100, false, false},
        {"silent", [](int, int) { return 0.0; }, 1.0, 1.0, 0.0, -100, true, true},
        {"DC", [](int i, int c) { return tone(i, c == 0 ? 440 : 550) + 328.0; }, 0, 0, 0.0, -40.0, false, false},
    };
    for (const auto& test : cases) {
        const std::vector<std::int16_t> samples = frames(test.frame);
        const ChannelStats whole = measure(samples, {});
        SCOPED_TRACE(test.name);
        EXPECT_EQ(whole.headSilenceSeconds, test.head);
        EXPECT_EQ(whole.tailSilenceSeconds, test.tail);
        ASSERT_EQ(whole.pairs.size(), 1U);
        EXPECT_NEAR(whole.pairs[0].correlation, test.correlation, 0.02);
        EXPECT_EQ(whole.pairs[0].copied, test.copied);
        EXPECT_EQ(whole.peakDbfs[1] < emptyChannelDbfs, test.rightEmpty);
        EXPECT_NEAR(std::max(whole.dcOffsetDbfs[0], -100.0), test.dcDbfs, 0.05);
        const std::vector<double> doubles(samples.begin(), samples.end());
        for (const std::vector<std::size_t>& splits :
             {std::vector<std::size_t>{1}, {1999, 2000, 2001}, {6999, 7001}, {7999}}) {
            for (const ChannelStats& split : {measure(samples, splits), measure(doubles, splits)}) {
                EXPECT_EQ(split.headSilenceSeconds, whole.headSilenceSeconds);
                EXPECT_EQ(split.tailSilenceSeconds, whole.tailSilenceSeconds);
                EXPECT_EQ(split.peakDbfs, whole.peakDbfs);
                EXPECT_EQ(split.dcOffsetDbfs, whole.dcOffsetDbfs);
                EXPECT_EQ(split.pairs[0].correlation, whole.pairs[0].correlation);
                EXPECT_EQ(split.pairs[0].copied, whole.pairs[0].copied);
            }
        }
    }
}

} // namespace
} // namespace tarvelle
