#include "app/clip_job.hpp"

#include "clip/peak_clip.hpp"
#include "platform/large_memory.hpp"
#include "report/clip_report.hpp"
#include "wav/clipped_wav.hpp"

#include <algorithm>
#include <new>

namespace tarvelle {

namespace {

// Samples clipped and written at a time: small enough to stay in the cache
// between the clip and the copy into the file.
constexpr std::size_t writeBlockSamples = std::size_t{1} << 16;

// Samples read at a time when only the reports are wanted: a whole number of
// frames, 1 MiB, as fast as reading the file whole without holding it.
constexpr std::size_t readBlockSamples = std::size_t{1} << 19;

constexpr const char* isTheInputText = "the name leads to the input file";

} // namespace

std::uint64_t runMemoryBytes(std::int32_t samplesPerChannel)
{
    const auto frames = static_cast<std::uint64_t>(std::max(samplesPerChannel, 0));
    return frames * 2 * sizeof(std::int16_t) + writeBlockSamples * sizeof(std::int16_t);
}

std::variant<ClipJob, InputError> ClipJob::open(const std::string& inputFileName, const JobOptions& options,
                                                const std::function<void()>& onAccepted)
{
    const InputCheck check = checkInputFile(inputFileName);
    if (check.error) {
        return *check.error;
    }
    if (onAccepted) {
        onAccepted();
    }
    if (options.reportsOnly) {
        return openForReports(inputFileName, options, check.header);
    }
    const std::optional<std::uint64_t> available = availableMemoryBytes();
    if (available && runMemoryBytes(check.header.samplesPerChannel) > *available) {
        return InputError::NotEnoughMemory;
    }
    ClipJob job;
    job.inputFileName_ = inputFileName;
    job.options_ = options;
    job.header_ = check.header;
    const auto sampleCount = 2 * static_cast<std::size_t>(std::max(check.header.samplesPerChannel, 0));
    try {
        job.interleavedSamples_ = makeSampleArray(sampleCount);
        job.block_.resize(std::min(writeBlockSamples, sampleCount));
    } catch (const std::bad_alloc&) {
        return InputError::NotEnoughMemory;
    }
    if (loadSamples(inputFileName, job.header_, job.interleavedSamples_.span()) != LoadResult::Loaded) {
        return InputError::NotFound;
    }
    job.peakLevel_ = findPeak(job.interleavedSamples_.span());
    job.inputIdentity_ = fileIdentity(inputFileName);
    return job;
}

std::variant<ClipJob, InputError> ClipJob::openForReports(const std::string& inputFileName,
                                                          const JobOptions& options, const WaveHeaderInfo& header)
{
    std::optional<FileHandle> file = openInputFile(inputFileName);
    if (!file) {
        return InputError::NotFound;
    }
    const auto sampleCount = 2 * static_cast<std::size_t>(std::max(header.samplesPerChannel, 0));
    std::vector<std::int16_t> block;
    try {
        block.resize(std::min(readBlockSamples, sampleCount));
    } catch (const std::bad_alloc&) {
        return InputError::NotEnoughMemory;
    }
    const auto readThrough = [&](const auto& use) {
        for (std::size_t start = 0; start < sampleCount; start += block.size()) {
            const std::span<std::int16_t> stretch(block.data(), std::min(block.size(), sampleCount - start));
            if (loadSamples(*file, header, start, stretch) != LoadResult::Loaded) {
                return false;
            }
            use(std::span<const std::int16_t>(stretch));
        }
        return true;
    };
    std::int32_t peakLevel = 0;
    if (!readThrough(
            [&](std::span<const std::int16_t> stretch) { peakLevel = std::max(peakLevel, findPeak(stretch)); })) {
        return InputError::NotFound;
    }
    SixLevelCount count = startSixLevelCount(peakLevel, header.rateFactor);
    std::int32_t peakLevelAgain = 0;
    const bool readAgain = readThrough([&](std::span<const std::int16_t> stretch) {
        countSixLevels(count, stretch);
        peakLevelAgain = std::max(peakLevelAgain, findPeak(stretch));
    });
    // A file changed between the two reads would be counted against the wrong peak.
    if (!readAgain || peakLevelAgain != peakLevel) {
        return InputError::NotFound;
    }
    finishSixLevelCount(count);

    ClipJob job;
    job.inputFileName_ = inputFileName;
    job.options_ = options;
    job.header_ = header;
    job.peakLevel_ = peakLevel;
    job.reportCounts_ = std::move(count);
    job.inputIdentity_ = fileIdentity(inputFileName);
    return job;
}

LevelResult ClipJob::levelResult(int clipLevel, const LevelCount& count) const
{
    LevelResult level;
    level.clipLevel = clipLevel;
    level.decibelsBelowPeak = decibelsBelowPeak(clipLevel);
    level.clipThreshold = count.clipThreshold;
    level.left = count.left;
    level.right = count.right;
    level.names = outputNames(inputFileName_, clipLevel, options_.outputFolder);
    return level;
}

int ClipJob::writeReportsOnly(const LevelListener& listener)
{
    int failedOutputCount = 0;
    for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
        if (listener.levelStarting) {
            listener.levelStarting(clipLevel);
        }
        LevelResult level = levelResult(clipLevel, reportCounts_->levels[static_cast<std::size_t>(clipLevel)]);
        level.report = writeReport(level);
        level.clippedWavWanted = false;
        level.clippedWav.fileName = level.names.clippedWav;
        failedOutputCount += level.failedOutputCount();
        if (listener.levelDone) {
            listener.levelDone(level);
        }
    }
    return failedOutputCount;
}

