// What the work on one file comes to: the one value every view reads (the
// report text, the JSON line, the batch line, the summary, the picture).
#pragma once

#include "app/output_names.hpp"
#include "clip/clip_stats.hpp"
#include "clip/existing_clipping.hpp"
#include "clip/loudness.hpp"
#include "engine/delivery.hpp"
#include "platform/output_file.hpp"
#include "platform/spill_file.hpp"
#include "wav/sample_format.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvelle {

// One level as it was done: what it counted and what became of its files.
struct LevelResult {
    LevelStats stats;
    OutputNames names;
    OutputResult report;
    OutputResult clippedWav;
    OutputResult labels;
    bool reportWanted = true;     // false when the run checks the file instead
    bool clippedWavWanted = true; // false when the run writes the reports only
    bool labelsWanted = false;
    Spilled<ClipEvent> events; // when asked for, in the order they ended

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
    Spilled<ExistingClipRun> runs; // in the order they ended
    OutputResult labels;
    bool labelsWanted = false;
};

struct JobResult {
    std::string inputFileName;
    SampleFormat format;
    std::string_view container; // the container's name where it is not WAV: "FLAC"
    std::uint64_t frameCount = 0;
    double peak = 0.0;   // the largest magnitude, in the file's units
    std::string warning; // said of the header by the reader: the data is not what it claims
    std::array<LevelResult, clipLevelCount> levels;
    std::array<std::string, clipLevelCount> reports; // the report texts, until run writes them
    std::optional<CheckResult> check;
    std::optional<LoudnessResult> loudness;
    std::optional<ChannelStats> channelStats;
    std::optional<DeliveryResult> delivery; // the verdict, when a delivery profile was asked for
    std::string plotText;                   // the picture, until run writes it
    OutputResult plot;

    double durationSeconds() const { return static_cast<double>(frameCount) / format.sampleRate; }
};

} // namespace tarvelle
