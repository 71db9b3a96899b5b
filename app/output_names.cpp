#include "app/output_names.hpp"

#include "clip/peak_clip.hpp"
#include "platform/file_access.hpp"

namespace tarvelle {

namespace {

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
    const std::string fileName = inputFileName.substr(folderOf(inputFileName).size());
    // A folder that ends in a separator (folderOf keeps it whole) takes none more.
    const std::string separator = folderOf(outputFolder) == outputFolder ? "" : "/";
    return outputFolder + separator + withoutLastFourBytes(fileName);
}

OutputNames outputNames(const std::string& inputFileName, int clipLevel, const std::string& outputFolder)
{
    const std::string stem = outputStem(inputFileName, outputFolder) + " " +
                             std::to_string(decibelsBelowPeak(clipLevel)) + "dB clipping";
    return OutputNames{stem + ".txt", stem + ".wav", stem + " labels.txt"};
}

std::string checkLabelsName(const std::string& inputFileName, const std::string& outputFolder)
{
    return outputStem(inputFileName, outputFolder) + " clipping labels.txt";
}

std::string plotName(const std::string& inputFileName, const std::string& outputFolder)
{
    return outputStem(inputFileName, outputFolder) + " clipping.svg";
}

} // namespace tarvelle
