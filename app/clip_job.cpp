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

int ClipJob::run(const LevelListener& listener)
{
    const std::span<const std::int16_t> samples = interleavedSamples_.span();
    LevelCount count = startLevelCount(thresholdForLevel(peakLevel_, 0), header_.rateFactor);
    countSamples(count, samples);
    int failedOutputCount = 0;
    for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
        if (listener.levelStarting) {
            listener.levelStarting(clipLevel);
        }
        finishLevelCount(count);
        LevelResult level;
        level.clipLevel = clipLevel;
        level.decibelsBelowPeak = decibelsBelowPeak(clipLevel);
        level.clipThreshold = count.clipThreshold;
        level.left = count.left;
        level.right = count.right;
        level.names = outputNames(inputFileName_, clipLevel);
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
