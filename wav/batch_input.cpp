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

constexpr std::uint64_t unknownSize = 0xFFFFFFFF;
// Real files carry a dozen chunks at most; a file of tiny chunks is damaged.
constexpr int maxChunks = 4096;
constexpr std::size_t fmtBaseSize = 16;
constexpr std::size_t extensibleFmtSize = 40;
// What follows the format tag in every sub-format GUID this reader knows.
constexpr std::array<std::uint8_t, 14> subFormatTail{0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
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

struct Walk {
    std::array<std::uint8_t, extensibleFmtSize> fmt{};
    std::optional<std::size_t> fmtSize;
    std::optional<std::uint64_t> shortFmtSize; // a fmt chunk too short to hold the format
    std::optional<std::uint64_t> dataOffset;
    std::uint64_t dataBytes = 0;
    std::uint64_t headerDataSize = 0; // as the header gives it
    DataSize dataSize = DataSize::AsWritten;
};

// A chunk header (four printable characters, a size that fits) right after
// an empty data chunk: the chunk really is empty. Anything else there is the
// audio of a recorder stopped before it could write the size.
bool chunkFollows(const ByteSource& source, std::uint64_t offset)
{
    std::array<std::uint8_t, 8> header{};
    const std::optional<std::size_t> count = source.readAt(offset, header);
    if (!count || *count < header.size()) {
        return false;
    }
    const bool printable = std::all_of(header.begin(), header.begin() + 4,
                                       [](std::uint8_t byte) { return byte >= 0x20 && byte < 0x7F; });
    return printable && readUint(header, 4, 4) <= source.size() - offset - header.size();
}

// The first fmt and data chunks, and the true extent of the audio.
std::optional<Walk> walkChunks(const ByteSource& source, bool isRf64)
{
    const std::uint64_t fileSize = source.size();
    Walk walk;
    std::optional<std::uint64_t> ds64DataSize;
    std::uint64_t offset = 12;
    for (int chunk = 0; chunk < maxChunks && !(walk.fmtSize && walk.dataOffset) && offset + 8 <= fileSize;
         ++chunk) {
        std::array<std::uint8_t, 8> chunkHeader{};
        const std::optional<std::size_t> headerRead = source.readAt(offset, chunkHeader);
        if (!headerRead) {
            return std::nullopt;
        }
        const std::uint64_t bodyOffset = offset + 8;
        const std::uint64_t bodyRoom = fileSize - bodyOffset;
        std::uint64_t bodySize = readUint(chunkHeader, 4, 4);
        if (hasTag(chunkHeader, 0, "fmt ") && !walk.fmtSize && bodySize < fmtBaseSize) {
            walk.shortFmtSize = bodySize;
        } else if (hasTag(chunkHeader, 0, "fmt ") && !walk.fmtSize) {
            const std::size_t wanted = static_cast<std::size_t>(
                std::min<std::uint64_t>(std::min<std::uint64_t>(bodySize, bodyRoom), walk.fmt.size()));
            const std::optional<std::size_t> bodyRead =
                source.readAt(bodyOffset, std::span(walk.fmt.data(), wanted));
            if (!bodyRead) {
                return std::nullopt;
            }
            walk.fmtSize = *bodyRead;
        } else if (hasTag(chunkHeader, 0, "ds64") && isRf64 && !ds64DataSize && bodySize >= 16) {
            std::array<std::uint8_t, 16> body{};
            const std::optional<std::size_t> bodyRead = source.readAt(bodyOffset, body);
            if (!bodyRead) {
                return std::nullopt;
            }
            if (*bodyRead == body.size()) {
                ds64DataSize = readUint(body, 8, 8);
            }
        } else if (hasTag(chunkHeader, 0, "data") && !walk.dataOffset) {
            walk.dataOffset = bodyOffset;
            walk.headerDataSize = bodySize;
            if (bodySize == unknownSize && ds64DataSize) {
                bodySize = *ds64DataSize;
                walk.headerDataSize = bodySize;
            }
            walk.dataBytes = bodySize;
            if (bodySize == unknownSize) {
                // Written to a pipe: the audio runs to the end of the file.
                walk.dataSize = DataSize::ToEnd;
            } else if (bodySize == 0 && bodyRoom > 0 && !chunkFollows(source, bodyOffset)) {
                walk.dataSize = DataSize::ZeroWithAudioAfter;
            } else if (bodySize > bodyRoom) {
                walk.dataSize = DataSize::PastEnd;
            }
            if (walk.dataSize != DataSize::AsWritten) {
                walk.dataBytes = bodyRoom;
                bodySize = bodyRoom;
            }
        }
        // A body that runs past the end leaves nothing after it to find.
        if (bodySize > bodyRoom) {
            break;
        }
        offset = bodyOffset + bodySize + (bodySize & 1);
    }
    return walk;
}

std::variant<SampleFormat, BatchRefused> sampleFormatOf(std::span<const std::uint8_t> fmt, std::size_t fmtSize)
{
    const auto tag = static_cast<std::uint16_t>(readUint(fmt, 0, 2));
    const auto channels = static_cast<int>(readUint(fmt, 2, 2));
    const std::uint64_t sampleRate = readUint(fmt, 4, 4);
    const auto blockAlign = static_cast<int>(readUint(fmt, 12, 2));
    const auto bits = static_cast<int>(readUint(fmt, 14, 2));

    SampleFormat format;
    format.sampleRate = static_cast<std::int32_t>(std::min<std::uint64_t>(sampleRate, maxSampleRate + 1));
    // Today's reading, whatever the tag and block align say: only the low
    // byte of the channel count was ever read.
    if ((channels & 0xFF) == 2 && bits == 16 && isClassicFormat(format)) {
        return format;
    }

    std::uint16_t subFormat = tag;
    format.extensible = tag == extensibleFormatTag;
    if (format.extensible) {
        if (fmtSize < extensibleFmtSize) {
            return refuse(BatchRefusal::UnsupportedSamples,
                          formatted("This Wave file's extensible fmt chunk is too short (%zu bytes)", fmtSize));
        }
        subFormat = static_cast<std::uint16_t>(readUint(fmt, 24, 2));
        format.channelMask = static_cast<std::uint32_t>(readUint(fmt, 20, 4));
        if (!std::equal(subFormatTail.begin(), subFormatTail.end(), fmt.begin() + 26)) {
            return refuse(BatchRefusal::Compressed, "This Wave file holds audio of an unknown sub-format");
        }
    }
    if (subFormat != pcmFormatTag && subFormat != floatFormatTag) {
        return refuse(BatchRefusal::Compressed, compressedName(subFormat));
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
    // A tag-1 sample whose bits are not whole bytes fills the next whole byte;
    // an extensible one names its container and, apart, its valid bits.
    const int containerBits = format.extensible ? bits : (bits + 7) / 8 * 8;
    const int validBits = format.extensible ? static_cast<int>(readUint(fmt, 18, 2)) : bits;
    format.containerBytes = containerBits / 8;
    format.validBits = validBits == 0 ? containerBits : validBits;
    const bool isFloatData = subFormat == floatFormatTag;
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
    if (blockAlign != bytesPerFrame(format)) {
        return refuse(BatchRefusal::BlockAlignMismatch,
                      formatted("This Wave file's block align is %d bytes, but %d channels of %d bytes make %d",
                                blockAlign, channels, format.containerBytes, bytesPerFrame(format)));
    }
    return format;
}

// The fmt fields as the dialogue's reader takes them.
WaveHeaderInfo classicHeader(std::span<const std::uint8_t> fmt, const BatchInput& input)
{
    WaveHeaderInfo header;
    const auto tag = static_cast<std::uint16_t>(readUint(fmt, 0, 2));
    const bool extensiblePcm = tag == extensibleFormatTag && readUint(fmt, 24, 2) == pcmFormatTag &&
                               std::equal(subFormatTail.begin(), subFormatTail.end(), fmt.begin() + 26);
    header.formatTag = static_cast<std::int16_t>(extensiblePcm ? pcmFormatTag : tag);
    header.channels = static_cast<std::int16_t>(fmt[2]);
    header.sampleRate = static_cast<std::int32_t>(readUint(fmt, 4, 4));
    header.byteRate = static_cast<std::int32_t>(static_cast<std::uint32_t>(readUint(fmt, 8, 4)));
    header.blockAlign = static_cast<std::int16_t>(static_cast<std::uint16_t>(readUint(fmt, 12, 2)));
    header.bitsPerSample = static_cast<std::int16_t>(readUint(fmt, 14, 2));
    const std::uint64_t dataBytes = input.frameCount * static_cast<std::uint64_t>(bytesPerFrame(input.format));
    header.dataSize = dataBytes <= 0x7FFFFFFF ? static_cast<std::int32_t>(dataBytes) : -1;
    header.dataOffset = input.dataOffset;
    return header;
}

} // namespace

std::variant<BatchInput, BatchRefused> readBatchInput(const ByteSource& source)
{
    const std::uint64_t fileSize = source.size();
    std::array<std::uint8_t, 12> start{};
    const std::optional<std::size_t> startRead = source.readAt(0, start);
    if (!startRead) {
        return refuse(BatchRefusal::ReadError, "The file could not be read");
    }
    const std::span<const std::uint8_t> startBytes(start.data(), *startRead);
    if (hasTag(startBytes, 0, "RIFX") && hasTag(startBytes, 8, "WAVE")) {
        return refuse(BatchRefusal::BigEndian, "This is a big-endian (RIFX) Wave file, which is not supported");
    }
    const bool isRf64 = hasTag(startBytes, 0, "RF64") || hasTag(startBytes, 0, "BW64");
    if (!(hasTag(startBytes, 0, "RIFF") || isRf64) || !hasTag(startBytes, 8, "WAVE")) {
        return refuse(BatchRefusal::NotWave, notWaveMessage(startBytes, fileSize));
    }

    const std::optional<Walk> walk = walkChunks(source, isRf64);
    if (!walk) {
        return refuse(BatchRefusal::ReadError, "The file could not be read");
    }
    if (!walk->fmtSize || *walk->fmtSize < fmtBaseSize) {
        // A fmt chunk cut off by the end of the file counts as too short.
        const std::optional<std::uint64_t> shortSize = walk->fmtSize ? walk->fmtSize : walk->shortFmtSize;
        if (!shortSize) {
            return refuse(BatchRefusal::NoFmtChunk, "This Wave file has no fmt chunk");
        }
        return refuse(BatchRefusal::NoFmtChunk, formatted("This Wave file's fmt chunk is too short (%llu bytes)",
                                                          static_cast<unsigned long long>(*shortSize)));
    }
    if (!walk->dataOffset) {
        return refuse(BatchRefusal::NoDataChunk, "This Wave file has no data chunk");
    }
    std::variant<SampleFormat, BatchRefused> format = sampleFormatOf(walk->fmt, *walk->fmtSize);
    if (BatchRefused* refused = std::get_if<BatchRefused>(&format)) {
        return std::move(*refused);
    }

    BatchInput input;
    input.format = std::get<SampleFormat>(format);
    input.dataOffset = *walk->dataOffset;
    input.frameCount = walk->dataBytes / static_cast<std::uint64_t>(bytesPerFrame(input.format));
    if (walk->dataSize == DataSize::ZeroWithAudioAfter && input.frameCount > 0) {
        input.warning = formatted("The data chunk's size is 0 but %llu bytes follow it: read as %llu whole frames",
                                  static_cast<unsigned long long>(walk->dataBytes),
                                  static_cast<unsigned long long>(input.frameCount));
    } else if (walk->dataSize == DataSize::PastEnd) {
        input.warning = formatted(
            "The data chunk's header gives %llu bytes but the file holds %llu: read as %llu whole frames",
            static_cast<unsigned long long>(walk->headerDataSize),
            static_cast<unsigned long long>(walk->dataBytes), static_cast<unsigned long long>(input.frameCount));
    }
    input.header = classicHeader(walk->fmt, input);
    return input;
}

} // namespace tarvelle
