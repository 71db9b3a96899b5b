// The work on one input file: the checks and both reads of the file when the
// job is opened, then the six levels, each put in place and reported to the
// caller in order.
#pragma once

#include "app/input_checks.hpp"
#include "app/output_names.hpp"
#include "clip/clip_pass.hpp"
#include "clip/existing_clipping.hpp"
#include "clip/loudness.hpp"
#include "clip/plot_gatherer.hpp"
#include "platform/file_access.hpp"
#include "platform/output_file.hpp"
#include "wav/sample_format.hpp"
#include "wav/wave_header.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace tarvelle {

constexpr int outputFileCount = 2 * clipLevelCount;

// How a job is run; the defaults write both files of every level beside the input.
struct JobOptions {
    std::string outputFolder; // where the outputs go; empty: beside the input
    bool reportsOnly = false; // only the six reports
    // Find the clipping already in the file instead of writing the six levels.
    bool check = false;
    std::int64_t minRunLength = 3; // the shortest run the check counts
    bool labels = false;           // a label track of every level's events, or of the check's runs
    bool keepEvents = false;       // every level's events kept for the caller
    bool loudness = false;         // true peak and loudness measured
    bool plot = false;             // a picture of where and how the levels clip
};

// Told as the job goes; any may be left empty.
struct JobProgress {
    std::function<void()> accepted;  // the header passed, the reading starts
    std::function<void()> peakFound; // between the two reads
};

// One level as it was done: what it counted and what became of its two files.
// The report, the JSON line and the batch summary all read this.
struct LevelResult {
    LevelStats stats;
    OutputNames names;
    OutputResult report;
    OutputResult clippedWav;
    OutputResult labels;
    bool reportWanted = true;     // false when the run checks the file instead
    bool clippedWavWanted = true; // false when the run writes the reports only
    bool labelsWanted = false;
    std::vector<ClipEvent> events; // when asked for, in the order they ended

    int writtenOutputCount() const
    {
        return (report.written ? 1 : 0) + (clippedWav.written ? 1 : 0) + (labels.written ? 1 : 0);
    }
    int failedOutputCount() const
    {
        return (reportWanted && !report.written ? 1 : 0) + (clippedWavWanted && !clippedWav.written ? 1 : 0) +
               (labelsWanted && !labels.written ? 1 : 0);
    }
};

// What the check found, when asked for.
struct CheckResult {
    ExistingClipResult clipping;
    std::vector<ExistingClipRun> runs; // in the order they ended
    OutputResult labels;
    bool labelsWanted = false;
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
    // The dialogue's file: 16-bit stereo at 44.1, 88.2 or 176.4 kHz, read as
    // it always was. Checks the file, then streams it twice through fixed
    // buffers: once for the peak, once to count the six levels and, unless
    // only the reports are wanted, to write the six clipped files into
    // temporary files beside their final names. On failure no output is
    // touched and the error says why.
    static std::variant<ClipJob, InputError> open(const std::string& inputFileName, const JobOptions& options = {},
                                                  const JobProgress& progress = {});

    // Batch mode's file: any uncompressed PCM or float WAV, the name taken
    // as it is. On failure, the message that says why.
    static std::variant<ClipJob, std::string> openAnyFormat(const std::string& inputFileName,
                                                            const JobOptions& options = {},
                                                            const JobProgress& progress = {});

    const std::string& inputFileName() const { return inputFileName_; }
    const SampleFormat& sampleFormat() const { return format_; }
    // A 16-bit stereo file's header as read; empty for the other formats.
    const AcceptedHeader& header() const { return header_; }
    std::uint64_t frameCount() const { return frameCount_; }
    double durationSeconds() const;
    // The largest magnitude, in the file's units.
    double peak() const { return peak_; }
    // Said of the file's header by the reader: the data it holds is not what it claims.
    const std::string& warning() const { return warning_; }

    // Levels 0 to 5 in order: the report written, then the clipped file put in
    // place, before the next level starts. Returns how many of the files
    // (twelve, or six reports) could not be written. Should a small allocation
    // still fail (std::bad_alloc), every temporary file still waiting is
    // removed before the exception leaves.
    int run(const LevelListener& listener = {});

    // The files the run writes: per level a report, a clipped file and a
    // label track, as asked; for a check, its label track if asked.
    int outputCount() const;

    const std::optional<CheckResult>& check() const { return check_; }
    const std::optional<LoudnessResult>& loudness() const { return loudness_; }
    // The picture, once run has written it.
    const OutputResult& plot() const { return plot_; }

private:
    ClipJob() = default;

    // The two reads of a 16-bit stereo file and of any other.
    std::optional<InputError> readClassic(const FileHandle& input, const JobProgress& progress);
    std::optional<std::string> readAnyFormat(const FileHandle& input, std::uint64_t dataOffset,
                                             const JobProgress& progress);
    void nameLevels();
    void beginOutputs(std::span<const std::uint8_t> wavHeader);
    // Where each level's events and the check's runs go as they are found.
    ClipEventSink eventSink(std::size_t level);
    std::unique_ptr<ExistingClipDetector> makeDetector(double fullScale, bool isFloat);
    void startPlot();
    void finishPlot();
    void finishAnalyses(ExistingClipDetector* detector, const LoudnessMeter* meter);
    void finishLabels();
    bool namesTheInput(const std::string& outputName) const;

    std::string inputFileName_;
    JobOptions options_;
    AcceptedHeader header_; // a 16-bit stereo file's, as read
    SampleFormat format_;
    std::uint64_t frameCount_ = 0;
    double peak_ = 0.0;
    std::string warning_;
    std::string readFailure_;                         // the system's reason for a read error
    std::optional<FileIdentity> inputIdentity_;       // no output may replace the input itself
    std::array<LevelResult, clipLevelCount> levels_;  // counted and named, files not yet in place
    std::array<std::string, clipLevelCount> reports_; // the report texts
    // The clipped files, complete in their temporary files until run.
    std::array<std::optional<OutputFile>, clipLevelCount> clippedWavs_;
    // The label tracks, levels' and the check's, and their text on its way.
    std::array<std::optional<OutputFile>, clipLevelCount + 1> labelFiles_;
    std::array<std::string, clipLevelCount + 1> labelText_;
    std::optional<CheckResult> check_;
    std::optional<LoudnessResult> loudness_;
    std::unique_ptr<PlotGatherer> plotGatherer_; // while the file is read
    std::string plotText_;                       // the picture, until run writes it
    OutputResult plot_;
};

} // namespace tarvelle
