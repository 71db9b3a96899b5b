#include "report/plot_parts.hpp"

#include "report/clip_report.hpp"
#include "report/labels.hpp"

#include <algorithm>
#include <cmath>

namespace tarvelle::plot {

namespace {

using LevelSums = std::array<std::array<std::int64_t, eventLengthBinCount>, clipLevelCount>;

void appendLegend(std::string& out, int channels, std::uint32_t channelMask, double top)
{
    const std::string summed = channels == 1   ? channelName(0, 1, channelMask)
                               : channels == 2 ? std::string("both channels")
                                               : "all " + std::to_string(channels) + " channels";
    appendText(out, plotLeft, top - 46, "Clipping events by duration, " + summed,
               "font-size=\"14\" font-weight=\"bold\"");
    // The legend, right-aligned on the title's line.
    double legendX = plotLeft + plotWidth - clipLevelCount * 58 - 86;
    appendText(out, legendX - 8, top - 46,
               "below peak:", "text-anchor=\"end\" fill=\"" + std::string(quietInkColour) + '"');
    for (int level = 0; level < clipLevelCount; ++level) {
        appendRect(out, legendX, top - 56, 12, 12,
                   "fill=\"" + std::string(levelColours[static_cast<std::size_t>(level)]) + '"');
        appendText(out, legendX + 17, top - 46, std::to_string(decibelsBelowPeak(level)) + " dB");
        legendX += 58;
    }
}

template <class Y> void appendAxis(std::string& out, double top, double decades, const Y& y)
{
    const double bottom = top + histogramHeight;
    constexpr std::array<std::string_view, 10> powerNames = {"1",    "10", "100", "1k",   "10k",
                                                             "100k", "1M", "10M", "100M", "1G"};
    for (int power = 0; power <= static_cast<int>(decades); ++power) {
        const double lineY = y(std::pow(10.0, power));
        appendLine(out, plotLeft, lineY, plotLeft + plotWidth, lineY, "stroke=\"" + std::string(gridColour) + '"');
        const std::string name = power < static_cast<int>(powerNames.size())
                                     ? std::string(powerNames[static_cast<std::size_t>(power)])
                                     : "1e" + std::to_string(power);
        appendText(out, plotLeft - 10, lineY + 4, name,
                   "text-anchor=\"end\" fill=\"" + std::string(quietInkColour) + '"');
    }
    appendText(out, plotLeft - 10, top - 18, "events",
               "text-anchor=\"end\" fill=\"" + std::string(quietInkColour) + '"');
    appendLine(out, plotLeft, bottom, plotLeft + plotWidth, bottom,
               "stroke=\"" + std::string(quietInkColour) + '"');
}

template <class Y> void appendBars(std::string& out, const LevelSums& sums, double bottom, const Y& y)
{
    const double groupWidth = plotWidth / eventLengthBinCount;
    const double barWidth = std::min(14.0, (groupWidth - 18) / clipLevelCount);
    for (std::size_t bin = 0; bin < eventLengthBinCount; ++bin) {
        const double groupLeft = plotLeft + static_cast<double>(bin) * groupWidth;
        const double barsLeft = groupLeft + (groupWidth - barWidth * clipLevelCount) / 2;
        for (std::size_t level = 0; level < clipLevelCount; ++level) {
            const std::int64_t count = sums[level][bin];
            if (count <= 0) {
                continue;
            }
            const double barTop = y(static_cast<double>(count));
            out += "<rect x=\"" + number(barsLeft + static_cast<double>(level) * barWidth) + "\" y=\"" +
                   number(barTop) + "\" width=\"" + number(barWidth - 1) + "\" height=\"" +
                   number(bottom - barTop) + "\" fill=\"" + std::string(levelColours[level]) + "\"><title>";
            appendXmlText(out, std::to_string(decibelsBelowPeak(static_cast<int>(level))) + " dB, " +
                                   std::string(eventLengthBinLabels[bin]) + ": " +
                                   countText(static_cast<std::uint64_t>(count), "event"));
            out += "</title></rect>\n";
        }
        appendText(out, groupLeft + groupWidth / 2, bottom + 18, eventLengthBinLabels[bin],
                   "text-anchor=\"middle\" font-size=\"11\"");
    }
}

} // namespace

void appendEventHistogram(std::string& out, const LevelHistograms& histograms, int channels,
                          std::uint32_t channelMask, double top)
{
    LevelSums sums{};
    std::int64_t largest = 0;
    for (std::size_t level = 0; level < clipLevelCount; ++level) {
        for (const EventLengthHistogram& channel : histograms[level]) {
            for (std::size_t bin = 0; bin < eventLengthBinCount; ++bin) {
                sums[level][bin] += channel[bin];
            }
        }
        for (std::size_t bin = 0; bin < eventLengthBinCount; ++bin) {
            largest = std::max(largest, sums[level][bin]);
        }
    }
    appendLegend(out, channels, channelMask, top);
    const double bottom = top + histogramHeight;
    // A count of 1 still shows: the axis starts at half an event.
    const double decades =
        std::max(1.0, std::ceil(std::log10(static_cast<double>(std::max<std::int64_t>(largest, 1)))));
    const auto y = [&](double count) {
        return bottom - (std::log10(count) - std::log10(0.5)) / (decades - std::log10(0.5)) * histogramHeight;
    };
    appendAxis(out, top, decades, y);
    appendBars(out, sums, bottom, y);
    if (largest == 0) {
        appendText(out, plotLeft + plotWidth / 2, top + histogramHeight / 2, "No clipping events",
                   "text-anchor=\"middle\" fill=\"" + std::string(quietInkColour) + '"');
    }
}

} // namespace tarvelle::plot
