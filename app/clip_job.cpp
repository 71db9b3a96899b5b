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
    try {
        InputCheck check = checkInputFile(inputFileName);
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
        job.interleavedSamples_ = makeSampleArray(sampleCount);
        job.block_.resize(std::min(writeBlockSamples, sampleCount));
        if (loadSamples(*check.file, job.header_, job.interleavedSamples_.span()) != LoadResult::Loaded) {
            return InputError::NotFound;
        }
        check.file.reset();
        job.peakLevel_ = findPeak(job.interleavedSamples_.span());
        job.inputIdentity_ = fileIdentity(inputFileName);

        SixLevelCount counts = startSixLevelCount(job.peakLevel_, job.header_.rateFactor);
        countSixLevels(counts, job.interleavedSamples_.span());
        finishSixLevelCount(counts);
        for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
            const LevelCount& count = counts.levels[static_cast<std::size_t>(clipLevel)];
            LevelResult& level = job.levels_[static_cast<std::size_t>(clipLevel)];
            level.clipLevel = clipLevel;
            level.decibelsBelowPeak = decibelsBelowPeak(clipLevel);
            level.clipThreshold = count.clipThreshold;
            level.left = count.left;
            level.right = count.right;
            level.names = outputNames(inputFileName, clipLevel);
            job.reports_[static_cast<std::size_t>(clipLevel)] =
                clipReportText(inputFileName, job.header_, clipLevel, level.left, level.right);
        }
        return job;
    } catch (const std::bad_alloc&) {
        return InputError::NotEnoughMemory;
    }
}

int ClipJob::run(const LevelListener& listener)
{
    int failedOutputCount = 0;
    for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
        if (listener.levelStarting) {
            listener.levelStarting(clipLevel);
        }
        LevelResult& level = levels_[static_cast<std::size_t>(clipLevel)];
        level.report = writeReport(level, reports_[static_cast<std::size_t>(clipLevel)]);
        level.clippedWav = writeClippedWav(level.names.clippedWav, level.clipThreshold);
        failedOutputCount += level.failedOutputCount();
        if (listener.levelDone) {
            listener.levelDone(level);
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

OutputResult ClipJob::writeReport(const LevelResult& level, const std::string& text) const
{
    if (namesTheInput(level.names.report)) {
        return notWritten(level.names.report, isTheInputText);
    }
    return writeOutputFile(level.names.report,
                           std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

OutputResult ClipJob::writeClippedWav(const std::string& fileName, std::int16_t clipThreshold)
{
    if (namesTheInput(fileName)) {
        return notWritten(fileName, isTheInputText);
    }
    OutputFile file = OutputFile::begin(fileName);
    file.append(clippedWavHeader(header_));
    const std::span<const std::int16_t> inputSamples = interleavedSamples_.span();
    for (std::size_t start = 0; start < inputSamples.size() && !file.failed(); start += block_.size()) {
        const std::span<const std::int16_t> input =
            inputSamples.subspan(start, std::min(block_.size(), inputSamples.size() - start));
        const std::span<std::int16_t> clipped(block_.data(), input.size());
        clipSamples(input, clipThreshold, clipped);
        file.append(littleEndianBytes(clipped));
    }
    return file.commit();
}

} // namespace tarvelle
