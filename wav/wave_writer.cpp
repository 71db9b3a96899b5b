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
// The sub-format GUID after its first two bytes, which are the format tag.
constexpr std::array<std::uint8_t, 14> subFormatTail{0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

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

std::vector<std::uint8_t> clippedWavHeaderFor(const SampleFormat& format, std::uint64_t frameCount)
{
    const bool floatData = isFloat(format.encoding);
    const bool fullContainer = format.validBits == 8 * format.containerBytes;
    const bool plain = hasDefaultLayout(format) && fullContainer && (floatData || format.containerBytes <= 2);
    const std::uint32_t fmtSize = !plain ? extensibleFmtSize : floatData ? floatFmtSize : plainFmtSize;
    // Every format but integer PCM needs the fact chunk.
    const std::uint32_t factChunkSize = floatData ? 8 + factSize : 0;

    const std::uint64_t frameBytes = static_cast<std::uint64_t>(bytesPerFrame(format));
    const std::uint64_t dataBytes = frameCount * frameBytes;
    const std::uint64_t riffHeaderSize = 4 + 8 + fmtSize + factChunkSize + 8;
    const std::uint64_t riffSize = riffHeaderSize + dataBytes + (dataBytes & 1);
    const bool rf64 = riffSize > maxChunkSize;

    std::vector<std::uint8_t> bytes;
    putTag(bytes, rf64 ? "RF64" : "RIFF");
    putUint(bytes, rf64 ? maxChunkSize : riffSize, 4);
    putTag(bytes, "WAVE");
    if (rf64) {
        putTag(bytes, "ds64");
        putUint(bytes, ds64Size, 4);
        putUint(bytes, riffSize + 8 + ds64Size, 8);
        putUint(bytes, dataBytes, 8);
        putUint(bytes, frameCount, 8);
        putUint(bytes, 0, 4); // no table of other chunk sizes
    }
    putTag(bytes, "fmt ");
    putUint(bytes, fmtSize, 4);
    putUint(bytes, plain ? (floatData ? floatFormatTag : pcmFormatTag) : extensibleFormatTag, 2);
    putUint(bytes, static_cast<std::uint64_t>(format.channels), 2);
    putUint(bytes, static_cast<std::uint64_t>(format.sampleRate), 4);
    putUint(bytes, static_cast<std::uint64_t>(format.sampleRate) * frameBytes, 4);
    putUint(bytes, frameBytes, 2);
    putUint(bytes, static_cast<std::uint64_t>(8 * format.containerBytes), 2);
    if (fmtSize >= floatFmtSize) {
        putUint(bytes, fmtSize - floatFmtSize, 2);
    }
    if (!plain) {
        putUint(bytes, static_cast<std::uint64_t>(format.validBits), 2);
        putUint(bytes, format.channelMask, 4);
        putUint(bytes, floatData ? floatFormatTag : pcmFormatTag, 2);
        for (const std::uint8_t byte : subFormatTail) {
            bytes.push_back(byte);
        }
    }
    if (floatData) {
        putTag(bytes, "fact");
        putUint(bytes, factSize, 4);
        putUint(bytes, std::min(frameCount, maxChunkSize), 4);
    }
    putTag(bytes, "data");
    putUint(bytes, rf64 ? maxChunkSize : dataBytes, 4);
    return bytes;
}

} // namespace tarvelle
