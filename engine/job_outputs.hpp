// The files of one job: the clipped files and label tracks written into
// temporary files during the read, then put in place by the run, and the
// reports and picture written whole. It holds its share of the temporary
// files the platform can keep from the first it begins until the run ends,
// so that any number of jobs at once writes every output.
#pragma once

#include "engine/file_budget.hpp"
#include "engine/job_result.hpp"
#include "platform/file_access.hpp"
#include "platform/output_file.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarvelle {

// The label track of each level, then the check's.
constexpr std::size_t labelTrackCount = clipLevelCount + 1;
constexpr std::size_t checkLabelTrack = clipLevelCount;

class JobOutputs {
public:
    // Outputs whose name leads to this file (the input) are never begun.
    void protect(std::optional<FileIdentity> input) { input_ = input; }

    // The clipped files (each starting with wavHeader, or written by an
    // encoder of makeEncoder's where there is one) and the label tracks the
    // result wants, each in its temporary file.
    void begin(const JobResult& result, std::span<const std::uint8_t> wavHeader,
               const MakeOutputEncoder& makeEncoder = {});

    // A level's clipped file being written; none where no clipped file is
    // (reports only, a check, or the input's name).
    OutputFile* clippedWav(std::size_t level);
    OutputFile* labelTrack(std::size_t track);
    void appendToClippedWavs(std::span<const std::uint8_t> bytes);

    OutputResult commitClippedWav(std::size_t level, const std::string& fileName);
    OutputResult commitLabelTrack(std::size_t track, const std::string& fileName);
    OutputResult writeWhole(const std::string& fileName, const std::string& text) const;

    // Every temporary file removed and the share given back.
    void end();

    // Whether an output name leads to the input itself, through a hard or a
    // symbolic link: replacing it would destroy the recording.
    bool namesTheInput(const std::string& outputName) const;

private:
    OutputResult commit(std::optional<OutputFile>& file, const std::string& fileName);

    std::optional<FileIdentity> input_;
    FileBudget::Share share_; // before the files: given back only once they are gone
    std::array<std::optional<OutputFile>, clipLevelCount> clippedWavs_;
    std::array<std::optional<OutputFile>, labelTrackCount> labelTracks_;
};

} // namespace tarvelle
