#include "app/clip_job.hpp"

#include "clip/clip_pass.hpp"
#include "clip/peak_clip.hpp"
#include "report/clip_report.hpp"
#include "wav/clipped_wav.hpp"
#include "wav/file_access.hpp"
#include "wav/large_memory.hpp"

#include <algorithm>
#include <new>
#include <vector>

namespace tarvelle {

namespace {

// Samples clipped and written at a time: small enough to stay in the cache
// between the clip and the copy into the file.
constexpr std::size_t writeBlockSamples = std::size_t{1} << 16;

bool writeClippedLevel(const std::string& inputFileName, int clipLevel, const WaveHeaderInfo& header,
                       std::span<const std::int16_t> inputSamples, std::int16_t clipThreshold)
{
    std::optional<FileHandle> file = beginClippedWav(inputFileName, clipLevel, header);
    if (!file) {
        return false;
    }
    std::vector<std::int16_t> block(std::min(writeBlockSamples, inputSamples.size()));
    bool written = true;
    for (std::size_t start = 0; written && start < inputSamples.size(); start += block.size()) {
        const std::size_t count = std::min(block.size(), inputSamples.size() - start);
        const std::span<std::int16_t> clipped(block.data(), count);
        clipSamples(inputSamples.subspan(start, count), clipThreshold, clipped);
        written = appendSamples(*file, clipped);
    }
    const bool closed = closeFile(*file);
    return written && closed;
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
    return std::nullopt;
}

int runClipLevel(const std::string& inputFileName, const WaveHeaderInfo& header, int clipLevel,
                 const RunSamples& run)
{
    const std::int16_t clipThreshold = thresholdForLevel(run.peakLevel, clipLevel);
    const std::span<const std::int16_t> inputSamples = run.interleavedSamples.span();
    ChannelClipStats left;
    ChannelClipStats right;
    countLevel(inputSamples, clipThreshold, header.rateFactor, left, right);
    int failedFileCount = 0;
    if (!writeClipReport(inputFileName, header, clipLevel, left, right)) {
        ++failedFileCount;
    }
    if (!writeClippedLevel(inputFileName, clipLevel, header, inputSamples, clipThreshold)) {
        ++failedFileCount;
    }
    return failedFileCount;
}

} // namespace tarvelle
