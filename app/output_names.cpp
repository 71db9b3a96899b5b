#include "app/output_names.hpp"

#include "clip/peak_clip.hpp"

#include <string_view>

namespace tarvelle {

namespace {

#ifdef _WIN32
constexpr const char* folderSeparators = "/\\";
#else
constexpr const char* folderSeparators = "/";
#endif

std::string withoutLastFourBytes(const std::string& name)
{
    return name.substr(0, name.size() >= 4 ? name.size() - 4 : name.size());
}

} // namespace

std::string outputStem(const std::string& inputFileName, const std::string& outputFolder)
{
    if (outputFolder.empty()) {
        return withoutLastFourBytes(inputFileName);
    }
    const std::size_t lastSeparator = inputFileName.find_last_of(folderSeparators);
    const std::string fileName =
        lastSeparator == std::string::npos ? inputFileName : inputFileName.substr(lastSeparator + 1);
    const bool endsInSeparator = std::string_view(folderSeparators).find(outputFolder.back()) != std::string::npos;
    return outputFolder + (endsInSeparator ? "" : "/") + withoutLastFourBytes(fileName);
}

OutputNames outputNames(const std::string& inputFileName, int clipLevel, const std::string& outputFolder)
{
    const std::string stem = outputStem(inputFileName, outputFolder) + " " +
                             std::to_string(decibelsBelowPeak(clipLevel)) + "dB clipping";
    return OutputNames{stem + ".txt", stem + ".wav"};
}

} // namespace tarvelle
