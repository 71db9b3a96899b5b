// The 47-line statistics report of one level.
#pragma once

#include "clip/clip_stats.hpp"
#include "numbers/extended.hpp"
#include "wav/sample_format.hpp"
#include "wav/wave_header.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvelle {

// A channel's average event length and events per second, unrounded: the one
// source of both numbers for the report and the JSON line. 0 / 0, for a
// channel without events or a file without samples, is a NaN.
struct ChannelFigures {
    Extended averageEventLength;
    Extended eventsPerSecond;
};

ChannelFigures channelFigures(const ChannelClipStats& channel, double durationSeconds);

// The durations of the eleven event-length bins, as the report's lines name them.
inline constexpr std::array<std::string_view, eventLengthBinCount> eventLengthBinLabels = {
    "<25us",           "25us to <50us",    "50us to <100us",  "100us to <200us",
    "200us to <400us", "400us to <800us",  "800us to <1.6ms", "1.6ms to <3.2ms",
    "3.2ms to <6.4ms", "6.4ms to <12.8ms", ">=12.8ms",
};

// The whole file's bytes, CR LF after every line.
std::string clipReportText(const std::string& inputFileName, const AcceptedHeader& header, int clipLevel,
                           const ChannelClipStats& left, const ChannelClipStats& right);

// Any sample format and channel count: two channels are LEFT and RIGHT, any
// other count CHANNEL 1 to CHANNEL N, and a file that is not classic 16-bit
// stereo names its sample format under the rate. A classic file's report is
// the one above, byte for byte. A container other than WAV is named after
// the format, in any format: "24-bit integer (FLAC)".
std::string clipReportText(const std::string& inputFileName, const SampleFormat& format, std::uint64_t frameCount,
                           int clipLevel, std::span<const ChannelClipStats> channels,
                           std::string_view container = {});

} // namespace tarvelle
