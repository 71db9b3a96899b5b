// The work on one input file: the checks and both reads of the file when the
// job is opened, then the six levels, each put in place and reported to the
// caller in order.
#pragma once

#include "app/input_checks.hpp"
#include "engine/job_error.hpp"
#include "engine/job_outputs.hpp"
#include "engine/job_result.hpp"
#include "platform/file_access.hpp"
#include "wav/sample_format.hpp"
#include "wav/wave_header.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>

namespace tarvelle {

struct OtherInput;
class StreamInput;

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
    // Judged against it; needs the check and the loudness.
    std::optional<DeliveryProfile> delivery;
    bool channelStats = false; // silence, DC offset and the channels' likeness, without a profile too
    // The name reports and outputs take where the file read is not the
    // user's (standard input kept in a temporary file): "stdin 3dB clipping.wav".
    std::string inputName;
};

// Told as the job goes; any may be left empty.
struct JobProgress {
    std::function<void()> accepted;  // the header passed, the reading starts
    std::function<void()> peakFound; // between the two reads
    // Bytes loaded so far of all the job's reads together, as the reading
    // threads load them: called often, from more than one thread at once.
    std::function<void(std::uint64_t done, std::uint64_t total)> reading = {};
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
    static std::variant<ClipJob, JobError> open(const std::string& inputFileName, const JobOptions& options = {},
                                                const JobProgress& progress = {});

    // Batch mode's file: any uncompressed PCM or float WAV, or any other
    // sound file libsndfile reads where the program is built with it, the
    // name taken as it is. On failure, why.
    static std::variant<ClipJob, JobError> openAnyFormat(const std::string& inputFileName,
                                                         const JobOptions& options = {},
                                                         const JobProgress& progress = {});

    // Batch mode's WAV, or other sound libsndfile reads from a stream, from
    // a stream read once (standard input), named options.inputName, for a
    // run that reads once (readsOnce): any size, and the sizes a pipe's
    // writer leaves unknown. On failure, why; a stream that is not WAV and
    // that libsndfile cannot open from the bytes the stream keeps is left as
    // it was (kept, and the rest unread), refused as not WAV, so that it can
    // still be read some other way.
    static std::variant<ClipJob, JobError> openStream(StreamInput& input, const JobOptions& options,
                                                      const JobProgress& progress = {});
    // Whether a run reads its input once: no level counted, no picture drawn.
    static bool readsOnce(const JobOptions& options);

    // What the job found: every view reads it.
    const JobResult& result() const { return result_; }

    // A 16-bit stereo file's header as read; empty for the other formats.
    const AcceptedHeader& header() const { return header_; }
    // The largest magnitude, in the file's units.
    double peak() const { return result_.peak; }

    // Levels 0 to 5 in order: the report written, then the clipped file put in
    // place, before the next level starts. Returns how many of the files
    // (twelve, or six reports) could not be written. Should a small allocation
    // still fail (std::bad_alloc), every temporary file still waiting is
    // removed before the exception leaves.
    int run(const LevelListener& listener = {});

    // The files the run writes: per level a report, a clipped file and a
    // label track, as asked; for a check, its label track if asked.
    int outputCount() const;

private:
    ClipJob() = default;

    // The one read of every format: Sample is int16_t for a 16-bit stereo
    // file's samples as they are, double for any other.
    template <class Sample> struct Source;
    template <class Sample>
    std::optional<JobError> read(const Source<Sample>& source, const JobProgress& progress);
    template <class Sample> struct Picks;
    template <class Sample> void pickAnalyses(const Source<Sample>& source, Picks<Sample>& picks);
    template <class Sample> void finishRead(Picks<Sample>& picks);
    // The parts of a source that are not its loader.
    Source<std::int16_t> classicSource();
    Source<double> anyFormatSource(const OtherInput* other);
    std::optional<JobError> readClassic(const FileHandle& input, const JobProgress& progress);
    // Other: a file that is not WAV, read through its own loaders.
    std::optional<JobError> readAnyFormat(const FileHandle& input, std::uint64_t dataOffset,
                                          const JobProgress& progress, const OtherInput* other = nullptr);
    std::optional<JobError> readStream(StreamInput& input, const BatchInput& batch, const JobProgress& progress);
    std::optional<JobError> readOtherStream(const OtherInput& other, const JobProgress& progress);
    static std::variant<ClipJob, JobError> openOtherStream(StreamInput& input, JobError notWave,
                                                           const JobOptions& options, const JobProgress& progress);
    // A file whose format was accepted, once there is memory for its run; the
    // file, where there is one, is kept from being written over.
    static std::variant<ClipJob, JobError> acceptedJob(const std::string& inputFileName, const FileHandle* file,
                                                       const JobOptions& options, const JobProgress& progress);
    // A job for an input libsndfile opened (or why not), its samples still to read.
    static std::variant<ClipJob, JobError> acceptedOther(std::variant<OtherInput, BatchRefused>& other,
                                                         const std::string& inputFileName, const FileHandle* file,
                                                         const JobOptions& options, const JobProgress& progress);
    static std::variant<ClipJob, JobError> openOther(const std::string& inputFileName, const FileHandle& file,
                                                     std::uint64_t size, BatchRefused notWave,
                                                     const JobOptions& options, const JobProgress& progress);
    void nameLevels();
    // The name the outputs are named after.
    std::string namingName() const;
    std::array<double, clipLevelCount> thresholds() const;
    void runLevel(std::size_t index, const LevelListener& listener, int& failedOutputCount);

    JobOptions options_;
    AcceptedHeader header_; // a 16-bit stereo file's, as read
    std::string clippedExtension_ = ".wav";
    StemRule stemRule_ = StemRule::SoundFileExtension;
    JobResult result_;
    JobOutputs outputs_;
};

} // namespace tarvelle
