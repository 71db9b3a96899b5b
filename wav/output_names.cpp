#include "wav/output_names.hpp"

#include <array>

namespace tarvelle {

namespace {

constexpr std::array<std::string_view, clipLevelCount> reportSuffixes = {
    " 3dB clipping.txt",  " 6dB clipping.txt",  " 9dB clipping.txt",
    " 12dB clipping.txt", " 15dB clipping.txt", " 18dB clipping.txt",
};

constexpr std::array<std::string_view, clipLevelCount> wavSuffixes = {
    " 3dB clipping.wav",  " 6dB clipping.wav",  " 9dB clipping.wav",
    " 12dB clipping.wav", " 15dB clipping.wav", " 18dB clipping.wav",
};

} // namespace

std::string_view outputSuffix(OutputKind kind, int clipLevel)
{
    const auto index = static_cast<std::size_t>(clipLevel);
    return kind == OutputKind::Report ? reportSuffixes.at(index) : wavSuffixes.at(index);
}

std::string outputFileName(const std::string& inputFileName, OutputKind kind, int clipLevel)
{
    // The last four bytes go whatever they are; a shorter name stays whole.
    const std::size_t keptBytes = inputFileName.size() >= 4 ? inputFileName.size() - 4 : inputFileName.size();
    std::string fileName = inputFileName.substr(0, keptBytes);
    fileName += outputSuffix(kind, clipLevel);
    return fileName;
}

} // namespace tarvelle
