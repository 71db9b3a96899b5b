#include "wav/wave_header.hpp"

#include "platform/file_access.hpp"
#include "wav/byte_fields.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string_view>

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

std::optional<std::size_t> MemoryByteSource::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    if (offset >= bytes_.size()) {
        return 0;
    }
    const std::size_t count = std::min(buffer.size(), bytes_.size() - static_cast<std::size_t>(offset));
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, buffer.begin());
    return count;
}

namespace {

constexpr std::string_view riffTag = "RIFF";
constexpr std::string_view rf64Tag = "RF64";
constexpr std::string_view waveTag = "WAVE";
constexpr std::string_view fmtTag = "fmt ";
constexpr std::string_view dataTag = "data";
constexpr std::string_view ds64Tag = "ds64";

// A size a writer leaves when it cannot go back to fill it in (a pipe), or
// that an RF64 file keeps in its ds64 chunk.
constexpr std::uint64_t unknownSize = 0xFFFFFFFF;
constexpr std::uint64_t frameBytes = 4;
// Real files carry a dozen chunks at most; a file of tiny chunks is damaged,
// and walking it to the end would cost one read per eight bytes.
constexpr int maxChunks = 4096;

// The sub-format GUID of integer PCM, as stored.
constexpr std::array<std::uint8_t, 16> pcmSubFormat{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                    0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::size_t extensibleFmtSize = 40;

// Reads exactly buffer.size() bytes; nullopt on a read error, false when the
// source ends first.
std::optional<bool> readExactly(const ByteSource& source, std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    const std::optional<std::size_t> count = source.readAt(offset, buffer);
    if (!count) {
        return std::nullopt;
    }
    return *count == buffer.size();
}

// The data size as the signed field holds it: anything from 2^31 on reads
// negative and is refused as too large.
std::int32_t dataSizeField(std::uint64_t size)
{
    return size <= 0x7FFFFFFF ? static_cast<std::int32_t>(size) : std::numeric_limits<std::int32_t>::min();
}

std::uint64_t framesToEnd(std::uint64_t fileSize, std::uint64_t dataOffset)
{
    const std::uint64_t available = fileSize > dataOffset ? fileSize - dataOffset : 0;
    return available - available % frameBytes;
}

struct ChunkWalk {
    std::optional<WaveHeaderInfo> fmt; // the fmt fields, dataSize not yet set
    std::optional<std::uint64_t> dataOffset;
    std::uint64_t dataSize = 0;
};

// The fmt fields sit where the canonical layout has them, so the fixed-offset
// parse converts them the same way.
WaveHeaderInfo fmtFields(std::span<const std::uint8_t> body)
{
    std::array<std::uint8_t, waveHeaderSizeInBytes> image{};
    std::copy_n(body.begin(), 16, image.begin() + 20);
    WaveHeaderInfo header = parseWaveHeader(image);
    // The outputs' 16-byte fmt chunk cannot carry the extension, and a bare
    // 0xFFFE tag makes a file other programs refuse.
    if (static_cast<std::uint16_t>(header.formatTag) == extensibleFormatTag && body.size() >= extensibleFmtSize &&
        std::equal(pcmSubFormat.begin(), pcmSubFormat.end(), body.begin() + 24)) {
        header.formatTag = 1;
    }
    return header;
}

std::optional<ChunkWalk> walkChunks(const ByteSource& source, bool isRf64)
{
    const std::uint64_t fileSize = source.size();
    ChunkWalk walk;
    std::optional<std::uint64_t> ds64DataSize;
    std::uint64_t offset = 12;
    for (int chunk = 0; chunk < maxChunks && (!walk.fmt || !walk.dataOffset); ++chunk) {
        std::array<std::uint8_t, 8> chunkHeader{};
        if (fileSize < 8 || offset > fileSize - 8) {
            break;
        }
        const std::optional<bool> headerRead = readExactly(source, offset, chunkHeader);
        if (!headerRead) {
            return std::nullopt;
        }
        if (!*headerRead) {
            break;
        }
        const std::uint64_t bodyOffset = offset + 8;
        std::uint64_t bodySize = readUint(chunkHeader, 4, 4);
        if (hasTag(chunkHeader, 0, fmtTag) && !walk.fmt && bodySize >= 16) {
            std::array<std::uint8_t, extensibleFmtSize> body{};
            const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(bodySize, body.size()));
            const std::optional<bool> bodyRead = readExactly(source, bodyOffset, std::span(body.data(), wanted));
            if (!bodyRead) {
                return std::nullopt;
            }
            if (*bodyRead) {
                walk.fmt = fmtFields(std::span(body.data(), wanted));
            }
        } else if (hasTag(chunkHeader, 0, ds64Tag) && isRf64 && !ds64DataSize && bodySize >= 16) {
            std::array<std::uint8_t, 16> body{};
            const std::optional<bool> bodyRead = readExactly(source, bodyOffset, body);
            if (!bodyRead) {
                return std::nullopt;
            }
            if (*bodyRead) {
                ds64DataSize = readUint(body, 8, 8);
            }
        } else if (hasTag(chunkHeader, 0, dataTag) && !walk.dataOffset) {
            walk.dataOffset = bodyOffset;
            if (bodySize == unknownSize && ds64DataSize) {
                bodySize = *ds64DataSize;
            } else if (bodySize == unknownSize) {
                // Written to a pipe: the audio runs to the end of the file.
                walk.dataSize = framesToEnd(fileSize, bodyOffset);
                break;
            }
            walk.dataSize = bodySize;
        }
        // A body that runs past the end leaves nothing after it to find.
        if (bodySize > fileSize - bodyOffset) {
            break;
        }
        offset = bodyOffset + bodySize + (bodySize & 1);
    }
    return walk;
}

} // namespace

std::optional<WaveHeaderInfo> readWaveHeader(const ByteSource& source)
{
    std::array<std::uint8_t, waveHeaderSizeInBytes> bytes{};
    const std::optional<std::size_t> bytesRead = source.readAt(0, bytes);
    if (!bytesRead) {
        return std::nullopt;
    }
    WaveHeaderInfo header = parseWaveHeader(std::span(bytes.data(), *bytesRead));
    const bool isRf64 = hasTag(bytes, 0, rf64Tag);
    if (!(hasTag(bytes, 0, riffTag) || isRf64) || !hasTag(bytes, 8, waveTag)) {
        return header;
    }
    if (hasTag(bytes, 12, fmtTag) && hasTag(bytes, 36, dataTag)) {
        if (readUint(bytes, 40, 4) == unknownSize) {
            header.dataSize = dataSizeField(framesToEnd(source.size(), waveHeaderSizeInBytes));
        }
        return header;
    }
    const std::optional<ChunkWalk> walk = walkChunks(source, isRf64);
    if (!walk) {
        return std::nullopt;
    }
    // A damaged file without both chunks is read at the fixed offsets.
    if (!walk->fmt || !walk->dataOffset) {
        return header;
    }
    header = *walk->fmt;
    header.dataSize = dataSizeField(walk->dataSize);
    header.dataOffset = *walk->dataOffset;
    return header;
}

std::optional<std::size_t> FileByteSource::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    return tarvelle::readAt(file_, offset, buffer.data(), buffer.size());
}

std::optional<WaveHeaderInfo> readWaveHeader(const FileHandle& file)
{
    const std::optional<std::uint64_t> size = fileSize(file);
    if (!size) {
        return std::nullopt;
    }
    return readWaveHeader(FileByteSource(file, *size));
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
