// The 47-line statistics report of one level.
#pragma once

#include "clip/clip_stats.hpp"
#include "wav/wave_header.hpp"

#include <string>

namespace tarvelle {

// The whole file's bytes, CR LF after every line.
std::string clipReportText(const std::string& inputFileName, const WaveHeaderInfo& header, int clipLevel,
                           const ChannelClipStats& left, const ChannelClipStats& right);

} // namespace tarvelle
