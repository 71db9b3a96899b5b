#include "app/output_names.hpp"

#include "clip/peak_clip.hpp"
#include "platform/file_access.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace tarvelle {

namespace {

// The extensions of the sound files other than WAV, which go whole whatever
// their length; lossy ones give WAV outputs.
struct KnownExtension {
    std::string_view extension;
    bool lossy;
};
constexpr std::array<KnownExtension, 11> knownExtensions{{{"flac", false},
                                                          {"aif", false},
                                                          {"aiff", false},
                                                          {"aifc", false},
                                                          {"caf", false},
                                                          {"w64", false},
                                                          {"mp3", true},
                                                          {"ogg", true},
                                                          {"oga", true},
                                                          {"opus", true},
                                                          {"mp2", true}}};

const KnownExtension* knownExtensionOf(const std::string& name)
{
    const std::string extension = extensionOf(name);
    std::string lower;
    for (const char letter : extension.substr(extension.empty() ? 0 : 1)) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    }
    const auto found = std::find_if(knownExtensions.begin(), knownExtensions.end(),
                                    [&](const KnownExtension& known) { return known.extension == lower; });
    return found == knownExtensions.end() ? nullptr : &*found;
}

std::string withoutEnd(const std::string& name, StemRule rule)
{
    const KnownExtension* known = rule == StemRule::SoundFileExtension ? knownExtensionOf(name) : nullptr;
    if (known != nullptr) {
        return name.substr(0, name.size() - known->extension.size() - 1);
    }
    return name.substr(0, name.size() >= 4 ? name.size() - 4 : name.size());
}

} // namespace

std::string extensionOf(const std::string& fileName)
{
    const std::size_t dot = fileName.rfind('.');
    const std::size_t folderEnd = folderOf(fileName).size();
    return dot == std::string::npos || dot < folderEnd || dot + 1 == fileName.size() ? std::string{}
                                                                                     : fileName.substr(dot);
}

std::string clippedExtensionOf(const std::string& inputFileName)
{
    const KnownExtension* known = knownExtensionOf(inputFileName);
    return known != nullptr && !known->lossy ? extensionOf(inputFileName) : ".wav";
}

std::string outputStem(const std::string& inputFileName, const std::string& outputFolder, StemRule rule)
{
    if (outputFolder.empty()) {
        return withoutEnd(inputFileName, rule);
    }
    const std::string fileName = inputFileName.substr(folderOf(inputFileName).size());
    // A folder that ends in a separator (folderOf keeps it whole) takes none more.
    const std::string separator = folderOf(outputFolder) == outputFolder ? "" : "/";
    return outputFolder + separator + withoutEnd(fileName, rule);
}

OutputNames outputNames(const std::string& inputFileName, int clipLevel, const std::string& outputFolder,
                        const std::string& clippedExtension, StemRule rule)
{
    const std::string stem = outputStem(inputFileName, outputFolder, rule) + " " +
                             std::to_string(decibelsBelowPeak(clipLevel)) + "dB clipping";
    return OutputNames{stem + ".txt",
                       stem + (clippedExtension.empty() ? clippedExtensionOf(inputFileName) : clippedExtension),
                       stem + " labels.txt"};
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
