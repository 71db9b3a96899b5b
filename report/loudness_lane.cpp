#include "report/plot_parts.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <vector>

namespace tarvelle::plot {

namespace {

constexpr std::string_view shortTermColour = "#1b6f8a";
constexpr std::string_view momentaryColour = "#a9d2e0";
constexpr std::string_view integratedColour = "#c2410c";
constexpr std::string_view overColour = "#e11d48";
constexpr double laneRangeDb = 48;

struct CurvePoint {
    double x;
    double lufs;
};

double xOfMs(const LoudnessView& view, double milliseconds)
{
    return plotLeft + (view.durationMs == 0 ? 0 : milliseconds / static_cast<double>(view.durationMs) * plotWidth);
}

// The loudness of every whole window of blocks, drawn at the window's middle;
// per pixel column only the loudest, so that the path stays small and no peak
// is lost.
std::vector<CurvePoint> loudnessCurve(const LoudnessView& view, std::size_t window)
{
    const std::span<const double> blocks = view.loudness.blockEnergies;
    const double msPerBlock = view.loudness.secondsPerBlock * 1000;
    std::vector<CurvePoint> points;
    long lastColumn = -1;
    for (std::size_t end = window; end <= blocks.size(); ++end) {
        double sum = 0;
        for (std::size_t block = end - window; block < end; ++block) {
            sum += blocks[block];
        }
        const double mean = sum / static_cast<double>(window);
        const double lufs = mean > 0 ? -0.691 + 10 * std::log10(mean) : -std::numeric_limits<double>::infinity();
        const double x = xOfMs(view, (static_cast<double>(end) - static_cast<double>(window) / 2) * msPerBlock);
        const auto column = static_cast<long>(std::floor(x - plotLeft));
        if (column != lastColumn || points.empty()) {
            points.push_back({x, lufs});
            lastColumn = column;
        } else if (lufs > points.back().lufs) {
            points.back() = {x, lufs};
        }
    }
    return points;
}

template <class Y>
void appendCurve(std::string& out, const std::vector<CurvePoint>& points, const Y& y, std::string_view id,
                 std::string_view colour, double width)
{
    if (points.empty()) {
        return;
    }
    out += "<path id=\"" + std::string(id) + "\" fill=\"none\" stroke=\"" + std::string(colour) +
           "\" stroke-width=\"" + number(width) + "\" stroke-linejoin=\"round\" d=\"";
    char command = 'M';
    for (const CurvePoint& point : points) {
        out += command + number(point.x) + ' ' + number(y(point.lufs));
        command = 'L';
    }
    out += "\"/>\n";
}

// The scale's top: the loudest momentary value rounded up to 6 dB.
double scaleTop(const std::vector<CurvePoint>& momentary)
{
    double loudest = -30;
    for (const CurvePoint& point : momentary) {
        loudest = std::isfinite(point.lufs) && point.lufs > loudest ? point.lufs : loudest;
    }
    return std::ceil(loudest / 6) * 6;
}

template <class Y> void appendScale(std::string& out, double top, double scaleTopLufs, const Y& y)
{
    const std::string quiet = "fill=\"" + std::string(quietInkColour) + '"';
    for (double lufs = scaleTopLufs; lufs >= scaleTopLufs - laneRangeDb; lufs -= 6) {
        appendLine(out, plotLeft, y(lufs), plotLeft + plotWidth, y(lufs),
                   "stroke=\"" + std::string(gridColour) + '"');
        if (std::fmod(lufs, 12) == 0) {
            appendText(out, plotLeft - 10, y(lufs) + 4, number(lufs, 0), "text-anchor=\"end\" " + quiet);
        }
    }
    appendText(out, plotLeft - 10, top - 8, "LUFS", "text-anchor=\"end\" " + quiet);
}

void appendLegend(std::string& out, const LoudnessView& view, double top)
{
    const LoudnessResult& loudness = view.loudness;
    std::string text = "short-term (3 s), momentary (400 ms, lighter)";
    text += loudness.integratedLufs ? ", integrated " + number(*loudness.integratedLufs, 1) + " LUFS"
                                    : ", integrated: " + loudness.noIntegratedReason;
    text += " \u00b7 true peak over " + number(view.overLimitDbtp, 1) + " dBTP marked on the waveform";
    appendText(out, plotLeft, top - 8, text, "fill=\"" + std::string(quietInkColour) + '"');
}

} // namespace

void appendLoudnessLane(std::string& out, const LoudnessView& view, double top)
{
    const std::vector<CurvePoint> momentary = loudnessCurve(view, 4);
    const std::vector<CurvePoint> shortTerm = loudnessCurve(view, 30);
    const double topLufs = scaleTop(momentary);
    const auto y = [&](double lufs) {
        return top + std::clamp((topLufs - lufs) / laneRangeDb, 0.0, 1.0) * laneHeight;
    };
    out += "<g id=\"loudness-lane\">\n";
    appendRect(out, plotLeft, top, plotWidth, laneHeight,
               "fill=\"#f7f8fa\" fill-opacity=\"0.6\" stroke=\"#cfd4da\"");
    appendScale(out, top, topLufs, y);
    appendLegend(out, view, top);
    appendCurve(out, momentary, y, "momentary", momentaryColour, 1);
    appendCurve(out, shortTerm, y, "short-term", shortTermColour, 1.6);
    if (view.profile != nullptr) {
        for (const auto& [limit, id] : {std::pair{view.profile->targetLufs, "delivery-target"},
                                        std::pair{view.profile->maxShortTermLufs, "delivery-max-short-term"}}) {
            if (limit) {
                appendLine(out, plotLeft, y(*limit), plotLeft + plotWidth, y(*limit),
                           "id=\"" + std::string(id) + "\" stroke=\"" + std::string(deliveryColour) +
                               "\" stroke-width=\"1.2\"");
            }
        }
    }
    if (view.loudness.integratedLufs) {
        const double lineY = y(*view.loudness.integratedLufs);
        appendLine(out, plotLeft, lineY, plotLeft + plotWidth, lineY,
                   "id=\"integrated\" stroke=\"" + std::string(integratedColour) +
                       "\" stroke-width=\"1.2\" stroke-dasharray=\"6 3\"");
    }
    out += "</g>\n";
}

void appendTruePeakOvers(std::string& out, const LoudnessView& view, int channel, int channels, double top,
                         double height)
{
    const std::vector<float>& peaks = view.loudness.blockTruePeaks;
    const auto count = static_cast<std::size_t>(channels);
    const auto blocks = peaks.size() / count;
    const auto framesPerBlock =
        static_cast<std::uint64_t>(std::llround(view.loudness.secondsPerBlock * static_cast<double>(view.rate)));
    const auto peakDbtp = [&](std::size_t block) {
        return 20 * std::log10(static_cast<double>(peaks[block * count + static_cast<std::size_t>(channel)]));
    };
    out += "<g id=\"true-peak-overs-" + std::to_string(channel + 1) + "\" fill=\"" + std::string(overColour) +
           "\">\n";
    for (std::size_t first = 0; first < blocks;) {
        if (!(peakDbtp(first) > view.overLimitDbtp)) {
            ++first;
            continue;
        }
        std::size_t end = first;
        double highest = peakDbtp(first);
        for (; end < blocks && peakDbtp(end) > view.overLimitDbtp; ++end) {
            highest = std::max(highest, peakDbtp(end));
        }
        const std::uint64_t startMs = frameMilliseconds(first * framesPerBlock, view.rate, false);
        const std::uint64_t endMs =
            frameMilliseconds(std::min<std::uint64_t>(end * framesPerBlock, view.totalFrames), view.rate, true);
        const double left = xOfMs(view, static_cast<double>(startMs));
        // At least two pixels, so that a single block's over still shows.
        const double width = std::max(xOfMs(view, static_cast<double>(endMs)) - left, 2.0);
        out += "<rect x=\"" + number(left) + "\" y=\"" + number(top) + "\" width=\"" + number(width) +
               "\" height=\"" + number(height) + "\" fill-opacity=\"0.22\"><title>true peak " +
               number(highest, 2) + " dBTP, " + timeText(startMs) + " \u2013 " + timeText(endMs) +
               "</title></rect>\n";
        appendRect(out, left, top, width, 5, "stroke=\"none\"");
        first = end;
    }
    out += "</g>\n";
}

} // namespace tarvelle::plot
