// tarvelle FILE...: every file without the dialogue, one or several at a time,
// each file's lines said in the order the files were named.
#pragma once

#include "engine/clip_job.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvelle {

struct BatchOptions {
    JobOptions job;
    bool json = false;  // one JSON line per file on standard output instead of the summary lines
    bool quiet = false; // no summary lines and no progress
    int jobs = 1;       // files worked on at once
    // The line of counts at the end, even for one file or off a terminal.
    bool summary = false;
    bool csv = false; // a table row per file on standard output instead of the lines
    // With the check: a true peak above it counts as clipping too.
    std::optional<double> truePeakLimitDbtp;
    // What standard input ("-") is called in reports, and its outputs' stem.
    std::string standardInputName = "stdin";
};

// Returns the exit status (batchExitStatus of the files' outcomes).
int runBatch(const std::vector<std::string>& inputFileNames, const BatchOptions& options = {});

// What became of one named file, for the exit status.
enum class FileOutcome {
    Skipped, // an output of another file named with it: as the user asked
    NotDone, // refused, not processed, or some output not written
    AllWritten,
    Clipped, // checked, all asked for written, and clipping found in it
};

// 1 when a file not skipped was not done; else 3 when a check found
// clipping in a file; else 0.
int batchExitStatus(std::span<const FileOutcome> outcomes);

// Whether a run writes any file: a check writes only a label track and a
// picture, when asked for.
bool writesFiles(const JobOptions& job);

// How the files of a batch came out, for its last line.
struct BatchCounts {
    int files = 0;      // every name given
    int done = 0;       // all written, or checked (clipped ones included)
    int clipped = 0;    // checked and found clipped
    int withErrors = 0; // accepted, some output not written
    int refused = 0;    // refused or not processed
    int skipped = 0;    // outputs of others named
    void add(FileOutcome outcome, bool accepted);
};

// A file's loudness, kept for the batch's summary.
struct FileLoudness {
    std::string name;
    std::optional<double> integratedLufs;
    std::vector<double> gatingBlocks; // see gatingBlocks in loudness/gating.hpp
};

// What the summary at the end of a batch says.
struct BatchSummary {
    BatchCounts counts;
    bool check = false;
    bool deliver = false; // a failed delivery counts as clipped does
    bool loudnessMeasured = false;
    std::optional<FileLoudness> loudest, quietest; // by integrated loudness, without the blocks
    std::vector<double> gatingBlocks;              // every file's, for the batch as one programme

    void add(FileLoudness loudness);
    // The gated loudness of all the files as one programme.
    std::optional<double> integratedLufs() const;
};

// "tarvelle: 12 files: 10 checked, 2 clipped, 1 refused; loudest a.wav
// -14.20 LUFS, quietest b.wav -23.05 LUFS, all as one -16.31 LUFS"
std::string batchSummaryLine(const BatchSummary& summary);
// The same as a JSON object of "status":"summary", without the line end.
std::string batchSummaryJson(const BatchSummary& summary);

// "tarvelle: skipped 180 files that are outputs of the others named"
std::string skippedOutputsLine(int count);

// "tarvelle: 12 files: 10 checked, 2 clipped, 1 refused"; the counts of
// errors and skipped files only where there are any.
std::string batchSummaryLine(const BatchCounts& counts, bool check);

// "take.wav: peak 32567 (-0.05 dBFS); 12 files written: take {3,6,...}dB
// clipping.{txt,wav}", or "N of 12 files could not be written"; the names
// as given, made safe for a terminal here.
std::string summaryLine(const std::string& inputFileName, double peak, const SampleFormat& format,
                        const JobOptions& job, int outputCount, int failedOutputCount,
                        const std::optional<LoudnessResult>& loudness = std::nullopt);

// ", true peak -0.52 dBTP, -14.20 LUFS, LRA 6.8 LU" for a batch line.
std::string loudnessText(const LoudnessResult& loudness);

} // namespace tarvelle
