// Names of the twelve outputs: the input name less its last four bytes (or
// less its extension, whatever its length, for the sound files that are not
// WAV: "take.flac"), then a suffix per level. The name is never cut to any length.
#pragma once

#include <string>

namespace tarvelle {

struct OutputNames {
    std::string report;
    std::string clippedWav;
    std::string labels; // the level's label track, when asked for
};

// How a name's end is cut for its outputs: the dialogue's files drop the last
// four bytes whatever they are; batch mode drops a known sound file's
// extension whole ("take.flac": "take"), and otherwise four bytes too.
enum class StemRule { LastFourBytes, SoundFileExtension };

// The input name less its end, by the rule; a name shorter than four bytes
// stays whole. With an output folder, the folder and the input's file name
// (its folders left off) less its end.
std::string outputStem(const std::string& inputFileName, const std::string& outputFolder = {},
                       StemRule rule = StemRule::SoundFileExtension);

// ".flac" of "take.flac"; empty for a name without one.
std::string extensionOf(const std::string& fileName);

// What a clipped file of this name is called by: the input's own extension
// for the lossless sound files that are not WAV ("take.aif": ".aif"), else ".wav".
std::string clippedExtensionOf(const std::string& inputFileName);

// "<stem> 3dB clipping.txt" ... "<stem> 18dB clipping.wav", the clipped file
// with clippedExtension where one is given, else clippedExtensionOf the input.
OutputNames outputNames(const std::string& inputFileName, int clipLevel, const std::string& outputFolder = {},
                        const std::string& clippedExtension = {}, StemRule rule = StemRule::SoundFileExtension);

// "<stem> clipping labels.txt": where the clipping already in the file is.
std::string checkLabelsName(const std::string& inputFileName, const std::string& outputFolder = {});

// "<stem> clipping.svg": the picture of the run.
std::string plotName(const std::string& inputFileName, const std::string& outputFolder = {});

} // namespace tarvelle
