#include "app/clip_job.hpp"

#include "clip/clip_pass.hpp"
#include "clip/peak_clip.hpp"
#include "report/clip_report.hpp"
#include "wav/clipped_wav.hpp"
#include "wav/file_access.hpp"

#include <new>

namespace tarvelle {

std::uint64_t runMemoryBytes(std::int32_t samplesPerChannel)
{
    // Both input channels and the interleaved frames: the clipped channels go
    // straight into the interleaved array, so no per-channel copies are held.
    const auto frames = static_cast<std::uint64_t>(std::max(samplesPerChannel, 0));
    return 2 * frames * sizeof(std::int16_t) + 2 * frames * sizeof(std::int16_t);
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
        run.leftSamples = makeSampleArray(frameCount);
        run.rightSamples = makeSampleArray(frameCount);
    } catch (const std::bad_alloc&) {
        run = RunSamples{};
        return InputError::NotEnoughMemory;
    }
    if (loadSamples(inputFileName, header, run.interleavedSamples.span()) != LoadResult::Loaded) {
        run = RunSamples{};
        return InputError::NotFound;
    }
    run.peakLevel = findPeak(run.interleavedSamples.span());
    splitChannels(run.interleavedSamples.span(), run.leftSamples.span(), run.rightSamples.span());
    return std::nullopt;
}

int runClipLevel(const std::string& inputFileName, const WaveHeaderInfo& header, int clipLevel, RunSamples& run)
{
    const std::int16_t clipThreshold = thresholdForLevel(run.peakLevel, clipLevel);
    ChannelClipStats left;
    ChannelClipStats right;
    clipAndCountLevel(run.leftSamples.span(), run.rightSamples.span(), clipThreshold, header.rateFactor,
                      run.interleavedSamples.span(), left, right);
    int failedFileCount = 0;
    if (!writeClipReport(inputFileName, header, clipLevel, left, right)) {
        ++failedFileCount;
    }
    if (!writeClippedWav(inputFileName, clipLevel, header, run.interleavedSamples.span())) {
        ++failedFileCount;
    }
    return failedFileCount;
}

} // namespace tarvelle
