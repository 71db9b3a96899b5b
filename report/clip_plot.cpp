#include "report/clip_plot.hpp"

#include "report/byte_escape.hpp"

#include "report/clip_report.hpp"
#include "report/labels.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace tarvelle {

namespace {

constexpr double plotLeft = 78;
constexpr double plotWidth = 1200;
constexpr double pictureWidth = plotLeft + plotWidth + 28;
constexpr double channelHeight = 150;
constexpr double channelGap = 12;
constexpr double stripHeight = 14;
constexpr double stripGap = 5;
constexpr double histogramHeight = 200;

// Dark to light by level, so that 3 dB stands out and the order reads at a glance.
constexpr std::array<std::string_view, clipLevelCount> levelColours = {
    "#3b0f70", "#8c2981", "#de4968", "#f7705c", "#fd9f6c", "#f6c44f",
};
constexpr std::string_view existingColour = "#2f3640";
constexpr std::string_view envelopeColour = "#8792a2";
constexpr std::string_view gridColour = "#e4e7eb";
constexpr std::string_view inkColour = "#222831";
constexpr std::string_view quietInkColour = "#5c6673";

std::string number(double value, int places = 1)
{
    char text[64];
    const auto result = std::to_chars(std::begin(text), std::end(text), value, std::chars_format::fixed, places);
    std::string formatted(text, result.ptr);
    // "-0.0" would read as a value below zero.
    if (formatted.find_first_not_of("-0.") == std::string::npos) {
        formatted = places > 0 ? "0." + std::string(static_cast<std::size_t>(places), '0') : "0";
    }
    return formatted;
}

// Bytes of a well-formed UTF-8 character at the start of text that XML 1.0
// allows; 0 where there is none.
std::size_t xmlCharacterLength(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(0);
    if (lead < 0x80) {
        return lead >= 0x20 && lead != 0x7F ? 1 : 0;
    }
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    // U+FFFE and U+FFFF are not XML characters either.
    if (lead == 0xEF && byte(1) == 0xBF && byte(2) >= 0xBE) {
        return 0;
    }
    return length;
}

// Markup characters as entities; a byte XML cannot hold (a control byte, or
// one that is not part of valid UTF-8) as a backslash escape, as the program
// prints such names elsewhere (\t, \033, \377).
void appendXmlText(std::string& out, std::string_view text)
{
    while (!text.empty()) {
        const char character = text.front();
        const std::size_t length = xmlCharacterLength(text);
        if (length > 1) {
            out.append(text.substr(0, length));
        } else if (length == 1) {
            switch (character) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += character;
            }
        } else {
            appendByteEscape(out, static_cast<unsigned char>(character));
        }
        text.remove_prefix(std::max<std::size_t>(length, 1));
    }
}

// Milliseconds to frame, rounded down or up, without overflowing.
std::uint64_t frameMilliseconds(std::uint64_t frame, std::uint64_t rate, bool roundUp)
{
    const std::uint64_t part = frame % rate * 1000;
    return frame / rate * 1000 + part / rate + (roundUp && part % rate != 0 ? 1 : 0);
}

// m:ss with the given number of decimals (0 to 3).
std::string timeText(std::uint64_t milliseconds, int decimals = 3)
{
    std::string text = std::to_string(milliseconds / 60000) + ':';
    const std::uint64_t seconds = milliseconds / 1000 % 60;
    text += static_cast<char>('0' + seconds / 10);
    text += static_cast<char>('0' + seconds % 10);
    if (decimals > 0) {
        const std::string fraction = std::to_string(1000 + milliseconds % 1000);
        text += '.';
        text += fraction.substr(1, static_cast<std::size_t>(decimals));
    }
    return text;
}

std::string countText(std::uint64_t count, std::string_view unit)
{
    std::string text = std::to_string(count) + ' ';
    text += unit;
    if (count != 1) {
        text += 's';
    }
    return text;
}

void appendText(std::string& out, double x, double y, std::string_view text, std::string_view attributes = {})
{
    out += "<text x=\"" + number(x) + "\" y=\"" + number(y) + '"';
    if (!attributes.empty()) {
        out += ' ';
        out += attributes;
    }
    out += '>';
    appendXmlText(out, text);
    out += "</text>\n";
}

void appendRect(std::string& out, double x, double y, double width, double height, std::string_view attributes)
{
    out += "<rect x=\"" + number(x) + "\" y=\"" + number(y) + "\" width=\"" + number(width) + "\" height=\"" +
           number(height) + "\" " + std::string(attributes) + "/>\n";
}

