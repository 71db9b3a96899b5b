#include "wav/samples.hpp"

#include "platform/file_access.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

namespace tarvelle {

LoadResult loadSamples(const FileHandle& file, const WaveHeaderInfo& header,
                       std::span<std::int16_t> interleavedSamples)
{
    return loadSamples(file, header, 0, interleavedSamples);
}

LoadResult loadSamples(const FileHandle& file, const WaveHeaderInfo& header, std::size_t firstSample,
                       std::span<std::int16_t> interleavedSamples)
{
    const std::size_t wantedBytes = interleavedSamples.size_bytes();
    const std::size_t firstByte = firstSample * sizeof(std::int16_t);
    // Never past the data chunk: what follows it (a pad byte, a LIST chunk) is not audio.
    const auto dataSize = static_cast<std::size_t>(std::max(header.dataSize, 0));
    const std::size_t dataBytes = firstByte >= dataSize ? 0 : std::min(wantedBytes, dataSize - firstByte);
    auto* bytes = reinterpret_cast<unsigned char*>(interleavedSamples.data());
    const std::optional<std::size_t> bytesRead = readAt(file, header.dataOffset + firstByte, bytes, dataBytes);
    if (!bytesRead) {
        return LoadResult::NotReadable;
    }
    std::fill(bytes + *bytesRead, bytes + wantedBytes, static_cast<unsigned char>(0));
    swapLittleEndian(interleavedSamples);
    return LoadResult::Loaded;
}

void swapLittleEndian(std::span<std::int16_t> samples)
{
    if constexpr (std::endian::native == std::endian::big) {
        for (std::int16_t& sample : samples) {
            const auto raw = static_cast<std::uint16_t>(sample);
            sample = static_cast<std::int16_t>(static_cast<std::uint16_t>(raw << 8 | raw >> 8));
        }
    }
}

} // namespace tarvelle
