// Names of the twelve outputs: the input name less its last four bytes, then a
// suffix per level. The name is never cut to any length.
#pragma once

#include <string>
#include <string_view>

namespace tarvelle {

constexpr int clipLevelCount = 6;

enum class OutputKind { Report, ClippedWav };

// " 3dB clipping.txt" ... " 18dB clipping.wav".
std::string_view outputSuffix(OutputKind kind, int clipLevel);

std::string outputFileName(const std::string& inputFileName, OutputKind kind, int clipLevel);

} // namespace tarvelle