class SvgPicture {
public:
    SvgPicture(const PlotData& data, const PlotHeading& heading) : data_(data), heading_(heading)
    {
        columnWidth_ = plotWidth / data.columnCount;
        rate_ = static_cast<std::uint64_t>(std::max(heading.sampleRate, 1));
        durationMs_ = frameMilliseconds(data.totalFrames, rate_, true);
    }

    std::string render(const LevelHistograms& histograms)
    {
        const double overviewTop = 76;
        const double stripsTop = overviewTop + data_.channelCount * (channelHeight + channelGap) + 6;
        const int strips = clipLevelCount + (data_.hasExistingClipping ? 1 : 0);
        const double stripsBottom = stripsTop + strips * (stripHeight + stripGap) - stripGap;
        const double histogramTop = stripsBottom + 110;
        const double height = histogramTop + histogramHeight + 52;

        out_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(pictureWidth, 0) + "\" height=\"" +
                number(height, 0) + "\" viewBox=\"0 0 " + number(pictureWidth, 0) + ' ' + number(height, 0) +
                "\" font-family=\"sans-serif\" font-size=\"12\" fill=\"" + std::string(inkColour) + "\">\n<title>";
        appendXmlText(out_, "Clipping of " + heading_.fileName);
        out_ += "</title>\n";
        appendRect(out_, 0, 0, pictureWidth, height, "fill=\"#ffffff\"");
        appendHeading();
        appendTimeGrid(overviewTop, stripsBottom);
        for (int channel = 0; channel < data_.channelCount; ++channel) {
            appendChannel(channel, overviewTop + channel * (channelHeight + channelGap));
        }
        for (int level = 0; level < clipLevelCount; ++level) {
            appendStrip(data_.levels[static_cast<std::size_t>(level)],
                        std::to_string(decibelsBelowPeak(level)) + " dB",
                        "clipping-" + std::to_string(decibelsBelowPeak(level)) + "dB", levelColours[level],
                        stripsTop + level * (stripHeight + stripGap));
        }
        if (data_.hasExistingClipping) {
            appendStrip(data_.existing, "in file", "clipping-in-file", existingColour,
                        stripsTop + clipLevelCount * (stripHeight + stripGap));
        }
        appendHistogram(histograms, histogramTop);
        out_ += "</svg>\n";
        return std::move(out_);
    }

private:
    void appendHeading()
    {
        appendText(out_, plotLeft, 30, heading_.fileName, "font-size=\"18\" font-weight=\"bold\"");
        std::string details = std::to_string(heading_.sampleRate) + " Hz \u00b7 " + heading_.formatText +
                              " \u00b7 " + timeText(durationMs_) + " \u00b7 ";
        details += heading_.peakDbfs ? "peak " + number(*heading_.peakDbfs, 2) + " dBFS" : "silent";
        if (heading_.truePeakDbtp) {
            details += ", true peak " + number(*heading_.truePeakDbtp, 2) + " dBTP";
        }
        appendText(out_, plotLeft, 52, details, "font-size=\"13\" fill=\"" + std::string(quietInkColour) + '"');
    }

    // Vertical lines through the waveforms and strips at round times, and the times under them.
    void appendTimeGrid(double top, double bottom)
    {
        constexpr std::array<std::uint64_t, 19> steps = {10,     20,     50,     100,     200,    500,   1000,
                                                         2000,   5000,   10000,  15000,   30000,  60000, 120000,
                                                         300000, 600000, 900000, 1800000, 3600000};
        std::uint64_t step = steps.back();
        for (const std::uint64_t candidate : steps) {
            if (durationMs_ / candidate <= 10) {
                step = candidate;
                break;
            }
        }
        const int decimals = step >= 1000 ? 0 : step >= 100 ? 1 : 2;
        for (std::uint64_t ms = 0; ms <= durationMs_ && step > 0; ms += step) {
            const double x =
                plotLeft +
                (durationMs_ == 0 ? 0 : static_cast<double>(ms) / static_cast<double>(durationMs_) * plotWidth);
            out_ += "<line x1=\"" + number(x) + "\" y1=\"" + number(top) + "\" x2=\"" + number(x) + "\" y2=\"" +
                    number(bottom + 5) + "\" stroke=\"" + std::string(gridColour) + "\"/>\n";
            appendText(out_, x, bottom + 19, timeText(ms, decimals),
                       "text-anchor=\"middle\" fill=\"" + std::string(quietInkColour) + '"');
        }
        appendText(out_, plotLeft - 24, bottom + 19, "m:ss",
                   "text-anchor=\"end\" fill=\"" + std::string(quietInkColour) + '"');
    }

