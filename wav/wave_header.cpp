#include "wav/wave_header.hpp"

#include "platform/file_access.hpp"

#include <array>
#include <cmath>

namespace tarvelle {

namespace {

std::int16_t readInt16(std::span<const std::uint8_t, waveHeaderSizeInBytes> bytes, std::size_t offset)
{
    const auto value = static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
    return static_cast<std::int16_t>(value);
}

std::int32_t readInt32(std::span<const std::uint8_t, waveHeaderSizeInBytes> bytes, std::size_t offset)
{
    const std::uint32_t value =
        static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
        static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
    return static_cast<std::int32_t>(value);
}

} // namespace

WaveHeaderInfo parseWaveHeader(std::span<const std::uint8_t> headerBytes)
{
    std::array<std::uint8_t, waveHeaderSizeInBytes> bytes{};
    for (std::size_t index = 0; index < bytes.size() && index < headerBytes.size(); ++index) {
        bytes[index] = headerBytes[index];
    }
    WaveHeaderInfo header;
    header.formatTag = readInt16(bytes, 20);
    header.channels = bytes[22]; // byte 23 is never read
    header.sampleRate = readInt32(bytes, 24);
    header.byteRate = readInt32(bytes, 28);
    header.blockAlign = readInt16(bytes, 32);
    header.bitsPerSample = readInt16(bytes, 34);
    header.dataSize = readInt32(bytes, 40);
    return header;
}

std::optional<WaveHeaderInfo> readWaveHeader(const std::string& inputFileName)
{
    std::optional<FileHandle> file = openInputFile(inputFileName);
    if (!file) {
        return std::nullopt;
    }
    std::array<std::uint8_t, waveHeaderSizeInBytes> bytes{};
    const std::optional<std::size_t> bytesRead = readAt(*file, 0, bytes.data(), bytes.size());
    closeFile(*file);
    if (!bytesRead) {
        return std::nullopt;
    }
    return parseWaveHeader(std::span(bytes.data(), *bytesRead));
}

std::optional<InputError> checkWaveHeader(const WaveHeaderInfo& header)
{
    if (header.channels != 2) {
        return InputError::NotStereo;
    }
    if (header.bitsPerSample != 16) {
        return InputError::Not16Bit;
    }
    if (header.sampleRate != 44100 && header.sampleRate != 88200 && header.sampleRate != 176400) {
        return InputError::UnsupportedRate;
    }
    if (header.dataSize < 0) {
        return InputError::TooLarge;
    }
    return std::nullopt;
}

void deriveWaveValues(WaveHeaderInfo& header)
{
    header.rateFactor = static_cast<std::int16_t>(header.sampleRate / 44100);
    // Two's-complement wrap, as the 32-bit field it becomes.
    header.riffSize = static_cast<std::int32_t>(static_cast<std::uint32_t>(header.dataSize) + 36u);
    const double samples = static_cast<double>(header.dataSize) * 8.0 / (header.bitsPerSample * header.channels);
    // The default rounding mode sends exact halves to the even neighbour.
    header.samplesPerChannel = static_cast<std::int32_t>(std::nearbyint(samples));
    header.durationSeconds = static_cast<double>(header.samplesPerChannel) / header.sampleRate;
}

} // namespace tarvelle
