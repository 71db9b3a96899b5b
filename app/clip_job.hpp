// The work on one input file: the checks and the load when the job is opened,
// then the six levels, each reported to the caller as it is done.
#pragma once

#include "app/input_checks.hpp"
#include "app/output_names.hpp"
#include "clip/clip_pass.hpp"
#include "platform/file_access.hpp"
#include "platform/output_file.hpp"
#include "wav/samples.hpp"
#include "wav/wave_header.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarvelle {

constexpr int outputFileCount = 12;

// How a job is run; the defaults write both files of every level beside the input.
struct JobOptions {
    std::string outputFolder; // where the outputs go; empty: beside the input
    // Only the six reports: the input is streamed, never held whole.
    bool reportsOnly = false;
};

// One level as it was done: what it counted and what became of its two files.
struct LevelResult {
    int clipLevel = 0;
    int decibelsBelowPeak = 0;
    std::int16_t clipThreshold = 0;
    ChannelClipStats left;
    ChannelClipStats right;
    OutputNames names;
    OutputResult report;
    OutputResult clippedWav;
    bool clippedWavWanted = true; // false when the run writes the reports only

    int failedOutputCount() const
    {
        return (report.written ? 0 : 1) + (clippedWavWanted && !clippedWav.written ? 1 : 0);
    }
};

// Told of each level as the job runs; either may be left empty.
struct LevelListener {
    std::function<void(int clipLevel)> levelStarting;
    std::function<void(const LevelResult&)> levelDone;
};

// Bytes a run holds at once for a file of samplesPerChannel frames.
std::uint64_t runMemoryBytes(std::int32_t samplesPerChannel);

class ClipJob {
public:
    // Checks the file, then reads it and takes all the memory the run needs:
    // the counts, names and report texts of all six levels. The samples are
    // held for the clipped files; for the reports only, the file is read
    // through twice instead, for the peak and then for the counts, and never
    // held whole. onAccepted, if given, is called once the header passes,
    // before the reading. On failure nothing is written and the error says why.
    static std::variant<ClipJob, InputError> open(const std::string& inputFileName, const JobOptions& options = {},
                                                  const std::function<void()>& onAccepted = {});

    const std::string& inputFileName() const { return inputFileName_; }
    const WaveHeaderInfo& header() const { return header_; }
    std::int32_t peakLevel() const { return peakLevel_; }

    // Levels 0 to 5 in order, each written and reported before the next
    // starts. Returns how many of the files (twelve, or six reports) could not
    // be written. Should a small allocation still fail (std::bad_alloc), the
    // file being written is removed before the exception leaves.
    int run(const LevelListener& listener = {});

    int outputCount() const { return options_.reportsOnly ? clipLevelCount : outputFileCount; }

private:
    ClipJob() = default;

    // Fills samples (when held), peak, counts, names and report texts.
    std::optional<InputError> readForClipping(FileHandle& input);
    std::optional<InputError> readForReports(FileHandle& input);
    void prepareLevels(const SixLevelCount& counts);

    OutputResult writeReport(const LevelResult& level, const std::string& text) const;
    OutputResult writeClippedWav(const std::string& fileName, std::int16_t clipThreshold);
    bool namesTheInput(const std::string& outputName) const;

    std::string inputFileName_;
    JobOptions options_;
    WaveHeaderInfo header_;
    SampleArray interleavedSamples_;
    std::vector<std::int16_t> block_;                 // one block of clipped samples on its way to the file
    std::array<LevelResult, clipLevelCount> levels_;  // counted and named, files not yet written
    std::array<std::string, clipLevelCount> reports_; // the report texts
    std::int32_t peakLevel_ = 0;
    std::optional<FileIdentity> inputIdentity_; // no output may replace the input itself
};

} // namespace tarvelle
