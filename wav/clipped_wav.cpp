#include "wav/clipped_wav.hpp"

#include "wav/samples.hpp"

namespace tarvelle {

namespace {

using HeaderBytes = std::array<std::uint8_t, waveHeaderSizeInBytes>;

void putTag(HeaderBytes& bytes, std::size_t offset, const char (&tag)[5])
{
    for (std::size_t index = 0; index < 4; ++index) {
        bytes[offset + index] = static_cast<std::uint8_t>(tag[index]);
    }
}

void putUint16(HeaderBytes& bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putUint32(HeaderBytes& bytes, std::size_t offset, std::uint32_t value)
{
    for (std::size_t index = 0; index < 4; ++index) {
        bytes[offset + index] = static_cast<std::uint8_t>(value >> (8 * index) & 0xFF);
    }
}

} // namespace

std::span<const std::uint8_t> littleEndianBytes(std::span<std::int16_t> samples)
{
    swapLittleEndian(samples);
    return {reinterpret_cast<const std::uint8_t*>(samples.data()), samples.size_bytes()};
}

HeaderBytes clippedWavHeader(const AcceptedHeader& header)
{
    HeaderBytes bytes{};
    putTag(bytes, 0, "RIFF");
    putUint32(bytes, 4, static_cast<std::uint32_t>(header.riffSize));
    putTag(bytes, 8, "WAVE");
    putTag(bytes, 12, "fmt ");
    putUint32(bytes, 16, 16);
    putUint16(bytes, 20, static_cast<std::uint16_t>(header.formatTag));
    // Only the low byte of the channel count was read; the high byte is written as 0.
    putUint16(bytes, 22, static_cast<std::uint16_t>(header.channels & 0xFF));
    putUint32(bytes, 24, static_cast<std::uint32_t>(header.sampleRate));
    putUint32(bytes, 28, static_cast<std::uint32_t>(header.byteRate));
    putUint16(bytes, 32, static_cast<std::uint16_t>(header.blockAlign));
    putUint16(bytes, 34, static_cast<std::uint16_t>(header.bitsPerSample));
    putTag(bytes, 36, "data");
    putUint32(bytes, 40, static_cast<std::uint32_t>(header.dataSize));
    return bytes;
}

} // namespace tarvelle