    void appendChannel(int channel, double top)
    {
        const double middle = top + channelHeight / 2;
        const double halfHeight = channelHeight / 2 - 2;
        const auto y = [&](double value) {
            return middle - std::clamp(value / heading_.fullScale, -1.0, 1.0) * halfHeight;
        };
        appendRect(out_, plotLeft, top, plotWidth, channelHeight,
                   "fill=\"#f7f8fa\" fill-opacity=\"0.6\" stroke=\"#cfd4da\"");
        appendText(out_, plotLeft - 10, middle + 4, channelName(channel, data_.channelCount, heading_.channelMask),
                   "text-anchor=\"end\" font-weight=\"bold\"");

        // One stroke per column from its highest to its lowest sample.
        out_ += "<path fill=\"none\" stroke=\"" + std::string(envelopeColour) + "\" stroke-width=\"" +
                number(std::max(columnWidth_, 1.0), 2) + "\" d=\"";
        const auto columns = static_cast<std::size_t>(data_.columnCount);
        for (std::size_t column = 0; column < columns; ++column) {
            const std::size_t cell = static_cast<std::size_t>(channel) * columns + column;
            if (data_.minimum[cell] > data_.maximum[cell]) {
                continue; // no frames reached this column
            }
            double high = y(data_.maximum[cell]);
            double low = y(data_.minimum[cell]);
            // At least a pixel, so that silence still shows as a line.
            if (low - high < 1) {
                high -= 0.5;
                low += 0.5;
            }
            out_ += 'M' + number(plotLeft + (static_cast<double>(column) + 0.5) * columnWidth_) + ' ' +
                    number(high) + 'V' + number(low);
        }
        out_ += "\"/>\n";

        for (int level = 0; level < clipLevelCount; ++level) {
            const double threshold = data_.thresholds[static_cast<std::size_t>(level)];
            if (!(threshold < heading_.fullScale)) {
                continue;
            }
            for (const double value : {threshold, -threshold}) {
                out_ += "<line x1=\"" + number(plotLeft) + "\" y1=\"" + number(y(value)) + "\" x2=\"" +
                        number(plotLeft + plotWidth) + "\" y2=\"" + number(y(value)) + "\" stroke=\"" +
                        std::string(levelColours[static_cast<std::size_t>(level)]) +
                        "\" stroke-width=\"0.8\" stroke-dasharray=\"5 3\"/>\n";
            }
        }
    }

    // One strip: each stretch of neighbouring columns that hold clipping, filled.
    void appendStrip(const PlotClipping& clipping, std::string_view label, std::string_view id,
                     std::string_view colour, double top)
    {
        appendText(out_, plotLeft - 10, top + stripHeight - 3, label,
                   "text-anchor=\"end\" fill=\"" + std::string(quietInkColour) + '"');
        out_ += "<g id=\"" + std::string(id) + "\" fill=\"" + std::string(colour) + "\">\n";
        appendRect(out_, plotLeft, top, plotWidth, stripHeight, "fill=\"#eef0f3\"");
        const auto columns = static_cast<std::size_t>(data_.columnCount);
        for (std::size_t first = 0; first < columns;) {
            if (clipping.clippedSamples[first] == 0) {
                ++first;
                continue;
            }
            std::size_t end = first;
            std::uint64_t events = 0;
            while (end < columns && clipping.clippedSamples[end] != 0) {
                events += clipping.eventStarts[end];
                ++end;
            }
            // The shown range holds every clipped sample: start rounded down, end up.
            out_ += "<rect x=\"" + number(plotLeft + static_cast<double>(first) * columnWidth_) + "\" y=\"" +
                    number(top) + "\" width=\"" + number(static_cast<double>(end - first) * columnWidth_) +
                    "\" height=\"" + number(stripHeight) + "\"><title>" +
                    timeText(frameMilliseconds(clipping.firstClippedFrame[first], rate_, false)) + " \u2013 " +
                    timeText(frameMilliseconds(clipping.endClippedFrame[end - 1], rate_, true)) + ", " +
                    countText(events, "event") + "</title></rect>\n";
            first = end;
        }
        out_ += "</g>\n";
    }

    using LevelSums = std::array<std::array<std::int64_t, eventLengthBinCount>, clipLevelCount>;

