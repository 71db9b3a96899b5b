#include "report/clip_plot.hpp"

#include "report/clip_report.hpp"
#include "report/labels.hpp"
#include "report/plot_parts.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace tarvelle {

namespace {

using namespace plot;

class SvgPicture {
public:
    SvgPicture(const PlotData& data, const PlotHeading& heading, const LoudnessResult* loudness)
        : data_(data), heading_(heading), loudness_(loudness)
    {
        columnWidth_ = plotWidth / data.columnCount;
        rate_ = static_cast<std::uint64_t>(std::max(heading.sampleRate, 1));
        durationMs_ = frameMilliseconds(data.totalFrames, rate_, true);
    }

    std::string render(const LevelHistograms& histograms)
    {
        const double overviewTop = 76;
        const double laneTop = overviewTop + data_.channelCount * (channelHeight + channelGap) + 22;
        const double stripsTop = loudness_ ? laneTop + laneHeight + channelGap + 6 : laneTop - 16;
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
        if (loudness_) {
            plot::appendLoudnessLane(out_, loudnessView(), laneTop);
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
        plot::appendEventHistogram(out_, histograms, data_.channelCount, heading_.channelMask, histogramTop);
        out_ += "</svg>\n";
        return std::move(out_);
    }

private:
    plot::LoudnessView loudnessView() const
    {
        return {*loudness_,
                durationMs_,
                rate_,
                data_.totalFrames,
                heading_.overLimitDbtp,
                heading_.delivery != nullptr ? &heading_.delivery->profile : nullptr};
    }

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
            appendLine(out_, x, top, x, bottom + 5, "stroke=\"" + std::string(gridColour) + '"');
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
                appendLine(out_, plotLeft, y(value), plotLeft + plotWidth, y(value),
                           "stroke=\"" + std::string(levelColours[static_cast<std::size_t>(level)]) +
                               "\" stroke-width=\"0.8\" stroke-dasharray=\"5 3\"");
            }
        }
        if (heading_.delivery != nullptr) {
            appendDeliveryMarks(*heading_.delivery, y, top);
        }
        if (loudness_ && !loudness_->blockTruePeaks.empty()) {
            plot::appendTruePeakOvers(out_, loudnessView(), channel, data_.channelCount, top, channelHeight);
        }
    }

    // The true peak's maximum as lines, and the silent head and tail the
    // profile allows less of shaded.
    template <class Y> void appendDeliveryMarks(const DeliveryResult& delivery, const Y& y, double top)
    {
        const std::string colour = "stroke=\"" + std::string(deliveryColour) + '"';
        if (const std::optional<double> limit = delivery.profile.maxTruePeakDbtp) {
            const double value = heading_.fullScale * std::pow(10.0, *limit / 20.0);
            for (const double level : {value, -value}) {
                appendLine(out_, plotLeft, y(level), plotLeft + plotWidth, y(level),
                           "class=\"delivery-true-peak\" stroke-width=\"1\" " + colour);
            }
        }
        const double seconds = static_cast<double>(durationMs_) / 1000.0;
        for (const DeliveryCheck& check : delivery.checks) {
            if (check.pass || (check.name != "head-silence" && check.name != "tail-silence")) {
                continue;
            }
            const double from = check.name == "head-silence" ? 0.0 : seconds - *check.value;
            const double x = plotLeft + (seconds > 0.0 ? from / seconds * plotWidth : 0.0);
            const double width = seconds > 0.0 ? *check.value / seconds * plotWidth : 0.0;
            out_ += "<rect class=\"delivery-" + check.name + "\" x=\"" + number(x) + "\" y=\"" + number(top) +
                    "\" width=\"" + number(std::max(width, 2.0)) + "\" height=\"" + number(channelHeight) +
                    "\" fill=\"" + std::string(deliveryColour) + "\" fill-opacity=\"0.18\"><title>";
            appendXmlText(out_, check.failure);
            out_ += "</title></rect>\n";
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

    const PlotData& data_;
    const PlotHeading& heading_;
    const LoudnessResult* loudness_;
    double columnWidth_ = 1;
    std::uint64_t rate_ = 1;
    std::uint64_t durationMs_ = 0;
    std::string out_;
};

} // namespace

std::string clipPlotSvg(const PlotData& data, const PlotHeading& heading, const LevelHistograms& histograms,
                        const LoudnessResult* loudness)
{
    return SvgPicture(data, heading, loudness).render(histograms);
}

} // namespace tarvelle
