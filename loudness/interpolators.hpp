// The two interpolators peaks are read through.
#pragma once

#include "loudness/peak_follower.hpp"

#include <cstdint>
#include <optional>

namespace tarvelle {

// True peak as the common meters read it: 4x below 96 kHz, 2x below
// 192 kHz, 49 Hann-windowed sinc taps, in float; none at higher rates, where
// the true peak is the sample peak.
std::optional<PolyphaseFilter> truePeakFilter(std::int32_t sampleRate);

// Close to the ideal reconstruction a converter approaches: 16x, a long
// Kaiser-windowed sinc, in double.
PolyphaseFilter reconstructionFilter();

} // namespace tarvelle
