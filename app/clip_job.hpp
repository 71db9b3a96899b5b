// The work on an accepted file: the load, the peak, the split and the six
// levels. The caller owns the arrays and runs the levels one by one.
#pragma once

#include "app/input_checks.hpp"
#include "clip/clip_pass.hpp"
#include "wav/file_access.hpp"
#include "wav/samples.hpp"
#include "wav/wave_header.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace tarvelle {

// Only the input is held: each level is clipped from it block by block on its
// way to the file, and the next level is counted from the same blocks.
struct RunSamples {
    SampleArray interleavedSamples;
    std::int32_t peakLevel = 0;
    std::optional<FileIdentity> inputIdentity; // no output may replace the input itself
    std::optional<LevelCount> nextLevelCount;  // taken while the last level was written
    int nextClipLevel = -1;                    // the level nextLevelCount belongs to
};

constexpr int outputFileCount = 12;

// Bytes a run holds at once for a file of samplesPerChannel frames.
std::uint64_t runMemoryBytes(std::int32_t samplesPerChannel);

// Allocates, loads and finds the peak. On failure nothing is written
// and the error says why (NotEnoughMemory or NotFound).
std::optional<InputError> prepareRun(const std::string& inputFileName, const WaveHeaderInfo& header,
                                     RunSamples& run);

// One level: the count, the report, then the WAV file. Returns how many
// of its two files could not be written completely.
int runClipLevel(const std::string& inputFileName, const WaveHeaderInfo& header, int clipLevel, RunSamples& run);

} // namespace tarvelle
