#include "report/clip_plot.hpp"

#include "support/clip_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string_view>
#include <vector>

namespace tarvelle {
namespace {

// Ten seconds at 8 kHz, quiet but for a 50 Hz burst from 4 s to 6 s that
// clips at 9 dB and below, never at 3 or 6 dB.
const PlotData& burstPlot()
{
    static const PlotData data = [] {
        constexpr std::array<double, clipLevelCount> thresholds = {21213, 15000, 10607, 7500, 5303, 3750};
        PlotGatherer gatherer(2, 80000, thresholds);
        std::vector<double> samples;
        for (std::uint64_t frame = 0; frame < 80000; ++frame) {
            const double loudness = frame >= 32000 && frame < 48000 ? 12000 : 2000;
            samples.insert(samples.end(), {loudness * std::sin(0.0125 * 3.141592653589793 * frame), 0});
        }
        gatherer.addFrames(samples);
        testing::addLevelRunsOf(gatherer, samples, 2, thresholds);
        return gatherer.finish();
    }();
    return data;
}

std::string burstSvg(const std::string& fileName)
{
    LevelHistograms histograms;
    for (std::size_t level = 0; level < clipLevelCount; ++level) {
        histograms[level].assign(2, EventLengthHistogram{0, 0, 0, static_cast<std::int32_t>(level * 40)});
    }
    return clipPlotSvg(burstPlot(), {fileName, 8000, "16-bit PCM, stereo", 32768, -4.3, std::nullopt}, histograms);
}

TEST(ClipPlotSvg, StretchesLieWithinTheClippedTimes)
{
    const std::string svg = burstSvg("burst.wav");
    for (int level = 0; level < clipLevelCount; ++level) {
        SCOPED_TRACE(level);
        const std::size_t begin =
            svg.find("<g id=\"clipping-" + std::to_string(decibelsBelowPeak(level)) + "dB\"");
        ASSERT_NE(begin, std::string::npos);
        const std::string strip = svg.substr(begin, svg.find("</g>", begin) - begin);
        std::uint64_t stretches = 0;
        std::uint64_t events = 0;
        for (std::size_t title = strip.find("<title>"); title != std::string::npos;
             title = strip.find("<title>", title + 1), ++stretches) {
            unsigned startMinutes = 0, endMinutes = 0;
            double start = 0, end = 0;
            unsigned long long count = 0;
            // The dash is read apart: not every C library's scanf matches bytes past ASCII.
            const std::size_t dash = strip.find("\u2013", title);
            ASSERT_NE(dash, std::string::npos);
            ASSERT_EQ(std::sscanf(strip.c_str() + title, "<title>%u:%lf", &startMinutes, &start), 2);
            ASSERT_EQ(std::sscanf(strip.c_str() + dash + std::string_view("\u2013").size(), " %u:%lf, %llu event",
                                  &endMinutes, &end, &count),
                      3);
            EXPECT_TRUE(startMinutes == 0 && start >= 4 && start < end && endMinutes == 0 && end <= 6)
                << strip.substr(title, 60);
            events += count;
        }
        const std::vector<std::uint64_t>& starts = burstPlot().levels[static_cast<std::size_t>(level)].eventStarts;
        EXPECT_EQ(events, std::accumulate(starts.begin(), starts.end(), std::uint64_t{0}));
        EXPECT_EQ(stretches > 0, level >= 2);
    }
    EXPECT_EQ(svg.find("clipping-in-file"), std::string::npos);
    EXPECT_LT(svg.size(), 300000u);
}

// The burst's ten seconds at one loudness throughout, over the limit in one block of the first channel.
TEST(ClipPlotSvg, LoudnessLaneOnTheWaveformsTimeAxis)
{
    const struct {
        double lufs;
        std::size_t overBlock;
        std::string overX, overTimes;
        double integratedY; // below the lane's top, on a 48 dB scale topped at the next multiple of 6
    } cases[] = {{-20, 50, "678.0", "0:05.000 \u2013 0:05.100", 5.0},
                 {-33, 0, "78.0", "0:00.000 \u2013 0:00.100", 7.5},
                 {-9, 99, "1266.0", "0:09.900 \u2013 0:10.000", 7.5}};
    for (const auto& example : cases) {
        SCOPED_TRACE(example.lufs);
        LoudnessResult loudness;
        loudness.blockEnergies.assign(100, std::pow(10.0, (example.lufs + 0.691) / 10));
        loudness.integratedLufs = example.lufs;
        loudness.blockTruePeaks.assign(200, 0.5f);
        loudness.blockTruePeaks[2 * example.overBlock] = 1.1f;
        const std::string svg = clipPlotSvg(burstPlot(), {"burst.wav", 8000, "", 32768, -4.3, 0.8}, {}, &loudness);
        const auto number = [&](std::size_t at) { return std::stod(svg.substr(at)); };
        const std::size_t lane = svg.find("<g id=\"loudness-lane\">");
        ASSERT_NE(lane, std::string::npos);
        const double laneTop = number(svg.find("y=\"", lane) + 3);
        const std::size_t line = svg.find("id=\"integrated\"", lane);
        ASSERT_NE(line, std::string::npos);
        const double lineY = number(svg.find("y1=\"", svg.rfind("<line", line)) + 4);
        EXPECT_DOUBLE_EQ(lineY - laneTop, example.integratedY);
        // The first 3 s window drawn at its middle, the level steady throughout.
        const std::size_t path = svg.find("d=\"M", svg.find("id=\"short-term\"", lane));
        EXPECT_EQ(svg.substr(path + 4, 5), "258.0");
        const std::string points = svg.substr(path, svg.find('"', path + 3) - path);
        EXPECT_EQ(std::count(points.begin(), points.end(), 'L'), 70); // a point a block
        for (std::size_t space = points.find(' '); space != std::string::npos;
             space = points.find(' ', space + 1)) {
            EXPECT_DOUBLE_EQ(std::stod(points.substr(space + 1)), lineY);
        }
        for (const char* channel : {"1", "2"}) {
            const std::size_t begin = svg.find("<g id=\"true-peak-overs-" + std::string(channel) + '"');
            ASSERT_NE(begin, std::string::npos);
            const std::string overs = svg.substr(begin, svg.find("</g>", begin) - begin);
            EXPECT_EQ(overs.find("<rect x=\"" + example.overX + '"') != std::string::npos, channel[0] == '1');
            EXPECT_EQ(overs.find("true peak 0.83 dBTP, " + example.overTimes + "<") != std::string::npos,
                      channel[0] == '1');
        }
    }
    EXPECT_EQ(burstSvg("burst.wav").find("loudness-lane"), std::string::npos);
}

TEST(ClipPlotSvg, ChannelsNamedAsTheFileNamesThem)
{
    const struct {
        int channels;
        std::uint32_t channelMask;
        std::string summed;    // in the title of the events by duration
        std::string lastStrip; // the last channel's name beside its waveform
    } cases[] = {{1, 0, "CH1", "CH1"}, {1, 0x4, "C", "C"}, {6, 0x3F, "all 6 channels", "Rs"}};
    for (const auto& example : cases) {
        PlotGatherer gatherer(example.channels, 1, {6, 5, 4, 3, 2, 1});
        gatherer.addFrames(std::vector<double>(static_cast<std::size_t>(example.channels), 1.0));
        const std::string svg =
            clipPlotSvg(gatherer.finish(), {"take.wav", 8000, "", 8, {}, {}, example.channelMask}, {});
        EXPECT_NE(svg.find(">Clipping events by duration, " + example.summed + "<"), std::string::npos);
        EXPECT_NE(svg.find(">" + example.lastStrip + "</text>"), std::string::npos) << example.lastStrip;
    }
}

TEST(ClipPlotSvg, FileNamesAreSafeXmlText)
{
    const struct {
        std::string fileName;
        std::string shown;
    } cases[] = {
        {"a&b <c> \"d\".wav", "a&amp;b &lt;c&gt; &quot;d&quot;.wav"},
        {"\x1b[31mred\t.wav", "\\033[31mred\\t.wav"},
        {"caf\xc3\xa9 \xe2\x99\xab.wav", "caf\xc3\xa9 \xe2\x99\xab.wav"},
        {"bad \xff \xc3 \xed\xa0\x80 \xef\xbf\xbe.wav", "bad \\377 \\303 \\355\\240\\200 \\357\\277\\276.wav"},
    };
    for (const auto& example : cases) {
        EXPECT_NE(burstSvg(example.fileName).find(">" + example.shown + "</text>"), std::string::npos)
            << example.shown;
    }
}

} // namespace
} // namespace tarvelle
