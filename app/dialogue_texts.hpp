// The dialogue's texts, the same on the screen and in plain lines.
#pragma once

#include <string>
#include <string_view>

namespace tarvelle::dialogue_text {

constexpr std::string_view title = "   Tarvelle";
constexpr std::string_view notice = "   Hard-clipping preview for 16-bit stereo WAV files";
constexpr std::string_view webAddress = "   tarvelle.example";
constexpr std::string_view prompt = "   Input Wave file?";
constexpr std::string_view working = "   Working...";
constexpr std::string_view completed = "   Job completed";
constexpr std::string_view completedWithErrors = "   Job completed with errors";
constexpr std::string_view pressAnyKey = "   press any key to quit";

inline std::string failedOutputs(int failedOutputCount, int outputFileCount)
{
    return "   " + std::to_string(failedOutputCount) + " of " + std::to_string(outputFileCount) +
           " output files could not be written";
}

} // namespace tarvelle::dialogue_text
