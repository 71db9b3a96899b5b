#include "wav/clipped_wav.hpp"

#include "wav/file_access.hpp"
#include "wav/output_names.hpp"

#include <algorithm>
#include <bit>
#include <vector>

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

bool appendSamples(const FileHandle& file, std::span<const std::int16_t> samples)
{
    if constexpr (std::endian::native == std::endian::little) {
        return writeAll(file, samples.data(), samples.size_bytes());
    } else {
        constexpr std::size_t chunkSamples = 1 << 16;
        std::vector<std::uint8_t> chunk;
        for (std::size_t start = 0; start < samples.size(); start += chunkSamples) {
            const std::size_t count = std::min(chunkSamples, samples.size() - start);
            chunk.resize(2 * count);
            for (std::size_t index = 0; index < count; ++index) {
                const auto raw = static_cast<std::uint16_t>(samples[start + index]);
                chunk[2 * index] = static_cast<std::uint8_t>(raw & 0xFF);
                chunk[2 * index + 1] = static_cast<std::uint8_t>(raw >> 8);
            }
            if (!writeAll(file, chunk.data(), chunk.size())) {
                return false;
            }
        }
        return true;
    }
}

HeaderBytes clippedWavHeader(const WaveHeaderInfo& header)
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

std::optional<FileHandle> beginClippedWav(const std::string& inputFileName, int clipLevel,
                                          const WaveHeaderInfo& header)
{
    std::optional<FileHandle> file =
        openOutputFile(outputFileName(inputFileName, OutputKind::ClippedWav, clipLevel));
    const HeaderBytes headerBytes = clippedWavHeader(header);
    if (file && !writeAll(*file, headerBytes.data(), headerBytes.size())) {
        closeFile(*file);
        return std::nullopt;
    }
    return file;
}

bool writeClippedWav(const std::string& inputFileName, int clipLevel, const WaveHeaderInfo& header,
                     std::span<const std::int16_t> interleavedSamples)
{
    std::optional<FileHandle> file = beginClippedWav(inputFileName, clipLevel, header);
    if (!file) {
        return false;
    }
    const bool written = appendSamples(*file, interleavedSamples);
    const bool closed = closeFile(*file);
    return written && closed;
}

} // namespace tarvelle
