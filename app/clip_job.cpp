#include "app/clip_job.hpp"

#include "clip/clip_pass.hpp"
#include "clip/peak_clip.hpp"
#include "report/clip_report.hpp"
#include "wav/clipped_wav.hpp"
#include "wav/file_access.hpp"
#include "wav/large_memory.hpp"
#include "wav/output_names.hpp"

#include <algorithm>
#include <new>
#include <vector>

namespace tarvelle {

namespace {

// Samples clipped and written at a time: small enough to stay in the cache
// between the clip and the copy into the file.
constexpr std::size_t writeBlockSamples = std::size_t{1} << 16;

// Whether an output name leads to the input itself, through a hard or a
// symbolic link: replacing it would destroy the recording.
bool namesTheInput(const std::string& outputName, const RunSamples& run)
{
    const std::optional<FileIdentity> output = fileIdentity(outputName);
    return output && run.inputIdentity && *output == *run.inputIdentity;
}

// Clips the level into its WAV file block by block. The next level, if any,
// is counted from the same blocks while they are in the cache, whether or not
// this file can be written.
bool writeClippedLevel(const std::string& inputFileName, int clipLevel, const WaveHeaderInfo& header,
                       const RunSamples& run, std::int16_t clipThreshold, LevelCount* nextLevelCount)
{
    const std::span<const std::int16_t> inputSamples = run.interleavedSamples.span();
    std::optional<FileHandle> file;
    if (!namesTheInput(outputFileName(inputFileName, OutputKind::ClippedWav, clipLevel), run)) {
        file = beginClippedWav(inputFileName, clipLevel, header);
    }
    bool written = file.has_value();
    std::vector<std::int16_t> block(std::min(writeBlockSamples, inputSamples.size()));
    for (std::size_t start = 0; start < inputSamples.size() && (written || nextLevelCount);
         start += block.size()) {
        const std::span<const std::int16_t> input =
            inputSamples.subspan(start, std::min(block.size(), inputSamples.size() - start));
        if (nextLevelCount != nullptr) {
            countSamples(*nextLevelCount, input);
        }
        if (written) {
            const std::span<std::int16_t> clipped(block.data(), input.size());
            clipSamples(input, clipThreshold, clipped);
            written = appendSamples(*file, clipped);
        }
    }
    const bool closed = file && closeFile(*file);
    return written && closed;
}

// The count of this level: taken along with the last level's file, or now.
LevelCount takeLevelCount(const WaveHeaderInfo& header, int clipLevel, RunSamples& run)
{
    if (run.nextLevelCount && run.nextClipLevel == clipLevel) {
        LevelCount count = std::move(*run.nextLevelCount);
        run.nextLevelCount.reset();
        return count;
    }
    LevelCount count = startLevelCount(thresholdForLevel(run.peakLevel, clipLevel), header.rateFactor);
    countSamples(count, run.interleavedSamples.span());
    return count;
}

} // namespace

std::uint64_t runMemoryBytes(std::int32_t samplesPerChannel)
{
    const auto frames = static_cast<std::uint64_t>(std::max(samplesPerChannel, 0));
    return frames * 2 * sizeof(std::int16_t) + writeBlockSamples * sizeof(std::int16_t);
}

std::optional<InputError> prepareRun(const std::string& inputFileName, const WaveHeaderInfo& header,
                                     RunSamples& run)
{
    const std::optional<std::uint64_t> available = availableMemoryBytes();
    if (available && runMemoryBytes(header.samplesPerChannel) > *available) {
        return InputError::NotEnoughMemory;
    }
    const auto frameCount = static_cast<std::size_t>(std::max(header.samplesPerChannel, 0));
    try {
        run.interleavedSamples = makeSampleArray(2 * frameCount);
    } catch (const std::bad_alloc&) {
        return InputError::NotEnoughMemory;
    }
    if (loadSamples(inputFileName, header, run.interleavedSamples.span()) != LoadResult::Loaded) {
        run = RunSamples{};
        return InputError::NotFound;
    }
    run.peakLevel = findPeak(run.interleavedSamples.span());
    run.inputIdentity = fileIdentity(inputFileName);
    return std::nullopt;
}

int runClipLevel(const std::string& inputFileName, const WaveHeaderInfo& header, int clipLevel, RunSamples& run)
{
    LevelCount count = takeLevelCount(header, clipLevel, run);
    finishLevelCount(count);
    int failedFileCount = 0;
    if (namesTheInput(outputFileName(inputFileName, OutputKind::Report, clipLevel), run) ||
        !writeClipReport(inputFileName, header, clipLevel, count.left, count.right)) {
        ++failedFileCount;
    }

    std::optional<LevelCount> nextLevelCount;
    if (clipLevel + 1 < clipLevelCount) {
        nextLevelCount = startLevelCount(thresholdForLevel(run.peakLevel, clipLevel + 1), header.rateFactor);
    }
    if (!writeClippedLevel(inputFileName, clipLevel, header, run, count.clipThreshold,
                           nextLevelCount ? &*nextLevelCount : nullptr)) {
        ++failedFileCount;
    }
    run.nextLevelCount = std::move(nextLevelCount);
    run.nextClipLevel = clipLevel + 1;
    return failedFileCount;
}

} // namespace tarvelle
