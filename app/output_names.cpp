#include "app/output_names.hpp"

#include "clip/peak_clip.hpp"

namespace tarvelle {

std::string outputStem(const std::string& inputFileName)
{
    return inputFileName.substr(0, inputFileName.size() >= 4 ? inputFileName.size() - 4 : inputFileName.size());
}

OutputNames outputNames(const std::string& inputFileName, int clipLevel)
{
    const std::string stem =
        outputStem(inputFileName) + " " + std::to_string(decibelsBelowPeak(clipLevel)) + "dB clipping";
    return OutputNames{stem + ".txt", stem + ".wav"};
}

} // namespace tarvelle
