// tarvelle FILE...: every file without the dialogue, one or several at a time,
// each file's lines said in the order the files were named.
#pragma once

#include "app/clip_job.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarvelle {

struct BatchOptions {
    JobOptions job;
    bool json = false;  // one JSON line per file on standard output instead of the summary lines
    bool quiet = false; // no summary lines and no progress
    int jobs = 1;       // files worked on at once
};

// Returns the exit status (batchExitStatus of the files' outcomes).
int runBatch(const std::vector<std::string>& inputFileNames, const BatchOptions& options = {});

// What became of one named file, for the exit status.
enum class FileOutcome {
    Skipped,     // an output of another file named with it: as the user asked
    NotDone,     // refused, not processed, or some output not written
    AllWritten,
};

// 0 when every file not skipped had all its outputs written, else 1.
int batchExitStatus(std::span<const FileOutcome> outcomes);

// "take.wav: peak 32567 (-0.05 dBFS); 12 files written: take {3,6,...}dB
// clipping.{txt,wav}", or "N of 12 files could not be written"; the names
// as given, made safe for a terminal here.
std::string summaryLine(const std::string& inputFileName, double peak, const SampleFormat& format,
                        const JobOptions& job, int outputCount, int failedOutputCount);

} // namespace tarvelle
