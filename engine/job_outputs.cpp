#include "engine/job_outputs.hpp"

#include <algorithm>

namespace tarvelle {

namespace {

constexpr const char* isTheInputText = "the name leads to the input file";

std::span<const std::uint8_t> bytesOf(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace

void JobOutputs::begin(const JobResult& result, std::span<const std::uint8_t> wavHeader,
                       const MakeOutputEncoder& makeEncoder)
{
    const bool checkLabels = result.check && result.check->labelsWanted;
    // Every temporary file this job holds at once, a whole file's included.
    std::size_t fileCount = 1 + (checkLabels ? 1 : 0);
    for (const LevelResult& level : result.levels) {
        fileCount += (level.clippedWavWanted ? 1 : 0) + (level.labelsWanted ? 1 : 0);
    }
    share_ = FileBudget::temporaryFiles().take(fileCount);
    const auto begin = [this](std::optional<OutputFile>& file, const std::string& fileName) {
        if (!namesTheInput(fileName)) {
            file.emplace(OutputFile::begin(fileName));
        }
    };
    for (std::size_t index = 0; index < result.levels.size(); ++index) {
        const LevelResult& level = result.levels[index];
        if (level.clippedWavWanted) {
            begin(clippedWavs_[index], level.names.clippedWav);
            if (clippedWavs_[index] && makeEncoder) {
                clippedWavs_[index]->encodeWith(makeEncoder);
            } else if (clippedWavs_[index]) {
                clippedWavs_[index]->append(wavHeader);
            }
        }
        if (level.labelsWanted) {
            begin(labelTracks_[index], level.names.labels);
        }
    }
    if (checkLabels) {
        begin(labelTracks_[checkLabelTrack], result.check->labels.fileName);
    }
}

OutputFile* JobOutputs::clippedWav(std::size_t level)
{
    std::optional<OutputFile>& file = clippedWavs_.at(level);
    return file ? &*file : nullptr;
}

void JobOutputs::appendToClippedWavs(std::span<const std::uint8_t> bytes)
{
    for (std::optional<OutputFile>& file : clippedWavs_) {
        if (file) {
            file->append(bytes);
        }
    }
}

OutputFile* JobOutputs::labelTrack(std::size_t track)
{
    std::optional<OutputFile>& file = labelTracks_.at(track);
    return file ? &*file : nullptr;
}

// Puts a file written during the read in place; one never begun is the input's name.
OutputResult JobOutputs::commit(std::optional<OutputFile>& file, const std::string& fileName)
{
    if (!file) {
        return notWritten(fileName, isTheInputText);
    }
    OutputResult result = file->commit();
    file.reset();
    return result;
}

OutputResult JobOutputs::commitClippedWav(std::size_t level, const std::string& fileName)
{
    return commit(clippedWavs_.at(level), fileName);
}

OutputResult JobOutputs::commitLabelTrack(std::size_t track, const std::string& fileName)
{
    return commit(labelTracks_.at(track), fileName);
}

OutputResult JobOutputs::writeWhole(const std::string& fileName, const std::string& text) const
{
    return namesTheInput(fileName) ? notWritten(fileName, isTheInputText)
                                   : writeOutputFile(fileName, bytesOf(text));
}

void JobOutputs::end()
{
    for (std::optional<OutputFile>& file : clippedWavs_) {
        file.reset();
    }
    for (std::optional<OutputFile>& file : labelTracks_) {
        file.reset();
    }
    share_.release();
}

bool JobOutputs::namesTheInput(const std::string& outputName) const
{
    const std::optional<FileIdentity> output = fileIdentity(outputName);
    return output && input_ && *output == *input_;
}

} // namespace tarvelle
