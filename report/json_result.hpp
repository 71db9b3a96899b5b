// One input file's result as a line of JSON, for scripts: what the reports
// say, plus what was written.
#pragma once

#include "clip/clip_stats.hpp"
#include "clip/existing_clipping.hpp"
#include "clip/loudness.hpp"
#include "clip/peak_clip.hpp"
#include "engine/delivery.hpp"
#include "platform/spill_file.hpp"
#include "wav/sample_format.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvelle {

enum class FileStatus { Written, Errors, Refused, Skipped, Checked };

struct LevelRecord {
    LevelStats stats;
    const Spilled<ClipEvent>* events = nullptr; // when asked for
    // Names of the outputs this run wrote; none when it did not write them.
    std::optional<std::string> reportName;
    std::optional<std::string> wavName;
    bool written = false; // both files of the level written completely
};

struct FileResult {
    std::string inputName; // as given, bytes that need not be UTF-8
    FileStatus status = FileStatus::Written;
    std::string refusalMessage; // only for FileStatus::Refused
    std::string outputOf;       // only for FileStatus::Skipped: the input it is an output of
    std::string warning;        // what the header claimed that the file does not hold; often none
    SampleFormat format;        // the sample rate among the rest
    std::uint64_t samplesPerChannel = 0;
    double durationSeconds = 0.0;
    double peak = 0.0; // in the file's units
    // What else was asked for: the check and the loudness, where measured.
    const ExistingClipResult* clipping = nullptr;
    const Spilled<ExistingClipRun>* clipRuns = nullptr;
    std::int64_t minRunLength = 0;
    const LoudnessResult* loudness = nullptr;
    std::optional<double> truePeakLimitDbtp;
    const DeliveryResult* delivery = nullptr;
    const ChannelStats* channelStats = nullptr; // with a delivery profile or --csv
    bool withEvents = false;                        // each level's events in its channels
    std::optional<std::string> plotName;            // the picture, when written
    std::array<LevelRecord, clipLevelCount> levels; // 3 dB below the peak first
};

// One JSON object on one line, ending in "\n". Bytes of a name that are not
// UTF-8 come out as U+FFFD.
std::string fileResultJson(const FileResult& result);

// The same line a piece at a time, the events and runs as they are read
// back: a long clipped file's are too many to hold at once.
void writeFileResultJson(const FileResult& result, const std::function<void(std::string_view)>& out);

// The last line of a batch: its counts, in the order given, and its loudness.
struct SummaryRecord {
    std::vector<std::pair<std::string, int>> counts;
    struct Named {
        std::string input;
        double integratedLufs = 0.0;
    };
    bool loudnessMeasured = false; // without it, no loudness keys
    std::optional<Named> loudest, quietest;
    std::optional<double> integratedLufs; // of all the files as one programme
};

// One JSON object of "status":"summary", without the line end.
std::string summaryJson(const SummaryRecord& summary);

} // namespace tarvelle
