// The 47-line statistics report of one level.
#pragma once

#include "clip/clip_stats.hpp"
#include "report/extended.hpp"
#include "wav/wave_header.hpp"

#include <string>

namespace tarvelle {

// A channel's average event length and events per second, unrounded: the one
// source of both numbers for the report and the JSON line. 0 / 0, for a
// channel without events or a file without samples, is a NaN.
struct ChannelFigures {
    Extended averageEventLength;
    Extended eventsPerSecond;
};

ChannelFigures channelFigures(const ChannelClipStats& channel, double durationSeconds);

// The whole file's bytes, CR LF after every line.
std::string clipReportText(const std::string& inputFileName, const WaveHeaderInfo& header, int clipLevel,
                           const ChannelClipStats& left, const ChannelClipStats& right);

} // namespace tarvelle