int ClipJob::run(const LevelListener& listener)
{
    if (reportCounts_) {
        return writeReportsOnly(listener);
    }
    const std::span<const std::int16_t> samples = interleavedSamples_.span();
    LevelCount count = startLevelCount(thresholdForLevel(peakLevel_, 0), header_.rateFactor);
    countSamples(count, samples);
    int failedOutputCount = 0;
    for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
        if (listener.levelStarting) {
            listener.levelStarting(clipLevel);
        }
        finishLevelCount(count);
        LevelResult level = levelResult(clipLevel, count);
        level.report = writeReport(level);

        std::optional<LevelCount> nextLevelCount;
        if (clipLevel + 1 < clipLevelCount) {
            nextLevelCount = startLevelCount(thresholdForLevel(peakLevel_, clipLevel + 1), header_.rateFactor);
        }
        level.clippedWav = writeClippedWav(level.names.clippedWav, level.clipThreshold, nextLevelCount);
        failedOutputCount += level.failedOutputCount();
        if (listener.levelDone) {
            listener.levelDone(level);
        }
        if (nextLevelCount) {
            count = std::move(*nextLevelCount);
        }
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

OutputResult ClipJob::writeReport(const LevelResult& level) const
{
    if (namesTheInput(level.names.report)) {
        return notWritten(level.names.report, isTheInputText);
    }
    const std::string text = clipReportText(inputFileName_, header_, level.clipLevel, level.left, level.right);
    return writeOutputFile(level.names.report,
                           std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// Clips the level into its file block by block. The next level, if any, is
// counted from the same blocks while they are in the cache, whether or not
// this file can be written.
OutputResult ClipJob::writeClippedWav(const std::string& fileName, std::int16_t clipThreshold,
                                      std::optional<LevelCount>& nextLevelCount)
{
    std::optional<OutputFile> file;
    if (!namesTheInput(fileName)) {
        file = OutputFile::begin(fileName);
        file->append(clippedWavHeader(header_));
    }
    const std::span<const std::int16_t> inputSamples = interleavedSamples_.span();
    const auto writing = [&file] { return file && !file->failed(); };
    for (std::size_t start = 0; start < inputSamples.size() && (writing() || nextLevelCount);
         start += block_.size()) {
        const std::span<const std::int16_t> input =
            inputSamples.subspan(start, std::min(block_.size(), inputSamples.size() - start));
        if (nextLevelCount) {
            countSamples(*nextLevelCount, input);
        }
        if (writing()) {
            const std::span<std::int16_t> clipped(block_.data(), input.size());
            clipSamples(input, clipThreshold, clipped);
            file->append(littleEndianBytes(clipped));
        }
    }
    return file ? file->commit() : notWritten(fileName, isTheInputText);
}

} // namespace tarvelle
