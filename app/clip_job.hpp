// The work on one input file: the checks and both reads of the file when the
// job is opened, then the six levels, each put in place and reported to the
// caller in order.
#pragma once

#include "app/input_checks.hpp"
#include "app/output_names.hpp"
#include "clip/clip_pass.hpp"
#include "platform/file_access.hpp"
#include "platform/output_file.hpp"
#include "wav/wave_header.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>

namespace tarvelle {

constexpr int outputFileCount = 2 * clipLevelCount;

// How a job is run; the defaults write both files of every level beside the input.
struct JobOptions {
    std::string outputFolder; // where the outputs go; empty: beside the input
    bool reportsOnly = false; // only the six reports
};

// One level as it was done: what it counted and what became of its two files.
// The report, the JSON line and the batch summary all read this.
struct LevelResult {
    LevelStats stats;
    OutputNames names;
    OutputResult report;
    OutputResult clippedWav;
    bool clippedWavWanted = true; // false when the run writes the reports only

    int writtenOutputCount() const { return (report.written ? 1 : 0) + (clippedWav.written ? 1 : 0); }
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

// Bytes a run holds at once, whatever the length of the file.
std::uint64_t runMemoryBytes();

class ClipJob {
public:
    // Checks the file, then streams it twice through fixed buffers: once for
    // the peak, once to count the six levels and, unless only the reports are
    // wanted, to write the six clipped files into temporary files beside their
    // final names. onAccepted, if given, is called once the header passes,
    // before the reading; onPeakFound between the two reads. On failure no
    // output is touched and the error says why.
    static std::variant<ClipJob, InputError> open(const std::string& inputFileName, const JobOptions& options = {},
                                                  const std::function<void()>& onAccepted = {},
                                                  const std::function<void()>& onPeakFound = {});

    const std::string& inputFileName() const { return inputFileName_; }
    const WaveHeaderInfo& header() const { return header_; }
    std::int32_t peakLevel() const { return peakLevel_; }

    // Levels 0 to 5 in order: the report written, then the clipped file put in
    // place, before the next level starts. Returns how many of the files
    // (twelve, or six reports) could not be written. Should a small allocation
    // still fail (std::bad_alloc), every temporary file still waiting is
    // removed before the exception leaves.
    int run(const LevelListener& listener = {});

    int outputCount() const { return options_.reportsOnly ? clipLevelCount : outputFileCount; }

private:
    ClipJob() = default;

    std::optional<InputError> readThrough(const FileHandle& input, const std::function<void()>& onPeakFound);
    void prepareLevels(const SixLevelCount& counts);
    bool namesTheInput(const std::string& outputName) const;

    std::string inputFileName_;
    JobOptions options_;
    WaveHeaderInfo header_;
    std::int32_t peakLevel_ = 0;
    std::optional<FileIdentity> inputIdentity_; // no output may replace the input itself
    std::array<LevelResult, clipLevelCount> levels_;  // counted and named, files not yet in place
    std::array<std::string, clipLevelCount> reports_; // the report texts
    // The clipped files, complete in their temporary files until run.
    std::array<std::optional<OutputFile>, clipLevelCount> clippedWavs_;
};

} // namespace tarvelle
