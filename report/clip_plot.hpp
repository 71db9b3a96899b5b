// The picture of a run: each channel's waveform with the six thresholds, where
// each level clips, the event durations and, where measured, the loudness
// over time, as one self-contained SVG.
#pragma once

#include "clip/clip_stats.hpp"
#include "clip/loudness.hpp"
#include "clip/plot_gatherer.hpp"
#include "engine/delivery.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvelle {

struct PlotHeading {
    std::string fileName; // bytes as given; made safe for XML when written
    std::int32_t sampleRate = 0;
    std::string formatText;             // "16-bit PCM, stereo"
    double fullScale = 32768.0;         // the sample value of 0 dBFS, in the units of PlotData
    std::optional<double> peakDbfs;     // none for a silent file
    std::optional<double> truePeakDbtp; // where measured
    std::uint32_t channelMask = 0;      // the speakers of the channels, as the file names them
    double overLimitDbtp = 0.0;         // true peaks above it are marked: a converter would clip them
    // Its limits drawn as lines, and the silent head and tail it failed marked.
    const DeliveryResult* delivery = nullptr;
};

using EventLengthHistogram = std::array<std::int64_t, eventLengthBinCount>;
// Per level, one histogram per channel; the picture shows the channels summed.
using LevelHistograms = std::array<std::vector<EventLengthHistogram>, clipLevelCount>;

// The whole file's bytes (UTF-8, no scripts, no external resources). With
// loudness, a lane of it over time and the true-peak overs on the waveforms.
std::string clipPlotSvg(const PlotData& data, const PlotHeading& heading, const LevelHistograms& histograms,
                        const LoudnessResult* loudness = nullptr);

} // namespace tarvelle
