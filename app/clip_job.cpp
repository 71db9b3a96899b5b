#include "app/clip_job.hpp"

#include "app/block_ring.hpp"
#include "clip/peak_clip.hpp"
#include "platform/large_memory.hpp"
#include "report/clip_report.hpp"
#include "wav/clipped_wav.hpp"
#include "wav/samples.hpp"

#include <algorithm>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace tarvelle {

namespace {

// The levels a second thread counts, clips and writes while this one does
// the others: half each keeps both cores equally busy.
constexpr std::size_t firstBackgroundLevel = clipLevelCount / 2;

constexpr const char* isTheInputText = "the name leads to the input file";

// A block of the ring as the 16-bit samples its buffer holds.
std::span<const std::int16_t> asSamples(std::span<const std::uint8_t> block)
{
    return {reinterpret_cast<const std::int16_t*>(block.data()), block.size() / sizeof(std::int16_t)};
}

// Loads the ring's blocks of 16-bit stereo frames, past the data chunk as zeros.
BlockRing::Loader sampleLoader(const FileHandle& input, const WaveHeaderInfo& header)
{
    return [&input, &header](std::uint64_t firstByte, std::span<std::uint8_t> bytes) {
        const std::span<std::int16_t> samples(reinterpret_cast<std::int16_t*>(bytes.data()),
                                              bytes.size() / sizeof(std::int16_t));
        return loadSamples(input, header, static_cast<std::size_t>(firstByte / sizeof(std::int16_t)), samples) ==
               LoadResult::Loaded;
    };
}

constexpr std::size_t frameBytes = 2 * sizeof(std::int16_t);

std::uint64_t dataBytesOf(const WaveHeaderInfo& header)
{
    return frameBytes * static_cast<std::uint64_t>(std::max(header.samplesPerChannel, 0));
}

// Counts blocks at some of the levels and, where files are being written,
// clips them at those levels and appends each to its level's file.
class LevelWorker {
public:
    LevelWorker(std::span<LevelCount> counts, std::span<std::optional<OutputFile>> files,
                std::span<const LevelResult> levels)
        : counts_(counts), files_(files), levels_(levels), clipped_(files.empty() ? 0 : BlockRing::targetBlockBytes / 2)
    {
    }

