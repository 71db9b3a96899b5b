// The pieces the picture is drawn with, shared by its parts: the layout, the
// colours and SVG text made safe.
#pragma once

#include "clip/loudness.hpp"
#include "report/clip_plot.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvelle::plot {

inline constexpr double plotLeft = 78;
inline constexpr double plotWidth = 1200;
inline constexpr double pictureWidth = plotLeft + plotWidth + 28;
inline constexpr double channelHeight = 150;
inline constexpr double channelGap = 12;
inline constexpr double stripHeight = 14;
inline constexpr double stripGap = 5;
inline constexpr double histogramHeight = 200;
inline constexpr double laneHeight = 120;

// Dark to light by level, so that 3 dB stands out and the order reads at a glance.
inline constexpr std::array<std::string_view, clipLevelCount> levelColours = {
    "#3b0f70", "#8c2981", "#de4968", "#f7705c", "#fd9f6c", "#f6c44f",
};
inline constexpr std::string_view existingColour = "#2f3640";
inline constexpr std::string_view envelopeColour = "#8792a2";
inline constexpr std::string_view gridColour = "#e4e7eb";
inline constexpr std::string_view inkColour = "#222831";
inline constexpr std::string_view quietInkColour = "#5c6673";
inline constexpr std::string_view deliveryColour = "#7c3aed";

std::string number(double value, int places = 1);
// Markup as entities, bytes XML cannot hold as backslash escapes.
void appendXmlText(std::string& out, std::string_view text);
// Milliseconds to frame, rounded down or up, without overflowing.
std::uint64_t frameMilliseconds(std::uint64_t frame, std::uint64_t rate, bool roundUp);
// m:ss with the given number of decimals (0 to 3).
std::string timeText(std::uint64_t milliseconds, int decimals = 3);
std::string countText(std::uint64_t count, std::string_view unit);
void appendText(std::string& out, double x, double y, std::string_view text, std::string_view attributes = {});
void appendRect(std::string& out, double x, double y, double width, double height, std::string_view attributes);
void appendLine(std::string& out, double x1, double y1, double x2, double y2, std::string_view attributes);

// The durations of the events of every level, summed over the channels.
void appendEventHistogram(std::string& out, const LevelHistograms& histograms, int channels,
                          std::uint32_t channelMask, double top);

// Where loudness is shown: the file's length and the lane's measure.
struct LoudnessView {
    const LoudnessResult& loudness;
    std::uint64_t durationMs; // the width of the picture
    std::uint64_t rate;
    std::uint64_t totalFrames;
    double overLimitDbtp;
    const DeliveryProfile* profile = nullptr; // its target and short-term maximum drawn
};

// Short-term and momentary loudness over time with the integrated loudness.
void appendLoudnessLane(std::string& out, const LoudnessView& view, double top);
// The stretches of one channel whose true peak exceeds the limit.
void appendTruePeakOvers(std::string& out, const LoudnessView& view, int channel, int channels, double top,
                         double height);

} // namespace tarvelle::plot
