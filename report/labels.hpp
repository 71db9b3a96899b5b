// Where clipping is, as text: the label track Audacity imports (File >
// Import > Labels), which other editors read as a marker list, and the line
// of the clipping check per file.
#pragma once

#include "clip/existing_clipping.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvelle {

// The speaker the WAV channel mask gives the channel (L, R, C, LFE, Ls, Rs,
// ...); without one, "L" and "R" for two channels, else "CH1", "CH2", ...
// (a mono file's one channel is "CH1"), as for channels past the mask's.
std::string channelName(int channel, int channelCount, std::uint32_t channelMask = 0);

struct LabelEvent {
    int channel = 0;
    std::int64_t startFrame = 0;
    std::int64_t length = 0;    // in samples
    bool overFullScale = false; // float samples above full scale, not clipping
};

// Appends one label line, "start TAB end TAB text LF", as Audacity writes
// them: the times in seconds with six decimals, rounded to the nearest
// microsecond, the text the channel and the length ("L 41 samples", or
// "L 41 samples over full scale").
void appendLabel(std::string& bytes, const LabelEvent& event, int channelCount, std::int32_t sampleRate,
                 std::uint32_t channelMask = 0);

// "00:01:23.456": hours, minutes, seconds and milliseconds of the frame,
// the milliseconds cut rather than rounded so the time is never past the frame.
std::string frameTime(std::int64_t frame, std::int32_t sampleRate);

struct TruePeakLimit {
    double limitDbtp = 0.0;
    std::span<const double> truePeakDbtp; // per channel
};

// The check's lines for one file, without line ends: one for runs at full
// scale or at the ceilings, or else "NAME: no clipping"; one for float
// samples over full scale, when there are some; one for channels whose true
// peak exceeds the limit (when there is one). "no clipping" is left out when
// the true peak is over the limit, so the first line tells whether the file
// is clipped.
// name is printed as given, so the caller escapes it.
std::vector<std::string> checkLines(std::string_view name, const ExistingClipResult& clipping, double fullScale,
                                    std::int32_t sampleRate, std::optional<TruePeakLimit> truePeakLimit,
                                    std::uint32_t channelMask = 0);

} // namespace tarvelle
