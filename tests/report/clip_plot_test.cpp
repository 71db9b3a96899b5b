#include "report/clip_plot.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace tarvelle {
namespace {

// Ten seconds at 8 kHz, quiet but for a 50 Hz burst from 4 s to 6 s that
// clips at 9 dB and below, never at 3 or 6 dB. tests/e2e/test_clip_plot.py
// renders this picture and relies on these times.
constexpr std::int32_t sampleRate = 8000;
constexpr std::uint64_t totalFrames = 10 * sampleRate;
constexpr std::array<double, clipLevelCount> thresholds = {21213, 15000, 10607, 7500, 5303, 3750};

PlotData burstPlot()
{
    PlotGatherer gatherer(2, totalFrames, thresholds);
    std::vector<double> block;
    for (std::uint64_t frame = 0; frame < totalFrames; ++frame) {
        const bool burst = frame >= 4 * sampleRate && frame < 6 * sampleRate;
        const double value = (burst ? 12000 : 2000) * std::sin(2 * 3.141592653589793 * 50 * frame / sampleRate);
        block.insert(block.end(), {value, -value / 2});
        if (block.size() == 2 * 999) {
            gatherer.addFrames(block);
            block.clear();
        }
    }
    gatherer.addFrames(block);
    return gatherer.finish();
}

std::string burstSvg(const std::string& fileName = "burst.wav")
{
    static const PlotData data = burstPlot();
    LevelHistograms histograms;
    for (std::size_t level = 0; level < clipLevelCount; ++level) {
        histograms[level].assign(2, EventLengthHistogram{});
        histograms[level][0][3] = static_cast<std::int32_t>(level * 40);
    }
    return clipPlotSvg(data, {fileName, sampleRate, "16-bit PCM, stereo", 32768, -4.3, std::nullopt}, histograms);
}

TEST(ClipPlotSvg, StretchesLieWithinTheClippedTimes)
{
    const std::string svg = burstSvg();
    const PlotData data = burstPlot();
    for (int level = 0; level < clipLevelCount; ++level) {
        SCOPED_TRACE(level);
        const std::string id = "<g id=\"clipping-" + std::to_string(decibelsBelowPeak(level)) + "dB\"";
        const std::size_t begin = svg.find(id);
        ASSERT_NE(begin, std::string::npos);
        const std::string strip = svg.substr(begin, svg.find("</g>", begin) - begin);
        std::uint64_t stretches = 0;
        std::uint64_t events = 0;
        for (std::size_t title = strip.find("<title>"); title != std::string::npos;
             title = strip.find("<title>", title + 1)) {
            unsigned startMinutes = 0;
            unsigned endMinutes = 0;
            double start = 0;
            double end = 0;
            unsigned long long count = 0;
            ASSERT_EQ(std::sscanf(strip.c_str() + title, "<title>%u:%lf \u2013 %u:%lf, %llu event", &startMinutes,
                                  &start, &endMinutes, &end, &count),
                      5)
                << strip.substr(title, 60);
            start += startMinutes * 60.0;
            end += endMinutes * 60.0;
            EXPECT_GE(start, 4.0);
            EXPECT_LE(end, 6.0);
            EXPECT_LT(start, end);
            events += count;
            ++stretches;
        }
        std::uint64_t gathered = 0;
        for (const std::uint64_t starts : data.levels[static_cast<std::size_t>(level)].eventStarts) {
            gathered += starts;
        }
        EXPECT_EQ(events, gathered);
        if (level < 2) {
            EXPECT_EQ(stretches, 0u);
        } else {
            EXPECT_GT(stretches, 0u);
        }
    }
    EXPECT_EQ(svg.find("clipping-in-file"), std::string::npos);
    EXPECT_LT(svg.size(), 300000u);

    // For the end-to-end test that renders it.
    if (const char* path = std::getenv("TARVELLE_PLOT_SVG")) {
        std::ofstream(path, std::ios::binary) << svg;
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
        const std::string svg = burstSvg(example.fileName);
        EXPECT_NE(svg.find(">" + example.shown + "</text>"), std::string::npos) << example.shown;
    }
}

} // namespace
} // namespace tarvelle
