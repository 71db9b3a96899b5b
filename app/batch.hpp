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
    // With the check: a true peak above it counts as clipping too.
    std::optional<double> truePeakLimitDbtp;
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

// "take.wav: peak 32567 (-0.05 dBFS); 12 files written: take {3,6,...}dB
// clipping.{txt,wav}", or "N of 12 files could not be written"; the names
// as given, made safe for a terminal here.
std::string summaryLine(const std::string& inputFileName, double peak, const SampleFormat& format,
                        const JobOptions& job, int outputCount, int failedOutputCount,
                        const std::optional<LoudnessResult>& loudness = std::nullopt);

// ", true peak -0.52 dBTP, -14.20 LUFS, LRA 6.8 LU" for a batch line.
std::string loudnessText(const LoudnessResult& loudness);

} // namespace tarvelle
