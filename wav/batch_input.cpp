#include "wav/batch_input.hpp"

#include "wav/byte_fields.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <span>
#include <string_view>

namespace tarvelle {

namespace {

constexpr int maxChannels = 64;
constexpr std::int64_t minSampleRate = 8000;
constexpr std::int64_t maxSampleRate = 768000;

BatchRefused refuse(BatchRefusal reason, std::string message)
{
    return BatchRefused{reason, std::move(message)};
}

std::string formatted(const char* pattern, auto... values)
{
    std::array<char, 256> text{};
    std::snprintf(text.data(), text.size(), pattern, values...);
    return text.data();
}

// The names of the compressed formats met in WAV files; others by number.
std::string compressedName(std::uint16_t tag)
{
    struct Named {
        std::uint16_t tag;
        const char* name;
    };
    constexpr std::array<Named, 13> names{{
        {0x0002, "Microsoft ADPCM"},
        {0x0006, "A-law"},
        {0x0007, "\xC2\xB5-law"},
        {0x0011, "IMA ADPCM"},
        {0x0022, "TrueSpeech"},
        {0x0031, "GSM 6.10"},
        {0x0040, "G.721 ADPCM"},
        {0x0050, "MPEG"},
        {0x0055, "MPEG Layer 3"},
        {0x0161, "Windows Media Audio"},
        {0x2000, "AC-3"},
        {0xF1AC, "FLAC"},
        {0x0000, "unknown format"},
    }};
    const auto found =
        std::find_if(names.begin(), names.end(), [tag](const Named& named) { return named.tag == tag; });
    const std::string name = found != names.end() ? found->name : "not PCM";
    return formatted("This Wave file holds compressed audio (format tag 0x%04X, %s)", tag, name.c_str());
}

// What a file that is no RIFF/WAVE file is, from its first bytes.
std::string notWaveMessage(std::span<const std::uint8_t> start, std::uint64_t fileSize)
{
    if (fileSize == 0) {
        return "This is not a Wave file: it is empty";
    }
    if (hasTag(start, 0, "ID3") || (start.size() >= 2 && start[0] == 0xFF && (start[1] & 0xE0) == 0xE0)) {
        return "This is an MP3 file, not a Wave file";
    }
    if (hasTag(start, 0, "FORM")) {
        return "This is an AIFF file, not a Wave file";
    }
    if (hasTag(start, 0, "fLaC")) {
        return "This is a FLAC file, not a Wave file";
    }
    if (hasTag(start, 0, "OggS")) {
        return "This is an Ogg file, not a Wave file";
    }
    if (hasTag(start, 0, "RIFF") && start.size() >= 12 &&
        std::all_of(start.begin() + 8, start.begin() + 12,
                    [](std::uint8_t byte) { return byte >= 0x20 && byte < 0x7F; })) {
        return "This is a RIFF file of type '" + std::string(start.begin() + 8, start.begin() + 12) +
               "', not a Wave file";
    }
    return "This is not a Wave file";
}

enum class DataSize { AsWritten, ToEnd, ZeroWithAudioAfter, PastEnd };

// Where the audio really ends: the size the header gives where it is the truth.
DataSize dataSizeOf(const WaveLayout& layout)
{
    const std::uint64_t room = layout.bytesAfterDataOffset();
    if (layout.dataSize() == unknownChunkSize) {
        return DataSize::ToEnd; // written to a pipe
    }
    if (layout.dataSize() == 0 && room > 0 && !layout.chunkAfterEmptyData) {
        return DataSize::ZeroWithAudioAfter;
    }
    return layout.dataSize() > room ? DataSize::PastEnd : DataSize::AsWritten;
}

// The tag of the samples' format, PCM or float, which an extensible fmt
// chunk gives in its sub-format; a refusal for any other.
std::variant<std::uint16_t, BatchRefused> sampleTagOf(std::span<const std::uint8_t> fmt, std::size_t fmtSize)
{
    auto subFormat = static_cast<std::uint16_t>(readUint(fmt, 0, 2));
    if (subFormat == extensibleFormatTag) {
        if (fmtSize < extensibleFmtSize) {
            return refuse(BatchRefusal::UnsupportedSamples,
                          formatted("This Wave file's extensible fmt chunk is too short (%zu bytes)", fmtSize));
        }
        subFormat = static_cast<std::uint16_t>(readUint(fmt, 24, 2));
        if (!std::equal(subFormatTail.begin(), subFormatTail.end(), fmt.begin() + 26)) {
            return refuse(BatchRefusal::Compressed, "This Wave file holds audio of an unknown sub-format");
        }
    }
    if (subFormat != pcmFormatTag && subFormat != floatFormatTag) {
        return refuse(BatchRefusal::Compressed, compressedName(subFormat));
    }
    return subFormat;
}

// A tag-1 sample whose bits are not whole bytes fills the next whole byte;
// an extensible one names its container and, apart, its valid bits.
std::optional<BatchRefused> setSampleWidth(SampleFormat& format, std::span<const std::uint8_t> fmt, int bits,
                                           bool isFloatData)
{
    const int containerBits = format.extensible ? bits : (bits + 7) / 8 * 8;
    const int validBits = format.extensible ? static_cast<int>(readUint(fmt, 18, 2)) : bits;
    format.containerBytes = containerBits / 8;
    format.validBits = validBits == 0 ? containerBits : validBits;
    bool known = containerBits % 8 == 0 && format.validBits >= 1 && format.validBits <= containerBits;
    if (isFloatData) {
        known = known && (containerBits == 32 || containerBits == 64) && format.validBits == containerBits;
        format.encoding = containerBits == 32 ? SampleEncoding::Float32 : SampleEncoding::Float64;
    } else {
        constexpr std::array<SampleEncoding, 4> byWidth{SampleEncoding::UInt8, SampleEncoding::Int16,
                                                        SampleEncoding::Int24, SampleEncoding::Int32};
        known = known && containerBits >= 8 && containerBits <= 32;
        format.encoding = byWidth[static_cast<std::size_t>(std::clamp(containerBits / 8, 1, 4) - 1)];
    }
    if (!known) {
        return refuse(BatchRefusal::UnsupportedSamples,
                      formatted("This Wave file has %d-bit %s samples (%d valid bits), which are not supported",
                                containerBits, isFloatData ? "float" : "integer", format.validBits));
    }
    return std::nullopt;
}

std::variant<SampleFormat, BatchRefused> sampleFormatOf(std::span<const std::uint8_t> fmt, std::size_t fmtSize)
{
    const auto channels = static_cast<int>(readUint(fmt, 2, 2));
    const std::uint64_t sampleRate = readUint(fmt, 4, 4);
    const auto blockAlign = static_cast<int>(readUint(fmt, 12, 2));
    const auto bits = static_cast<int>(readUint(fmt, 14, 2));

    SampleFormat format;
    format.sampleRate = static_cast<std::int32_t>(std::min<std::uint64_t>(sampleRate, maxSampleRate + 1));
    std::variant<std::uint16_t, BatchRefused> sampleTag = sampleTagOf(fmt, fmtSize);
    if (BatchRefused* refused = std::get_if<BatchRefused>(&sampleTag)) {
        return std::move(*refused);
    }
    const std::uint16_t subFormat = std::get<std::uint16_t>(sampleTag);
    // Integer PCM read as it always was, whatever the block align says: only
    // the low byte of the channel count was ever read.
    if (subFormat == pcmFormatTag && (channels & 0xFF) == 2 && bits == 16 && isClassicFormat(format)) {
        return format;
    }
    format.extensible = readUint(fmt, 0, 2) == extensibleFormatTag;
    if (format.extensible) {
        format.channelMask = static_cast<std::uint32_t>(readUint(fmt, 20, 4));
    }
    if (channels < 1 || channels > maxChannels) {
        return refuse(BatchRefusal::UnsupportedSamples,
                      formatted("This Wave file has %d channels; 1 to %d are supported", channels, maxChannels));
    }
    if (sampleRate < minSampleRate || sampleRate > maxSampleRate) {
        return refuse(BatchRefusal::UnsupportedSamples,
                      formatted("This Wave file's sample rate is %llu Hz; %lld to %lld Hz are supported",
                                static_cast<unsigned long long>(sampleRate), static_cast<long long>(minSampleRate),
                                static_cast<long long>(maxSampleRate)));
    }
    format.channels = channels;
    if (std::optional<BatchRefused> refused = setSampleWidth(format, fmt, bits, subFormat == floatFormatTag)) {
        return std::move(*refused);
    }
    if (blockAlign != bytesPerFrame(format)) {
        return refuse(BatchRefusal::BlockAlignMismatch,
                      formatted("This Wave file's block align is %d bytes, but %d channels of %d bytes make %d",
                                blockAlign, channels, format.containerBytes, bytesPerFrame(format)));
    }
    return format;
}

std::string dataSizeWarning(DataSize dataSize, const WaveLayout& layout, const BatchInput& input)
{
    const auto frames = static_cast<unsigned long long>(input.frameCount);
    switch (dataSize) {
    case DataSize::AsWritten:
        break;
    case DataSize::ToEnd:
        return formatted("the header does not give the data size; read to the end of the file: %.2f s",
                         static_cast<double>(input.frameCount) / input.format.sampleRate);
    case DataSize::ZeroWithAudioAfter:
        if (input.frameCount > 0) {
            return formatted("The data chunk's size is 0 but %llu bytes follow it: read as %llu whole frames",
                             static_cast<unsigned long long>(layout.bytesAfterDataOffset()), frames);
        }
        break;
    case DataSize::PastEnd:
        return formatted(
            "The data chunk's header gives %llu bytes but the file holds %llu: read as %llu whole frames",
            static_cast<unsigned long long>(layout.dataSize()),
            static_cast<unsigned long long>(layout.bytesAfterDataOffset()), frames);
    }
    return {};
}

} // namespace

std::variant<BatchInput, BatchRefused> readBatchInput(const ByteSource& source)
{
    const std::optional<WaveLayout> layout = describeWaveFile(source);
    if (!layout) {
        return refuse(BatchRefusal::ReadError, "The file could not be read");
    }
    return batchInputOf(*layout);
}

std::variant<BatchInput, BatchRefused> batchInputOf(const WaveLayout& layout)
{
    if (layout.container == WaveContainer::Rifx) {
        return refuse(BatchRefusal::BigEndian, "This is a big-endian (RIFX) Wave file, which is not supported");
    }
    if (layout.container == WaveContainer::Other) {
        return refuse(BatchRefusal::NotWave, notWaveMessage(layout.startBytes(), layout.fileSize));
    }
    if (!layout.fmtSize || layout.fmtBytesRead < fmtBaseSize) {
        // A fmt chunk cut off by the end of the file counts as too short.
        const std::optional<std::uint64_t> shortSize =
            layout.fmtSize ? std::optional<std::uint64_t>(layout.fmtBytesRead) : layout.shortFmtSize;
        if (!shortSize) {
            return refuse(BatchRefusal::NoFmtChunk, "This Wave file has no fmt chunk");
        }
        return refuse(BatchRefusal::NoFmtChunk, formatted("This Wave file's fmt chunk is too short (%llu bytes)",
                                                          static_cast<unsigned long long>(*shortSize)));
    }
    if (!layout.dataOffset) {
        return refuse(BatchRefusal::NoDataChunk, "This Wave file has no data chunk");
    }
    const std::span<const std::uint8_t> fmt(layout.fmt.data(), layout.fmtBytesRead);
    std::variant<SampleFormat, BatchRefused> format = sampleFormatOf(layout.fmt, layout.fmtBytesRead);
    if (BatchRefused* refused = std::get_if<BatchRefused>(&format)) {
        return std::move(*refused);
    }

    BatchInput input;
    input.format = std::get<SampleFormat>(format);
    input.dataOffset = *layout.dataOffset;
    const DataSize dataSize = dataSizeOf(layout);
    const std::uint64_t dataBytes =
        dataSize == DataSize::AsWritten ? layout.dataSize() : layout.bytesAfterDataOffset();
    input.frameCount = dataBytes / static_cast<std::uint64_t>(bytesPerFrame(input.format));
    input.warning = dataSizeWarning(dataSize, layout, input);
    // The dialogue's reading of the same file: a classic file reads as it
    // always has, the last frame of a data size that is no whole number of
    // frames rounded as that reading rounds it.
    input.header = fmtFields(fmt);
    const std::uint64_t classicSize =
        dataSize == DataSize::AsWritten
            ? dataBytes
            : input.frameCount * static_cast<std::uint64_t>(bytesPerFrame(input.format));
    input.header.dataSize = classicSize <= 0x7FFFFFFF ? static_cast<std::int32_t>(classicSize) : -1;
    input.header.dataOffset = input.dataOffset;
    return input;
}

} // namespace tarvelle
