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

std::size_t sampleCountOf(const WaveHeaderInfo& header)
{
    return 2 * static_cast<std::size_t>(std::max(header.samplesPerChannel, 0));
}

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
        ClipJob job;
        job.inputFileName_ = inputFileName;
        job.options_ = options;
        job.header_ = check.header;
        const std::optional<InputError> error =
            options.reportsOnly ? job.readForReports(*check.file) : job.readForClipping(*check.file);
        if (error) {
            return *error;
        }
        job.inputIdentity_ = fileIdentity(*check.file);
        check.file.reset();
        return job;
    } catch (const std::bad_alloc&) {
        return InputError::NotEnoughMemory;
    }
}

std::optional<InputError> ClipJob::readForClipping(FileHandle& input)
{
    const std::optional<std::uint64_t> available = availableMemoryBytes();
    if (available && runMemoryBytes(header_.samplesPerChannel) > *available) {
        return InputError::NotEnoughMemory;
    }
    const std::size_t sampleCount = sampleCountOf(header_);
    interleavedSamples_ = makeSampleArray(sampleCount);
    block_.resize(std::min(writeBlockSamples, sampleCount));
    if (loadSamples(input, header_, interleavedSamples_.span()) != LoadResult::Loaded) {
        return InputError::NotFound;
    }
    peakLevel_ = findPeak(interleavedSamples_.span());
    SixLevelCount counts = startSixLevelCount(peakLevel_, header_.rateFactor);
    countSixLevels(counts, interleavedSamples_.span());
    finishSixLevelCount(counts);
    prepareLevels(counts);
    return std::nullopt;
}

std::optional<InputError> ClipJob::readForReports(FileHandle& input)
{
    const std::size_t sampleCount = sampleCountOf(header_);
    std::vector<std::int16_t> block(std::min(readBlockSamples, sampleCount));
    const auto readThrough = [&](const auto& use) {
        for (std::size_t start = 0; start < sampleCount; start += block.size()) {
            const std::span<std::int16_t> stretch(block.data(), std::min(block.size(), sampleCount - start));
            if (loadSamples(input, header_, start, stretch) != LoadResult::Loaded) {
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
    SixLevelCount counts = startSixLevelCount(peakLevel, header_.rateFactor);
    std::int32_t peakLevelAgain = 0;
    const bool readAgain = readThrough([&](std::span<const std::int16_t> stretch) {
        countSixLevels(counts, stretch);
        peakLevelAgain = std::max(peakLevelAgain, findPeak(stretch));
    });
    // A file changed between the two reads would be counted against the wrong peak.
    if (!readAgain) {
        return InputError::NotFound;
    }
    if (peakLevelAgain != peakLevel) {
        return InputError::Changed;
    }
    finishSixLevelCount(counts);
    peakLevel_ = peakLevel;
    prepareLevels(counts);
    return std::nullopt;
}

void ClipJob::prepareLevels(const SixLevelCount& counts)
{
    for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
        const auto index = static_cast<std::size_t>(clipLevel);
        const LevelCount& count = counts.levels[index];
        LevelResult& level = levels_[index];
        level.clipLevel = clipLevel;
        level.decibelsBelowPeak = decibelsBelowPeak(clipLevel);
        level.clipThreshold = count.clipThreshold;
        level.left = count.left;
        level.right = count.right;
        level.names = outputNames(inputFileName_, clipLevel, options_.outputFolder);
        level.clippedWavWanted = !options_.reportsOnly;
        level.clippedWav.fileName = level.names.clippedWav;
        reports_[index] = clipReportText(inputFileName_, header_, clipLevel, level.left, level.right);
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
        if (level.clippedWavWanted) {
            level.clippedWav = writeClippedWav(level.names.clippedWav, level.clipThreshold);
        }
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
