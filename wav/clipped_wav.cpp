#include "wav/clipped_wav.hpp"

#include "wav/samples.hpp"
#include "wav/wave_writer.hpp"

#include <algorithm>
#include <vector>

namespace tarvelle {

std::span<const std::uint8_t> littleEndianBytes(std::span<std::int16_t> samples)
{
    swapLittleEndian(samples);
    return {reinterpret_cast<const std::uint8_t*>(samples.data()), samples.size_bytes()};
}

std::array<std::uint8_t, waveHeaderSizeInBytes> clippedWavHeader(const AcceptedHeader& header)
{
    WaveHeaderFields fields;
    fields.riffSize = static_cast<std::uint32_t>(header.riffSize);
    fields.formatTag = static_cast<std::uint16_t>(header.formatTag);
    // Only the low byte of the channel count was read; the high byte is written as 0.
    fields.channels = static_cast<std::uint16_t>(header.channels & 0xFF);
    fields.sampleRate = static_cast<std::uint32_t>(header.sampleRate);
    fields.byteRate = static_cast<std::uint32_t>(header.byteRate);
    fields.blockAlign = static_cast<std::uint16_t>(header.blockAlign);
    fields.bitsPerSample = static_cast<std::uint16_t>(header.bitsPerSample);
    fields.dataSize = static_cast<std::uint32_t>(header.dataSize);
    const std::vector<std::uint8_t> written = waveHeaderBytes(fields);
    std::array<std::uint8_t, waveHeaderSizeInBytes> bytes{};
    std::copy_n(written.begin(), bytes.size(), bytes.begin());
    return bytes;
}

} // namespace tarvelle