    void appendHistogram(const LevelHistograms& histograms, double top)
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
        appendHistogramLegend(top);
        const double bottom = top + histogramHeight;
        // A count of 1 still shows: the axis starts at half an event.
        const double decades =
            std::max(1.0, std::ceil(std::log10(static_cast<double>(std::max<std::int64_t>(largest, 1)))));
        const auto y = [&](double count) {
            return bottom - (std::log10(count) - std::log10(0.5)) / (decades - std::log10(0.5)) * histogramHeight;
        };
        appendHistogramAxis(top, decades, y);
        appendHistogramBars(sums, bottom, y);
        if (largest == 0) {
            appendText(out_, plotLeft + plotWidth / 2, top + histogramHeight / 2, "No clipping events",
                       "text-anchor=\"middle\" fill=\"" + std::string(quietInkColour) + '"');
        }
    }

    void appendHistogramLegend(double top)
    {
        const int channels = data_.channelCount;
        const std::string summed = channels == 1   ? channelName(0, 1, heading_.channelMask)
                                   : channels == 2 ? std::string("both channels")
                                                   : "all " + std::to_string(channels) + " channels";
        appendText(out_, plotLeft, top - 46, "Clipping events by duration, " + summed,
                   "font-size=\"14\" font-weight=\"bold\"");
        // The legend, right-aligned on the title's line.
        double legendX = plotLeft + plotWidth - clipLevelCount * 58 - 86;
        appendText(out_, legendX - 8, top - 46,
                   "below peak:", "text-anchor=\"end\" fill=\"" + std::string(quietInkColour) + '"');
        for (int level = 0; level < clipLevelCount; ++level) {
            appendRect(out_, legendX, top - 56, 12, 12,
                       "fill=\"" + std::string(levelColours[static_cast<std::size_t>(level)]) + '"');
            appendText(out_, legendX + 17, top - 46, std::to_string(decibelsBelowPeak(level)) + " dB");
            legendX += 58;
        }
    }

    template <class Y> void appendHistogramAxis(double top, double decades, const Y& y)
    {
        const double bottom = top + histogramHeight;
        constexpr std::array<std::string_view, 10> powerNames = {"1",    "10", "100", "1k",   "10k",
                                                                 "100k", "1M", "10M", "100M", "1G"};
        for (int power = 0; power <= static_cast<int>(decades); ++power) {
            const double lineY = y(std::pow(10.0, power));
            out_ += "<line x1=\"" + number(plotLeft) + "\" y1=\"" + number(lineY) + "\" x2=\"" +
                    number(plotLeft + plotWidth) + "\" y2=\"" + number(lineY) + "\" stroke=\"" +
                    std::string(gridColour) + "\"/>\n";
            const std::string name = power < static_cast<int>(powerNames.size())
                                         ? std::string(powerNames[static_cast<std::size_t>(power)])
                                         : "1e" + std::to_string(power);
            appendText(out_, plotLeft - 10, lineY + 4, name,
                       "text-anchor=\"end\" fill=\"" + std::string(quietInkColour) + '"');
        }
        appendText(out_, plotLeft - 10, top - 18, "events",
                   "text-anchor=\"end\" fill=\"" + std::string(quietInkColour) + '"');
        out_ += "<line x1=\"" + number(plotLeft) + "\" y1=\"" + number(bottom) + "\" x2=\"" +
                number(plotLeft + plotWidth) + "\" y2=\"" + number(bottom) + "\" stroke=\"" +
                std::string(quietInkColour) + "\"/>\n";
    }

    template <class Y> void appendHistogramBars(const LevelSums& sums, double bottom, const Y& y)
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
                out_ += "<rect x=\"" + number(barsLeft + static_cast<double>(level) * barWidth) + "\" y=\"" +
                        number(barTop) + "\" width=\"" + number(barWidth - 1) + "\" height=\"" +
                        number(bottom - barTop) + "\" fill=\"" + std::string(levelColours[level]) + "\"><title>";
                appendXmlText(out_, std::to_string(decibelsBelowPeak(static_cast<int>(level))) + " dB, " +
                                        std::string(eventLengthBinLabels[bin]) + ": " +
                                        countText(static_cast<std::uint64_t>(count), "event"));
                out_ += "</title></rect>\n";
            }
            appendText(out_, groupLeft + groupWidth / 2, bottom + 18, eventLengthBinLabels[bin],
                       "text-anchor=\"middle\" font-size=\"11\"");
        }
    }

    const PlotData& data_;
    const PlotHeading& heading_;
    double columnWidth_ = 1;
    std::uint64_t rate_ = 1;
    std::uint64_t durationMs_ = 0;
    std::string out_;
};

} // namespace

std::string clipPlotSvg(const PlotData& data, const PlotHeading& heading, const LevelHistograms& histograms)
{
    return SvgPicture(data, heading).render(histograms);
}

} // namespace tarvelle