    void process(std::span<const std::int16_t> block)
    {
        countLevels(counts_, block);
        const std::span<std::int16_t> clipped(clipped_.data(), clipped_.empty() ? 0 : block.size());
        for (std::size_t index = 0; index < files_.size(); ++index) {
            std::optional<OutputFile>& file = files_[index];
            if (file && !file->failed()) {
                clipSamples(block, levels_[index].stats.clipThreshold, clipped);
                file->append(littleEndianBytes(clipped));
            }
        }
    }

private:
    std::span<LevelCount> counts_;
    std::span<std::optional<OutputFile>> files_;
    std::span<const LevelResult> levels_;
    std::vector<std::int16_t> clipped_;
};

// Works through the blocks of a ring on a thread of its own, as its reader number 1.
class BackgroundWriter {
public:
    BackgroundWriter(BlockRing& ring, LevelWorker& worker) : ring_(ring), worker_(worker), thread_([this] { work(); })
    {
    }
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;
    // Left early (an exception on this thread): the ring is stopped, so the
    // writer cannot wait for a block that will never come.
    ~BackgroundWriter()
    {
        ring_.stop();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    // Waits for the last block; passes on what the writing threw.
    void finish()
    {
        if (thread_.joinable()) {
            thread_.join();
        }
        if (error_) {
            std::rethrow_exception(std::exchange(error_, nullptr));
        }
    }

private:
    void work()
    {
        try {
            for (std::size_t index = 0; index < ring_.blockCount(); ++index) {
                const std::optional<std::span<const std::uint8_t>> block = ring_.block(index);
                if (!block) {
                    return;
                }
                worker_.process(asSamples(*block));
                ring_.done(1, index);
            }
        } catch (...) {
            error_ = std::current_exception();
            ring_.stop();
        }
    }

    BlockRing& ring_;
    LevelWorker& worker_;
    std::exception_ptr error_;
    std::thread thread_; // last: starts once the rest is ready
};

} // namespace

std::uint64_t runMemoryBytes()
{
    return (BlockRing::bufferCount + clipLevelCount) * BlockRing::targetBlockBytes;
}

std::variant<ClipJob, InputError> ClipJob::open(const std::string& inputFileName, const JobOptions& options,
                                                const std::function<void()>& onAccepted,
                                                const std::function<void()>& onPeakFound)
{
    try {
        InputCheck check = checkInputFile(inputFileName);
        if (check.error) {
            return *check.error;
        }
        if (onAccepted) {
            onAccepted();
        }
        const std::optional<std::uint64_t> available = availableMemoryBytes();
        if (available && runMemoryBytes() > *available) {
            return InputError::NotEnoughMemory;
        }
        ClipJob job;
        job.inputFileName_ = inputFileName;
        job.options_ = options;
        job.header_ = check.header;
        job.inputIdentity_ = fileIdentity(*check.file);
        if (const std::optional<InputError> error = job.readThrough(*check.file, onPeakFound)) {
            return *error;
        }
        return job;
    } catch (const std::bad_alloc&) {
        return InputError::NotEnoughMemory;
    }
}

std::optional<InputError> ClipJob::readThrough(const FileHandle& input, const std::function<void()>& onPeakFound)
{
    {
        BlockRing ring(dataBytesOf(header_), frameBytes, 1, sampleLoader(input, header_));
        for (std::size_t index = 0; index < ring.blockCount(); ++index) {
            const std::optional<std::span<const std::uint8_t>> block = ring.block(index);
            if (!block) {
                return InputError::NotFound;
            }
            peakLevel_ = std::max(peakLevel_, findPeak(asSamples(*block)));
            ring.done(0, index);
        }
    }

    if (onPeakFound) {
        onPeakFound();
    }
    SixLevelCount counts = startSixLevelCount(peakLevel_, header_.rateFactor);
    prepareLevels(counts);
    if (!options_.reportsOnly) {
        for (std::size_t index = 0; index < levels_.size(); ++index) {
            const LevelResult& level = levels_[index];
            if (!namesTheInput(level.names.clippedWav)) {
                clippedWavs_[index].emplace(OutputFile::begin(level.names.clippedWav));
                clippedWavs_[index]->append(clippedWavHeader(header_));
            }
        }
    }
    BlockRing ring(dataBytesOf(header_), frameBytes, 2, sampleLoader(input, header_));
    const std::span<LevelCount> levelCounts(counts.levels);
    const std::span<const LevelResult> levels(levels_);
    const auto files = [&](std::size_t first, std::size_t last) {
        return options_.reportsOnly ? std::span<std::optional<OutputFile>>()
                                    : std::span(clippedWavs_).subspan(first, last - first);
    };
    // Levels from split on are done by a second thread where one can be had.
    std::size_t split = ring.readsAhead() ? firstBackgroundLevel : levels.size();
    LevelWorker background(levelCounts.subspan(split), files(split, levels.size()), levels.subspan(split));
    std::optional<BackgroundWriter> backgroundThread;
    if (split < levels.size()) {
        try {
            backgroundThread.emplace(ring, background);
        } catch (const std::system_error&) {
            split = levels.size();
            ring.done(1, ring.blockCount());
        }
    }
    LevelWorker foreground(levelCounts.first(split), files(0, split), levels);

    std::int32_t peakLevelAgain = 0;
    for (std::size_t index = 0; index < ring.blockCount(); ++index) {
        const std::optional<std::span<const std::uint8_t>> block = ring.block(index);
        if (!block) {
            break;
        }
        const std::span<const std::int16_t> samples = asSamples(*block);
        peakLevelAgain = std::max(peakLevelAgain, findPeak(samples));
        foreground.process(samples);
        ring.done(0, index);
    }
    if (backgroundThread) {
        backgroundThread->finish();
    }
    if (ring.readFailed()) {
        return InputError::NotFound;
    }
    // A file changed between the two reads would be counted against the wrong peak.
    if (peakLevelAgain != peakLevel_) {
        return InputError::Changed;
    }
    finishSixLevelCount(counts);
    prepareLevels(counts);
    return std::nullopt;
}

void ClipJob::prepareLevels(const SixLevelCount& counts)
{
    for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
        const auto index = static_cast<std::size_t>(clipLevel);
        const LevelCount& count = counts.levels[index];
        LevelResult& level = levels_[index];
        level.stats = LevelStats{clipLevel, count.clipThreshold, {count.left, count.right}};
        level.names = outputNames(inputFileName_, clipLevel, options_.outputFolder);
        level.clippedWavWanted = !options_.reportsOnly;
        level.clippedWav.fileName = level.names.clippedWav;
        reports_[index] = clipReportText(inputFileName_, header_, clipLevel, count.left, count.right);
    }
}

int ClipJob::run(const LevelListener& listener)
{
    int failedOutputCount = 0;
    try {
        for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
            const auto index = static_cast<std::size_t>(clipLevel);
            if (listener.levelStarting) {
                listener.levelStarting(clipLevel);
            }
            LevelResult& level = levels_[index];
            const std::string& text = reports_[index];
            level.report = namesTheInput(level.names.report)
                               ? notWritten(level.names.report, isTheInputText)
                               : writeOutputFile(level.names.report,
                                                 std::span(reinterpret_cast<const std::uint8_t*>(text.data()),
                                                           text.size()));
            if (level.clippedWavWanted) {
                level.clippedWav = clippedWavs_[index] ? clippedWavs_[index]->commit()
                                                       : notWritten(level.names.clippedWav, isTheInputText);
                clippedWavs_[index].reset();
            }
            failedOutputCount += level.failedOutputCount();
            if (listener.levelDone) {
                listener.levelDone(level);
            }
        }
    } catch (...) {
        for (std::optional<OutputFile>& file : clippedWavs_) {
            file.reset();
        }
        throw;
    }
    return failedOutputCount;
}

// Whether an output name leads to the input itself, through a hard or a
// symbolic link: replacing it would destroy the recording.
bool ClipJob::namesTheInput(const std::string& outputName) const
{
    const std::optional<FileIdentity> output = fileIdentity(outputName);
    return output && inputIdentity_ && *output == *inputIdentity_;
}

} // namespace tarvelle
