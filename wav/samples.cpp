#include "wav/samples.hpp"

#include "wav/file_access.hpp"

#include <algorithm>
#include <bit>

namespace tarvelle {

SampleArray makeSampleArray(std::size_t sampleCount)
{
    return SampleArray{std::make_unique_for_overwrite<std::int16_t[]>(sampleCount), sampleCount};
}

SampleArray makeZeroedSampleArray(std::size_t sampleCount)
{
    return SampleArray{std::make_unique<std::int16_t[]>(sampleCount), sampleCount};
}

LoadResult loadSamples(const std::string& inputFileName, const WaveHeaderInfo& header,
                       std::span<std::int16_t> interleavedSamples)
{
    std::optional<FileHandle> file = openInputFile(inputFileName);
    if (!file) {
        return LoadResult::NotReadable;
    }
    const std::size_t wantedBytes = interleavedSamples.size_bytes();
    // Never past the data chunk: what follows it (a pad byte, a LIST chunk) is not audio.
    const std::size_t dataBytes = std::min(wantedBytes, static_cast<std::size_t>(std::max(header.dataSize, 0)));
    auto* bytes = reinterpret_cast<unsigned char*>(interleavedSamples.data());
    const std::optional<std::size_t> bytesRead = readAt(*file, waveHeaderSizeInBytes, bytes, dataBytes);
    closeFile(*file);
    if (!bytesRead) {
        return LoadResult::NotReadable;
    }
    std::fill(bytes + *bytesRead, bytes + wantedBytes, static_cast<unsigned char>(0));
    if constexpr (std::endian::native == std::endian::big) {
        for (std::int16_t& sample : interleavedSamples) {
            const auto raw = static_cast<std::uint16_t>(sample);
            sample = static_cast<std::int16_t>(static_cast<std::uint16_t>(raw << 8 | raw >> 8));
        }
    }
    return LoadResult::Loaded;
}

void splitChannels(std::span<const std::int16_t> interleavedSamples, std::span<std::int16_t> leftSamples,
                   std::span<std::int16_t> rightSamples)
{
    for (std::size_t frameIndex = 0; frameIndex < leftSamples.size(); ++frameIndex) {
        leftSamples[frameIndex] = interleavedSamples[2 * frameIndex];
        rightSamples[frameIndex] = interleavedSamples[2 * frameIndex + 1];
    }
}

LevelArrays prepareLevelArrays(std::size_t samplesPerChannel)
{
    return LevelArrays{makeZeroedSampleArray(samplesPerChannel), makeZeroedSampleArray(samplesPerChannel),
                       makeZeroedSampleArray(2 * samplesPerChannel)};
}

} // namespace tarvelle
