// Names of the twelve outputs: the input name less its last four bytes, then a
// suffix per level. The name is never cut to any length.
#pragma once

#include <string>

namespace tarvelle {

struct OutputNames {
    std::string report;
    std::string clippedWav;
    std::string labels; // the level's label track, when asked for
};

// The input name less its last four bytes, whatever they are; a shorter name
// stays whole. With an output folder, the folder and the input's file name
// (its folders left off) less its last four bytes.
std::string outputStem(const std::string& inputFileName, const std::string& outputFolder = {});

// "<stem> 3dB clipping.txt" ... "<stem> 18dB clipping.wav".
OutputNames outputNames(const std::string& inputFileName, int clipLevel, const std::string& outputFolder = {});

// "<stem> clipping labels.txt": where the clipping already in the file is.
std::string checkLabelsName(const std::string& inputFileName, const std::string& outputFolder = {});

// "<stem> clipping.svg": the picture of the run.
std::string plotName(const std::string& inputFileName, const std::string& outputFolder = {});

} // namespace tarvelle
