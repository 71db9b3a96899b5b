#include "wav/wave_header.hpp"

#include "platform/file_access.hpp"
#include "wav/byte_fields.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

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

namespace {

// The data size as the signed field holds it: anything from 2^31 on reads
// negative and is refused as too large.
std::int32_t dataSizeField(std::uint64_t size)
{
    return size <= 0x7FFFFFFF ? static_cast<std::int32_t>(size) : std::numeric_limits<std::int32_t>::min();
}

std::uint64_t framesToEnd(std::uint64_t fileSize, std::uint64_t dataOffset)
{
    constexpr std::uint64_t frameBytes = 4;
    const std::uint64_t available = fileSize > dataOffset ? fileSize - dataOffset : 0;
    return available - available % frameBytes;
}

} // namespace

WaveHeaderInfo fmtFields(std::span<const std::uint8_t> body)
{
    // The fmt fields sit where the canonical layout has them, so the
    // fixed-offset parse converts them the same way.
    std::array<std::uint8_t, waveHeaderSizeInBytes> image{};
    std::copy_n(body.begin(), std::min<std::size_t>(body.size(), 16), image.begin() + 20);
    WaveHeaderInfo header = parseWaveHeader(image);
    // The outputs' 16-byte fmt chunk cannot carry the extension, and a bare
    // 0xFFFE tag makes a file other programs refuse.
    if (static_cast<std::uint16_t>(header.formatTag) == extensibleFormatTag && body.size() >= extensibleFmtSize &&
        readUint(body, 24, 2) == pcmFormatTag &&
        std::equal(subFormatTail.begin(), subFormatTail.end(), body.begin() + 26)) {
        header.formatTag = 1;
    }
    return header;
}

WaveHeaderInfo waveHeaderOf(const WaveLayout& layout)
{
    const std::span<const std::uint8_t> bytes = layout.startBytes();
    WaveHeaderInfo header = parseWaveHeader(bytes);
    if (layout.container != WaveContainer::Riff && layout.container != WaveContainer::Rf64) {
        return header;
    }
    if (hasTag(layout.start, 12, "fmt ") && hasTag(layout.start, 36, "data")) {
        if (readUint(layout.start, 40, 4) == unknownChunkSize) {
            header.dataSize = dataSizeField(framesToEnd(layout.fileSize, waveHeaderSizeInBytes));
        }
        return header;
    }
    // A damaged file without both chunks, or with a fmt chunk cut off, is
    // read at the fixed offsets.
    const bool wholeFmt =
        layout.fmtSize && layout.fmtBytesRead == std::min<std::uint64_t>(*layout.fmtSize, extensibleFmtSize);
    if (!wholeFmt || !layout.dataOffset) {
        return header;
    }
    header = fmtFields(std::span(layout.fmt.data(), layout.fmtBytesRead));
    const bool toEnd = layout.dataSizeField == unknownChunkSize && !layout.ds64DataSize;
    header.dataSize = dataSizeField(toEnd ? framesToEnd(layout.fileSize, *layout.dataOffset) : layout.dataSize());
    header.dataOffset = *layout.dataOffset;
    return header;
}

std::optional<WaveHeaderInfo> readWaveHeader(const ByteSource& source)
{
    const std::optional<WaveLayout> layout = describeWaveFile(source);
    if (!layout) {
        return std::nullopt;
    }
    return waveHeaderOf(*layout);
}

std::optional<WaveHeaderInfo> readWaveHeader(const FileHandle& file)
{
    const std::optional<std::uint64_t> size = fileSize(file);
    if (!size) {
        return std::nullopt;
    }
    return readWaveHeader(FileByteSource(file, *size));
}

AcceptedHeader acceptWaveHeader(const WaveHeaderInfo& fields)
{
    AcceptedHeader header(fields);
    header.rateFactor = static_cast<std::int16_t>(header.sampleRate / 44100);
    // Two's-complement wrap, as the 32-bit field it becomes.
    header.riffSize = static_cast<std::int32_t>(static_cast<std::uint32_t>(header.dataSize) + 36u);
    const double samples = static_cast<double>(header.dataSize) * 8.0 / (header.bitsPerSample * header.channels);
    // The default rounding mode sends exact halves to the even neighbour.
    header.samplesPerChannel = static_cast<std::int32_t>(std::nearbyint(samples));
    header.durationSeconds = static_cast<double>(header.samplesPerChannel) / header.sampleRate;
    return header;
}

} // namespace tarvelle
