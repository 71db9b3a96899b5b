#include "wav/wave_writer.hpp"

#include "wav/byte_fields.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace tarvelle {

namespace {

constexpr std::uint64_t maxChunkSize = 0xFFFFFFFF;
constexpr std::uint32_t plainFmtSize = 16;
constexpr std::uint32_t floatFmtSize = 18;
constexpr std::uint32_t extensibleFmtSize = 40;
constexpr std::uint32_t ds64Size = 28;
constexpr std::uint32_t factSize = 4;

void putTag(std::vector<std::uint8_t>& bytes, std::string_view tag)
{
    for (const char character : tag) {
        bytes.push_back(static_cast<std::uint8_t>(character));
    }
}

void putUint(std::vector<std::uint8_t>& bytes, std::uint64_t value, int byteCount)
{
    for (int index = 0; index < byteCount; ++index) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
    }
}

// A plain header names no speakers: it serves where the input named none.
bool hasDefaultLayout(const SampleFormat& format)
{
    return format.channels <= 2 && format.channelMask == 0;
}

} // namespace

std::vector<std::uint8_t> waveHeaderBytes(const WaveHeaderFields& fields)
{
    std::vector<std::uint8_t> bytes;
    putTag(bytes, fields.ds64 ? "RF64" : "RIFF");
    putUint(bytes, fields.riffSize, 4);
    putTag(bytes, "WAVE");
    if (fields.ds64) {
        putTag(bytes, "ds64");
        putUint(bytes, ds64Size, 4);
        putUint(bytes, fields.ds64->riffSize, 8);
        putUint(bytes, fields.ds64->dataSize, 8);
        putUint(bytes, fields.ds64->frameCount, 8);
        putUint(bytes, 0, 4); // no table of other chunk sizes
    }
    putTag(bytes, "fmt ");
    putUint(bytes, fields.fmtSize, 4);
    putUint(bytes, fields.formatTag, 2);
    putUint(bytes, fields.channels, 2);
    putUint(bytes, fields.sampleRate, 4);
    putUint(bytes, fields.byteRate, 4);
    putUint(bytes, fields.blockAlign, 2);
    putUint(bytes, fields.bitsPerSample, 2);
    if (fields.fmtSize >= floatFmtSize) {
        putUint(bytes, fields.fmtSize - floatFmtSize, 2);
    }
    if (fields.fmtSize >= extensibleFmtSize) {
        putUint(bytes, fields.validBits, 2);
        putUint(bytes, fields.channelMask, 4);
        putUint(bytes, fields.subFormat, 2);
        bytes.insert(bytes.end(), subFormatTail.begin(), subFormatTail.end());
    }
    if (fields.factFrames) {
        putTag(bytes, "fact");
        putUint(bytes, factSize, 4);
        putUint(bytes, *fields.factFrames, 4);
    }
    putTag(bytes, "data");
    putUint(bytes, fields.dataSize, 4);
    return bytes;
}

std::vector<std::uint8_t> clippedWavHeaderFor(const SampleFormat& format, std::uint64_t frameCount)
{
    const bool floatData = isFloat(format.encoding);
    const bool fullContainer = format.validBits == 8 * format.containerBytes;
    const bool plain = hasDefaultLayout(format) && fullContainer && (floatData || format.containerBytes <= 2);
    const std::uint16_t dataTag = floatData ? floatFormatTag : pcmFormatTag;

    WaveHeaderFields fields;
    fields.fmtSize = !plain ? extensibleFmtSize : floatData ? floatFmtSize : plainFmtSize;
    fields.formatTag = plain ? dataTag : extensibleFormatTag;
    fields.channels = static_cast<std::uint16_t>(format.channels);
    fields.sampleRate = static_cast<std::uint32_t>(format.sampleRate);
    const std::uint64_t frameBytes = static_cast<std::uint64_t>(bytesPerFrame(format));
    fields.byteRate = static_cast<std::uint32_t>(static_cast<std::uint64_t>(format.sampleRate) * frameBytes);
    fields.blockAlign = static_cast<std::uint16_t>(frameBytes);
    fields.bitsPerSample = static_cast<std::uint16_t>(8 * format.containerBytes);
    fields.validBits = static_cast<std::uint16_t>(format.validBits);
    fields.channelMask = format.channelMask;
    fields.subFormat = dataTag;
    // Every format but integer PCM needs the fact chunk.
    if (floatData) {
        fields.factFrames = static_cast<std::uint32_t>(std::min(frameCount, maxChunkSize));
    }
    const std::uint32_t factChunkSize = floatData ? 8 + factSize : 0;

    const std::uint64_t dataBytes = frameCount * frameBytes;
    const std::uint64_t riffHeaderSize = 4 + 8 + fields.fmtSize + factChunkSize + 8;
    const std::uint64_t riffSize = riffHeaderSize + dataBytes + (dataBytes & 1);
    if (riffSize > maxChunkSize) {
        fields.ds64 = WaveHeaderFields::Ds64{riffSize + 8 + ds64Size, dataBytes, frameCount};
    }
    fields.riffSize = static_cast<std::uint32_t>(fields.ds64 ? maxChunkSize : riffSize);
    fields.dataSize = static_cast<std::uint32_t>(fields.ds64 ? maxChunkSize : dataBytes);
    return waveHeaderBytes(fields);
}

} // namespace tarvelle
