// How a WAV file's samples are stored, and their conversion to and from
// double: every stored value is exactly a double, so the clipping done on
// doubles is exact in every format.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvelle {

// By container: a file with fewer valid bits than its container is read as
// the container's integers.
enum class SampleEncoding { UInt8, Int16, Int24, Int32, Float32, Float64 };

struct SampleFormat {
    SampleEncoding encoding = SampleEncoding::Int16;
    int channels = 2;
    int containerBytes = 2;
    int validBits = 16;
    std::int32_t sampleRate = 44100;
    std::uint32_t channelMask = 0; // 0 when the file names no speakers
    bool extensible = false;       // read from a WAVE_FORMAT_EXTENSIBLE fmt chunk
};

constexpr bool isFloat(SampleEncoding encoding)
{
    return encoding == SampleEncoding::Float32 || encoding == SampleEncoding::Float64;
}

constexpr int bytesPerFrame(const SampleFormat& format)
{
    return format.channels * format.containerBytes;
}

// 2^(bits - 1) of the container for integers, 1.0 for float.
double fullScale(const SampleFormat& format);

// "uint8", "int16", "int24", "int32", "float32", "float64".
std::string_view sampleFormatKey(SampleEncoding encoding);

// "8-bit unsigned integer", "24-bit integer", "32-bit float" ...
std::string_view sampleFormatText(SampleEncoding encoding);

// The encoding's text, and the container where it is not WAV: "24-bit integer (FLAC)".
std::string sampleFormatText(SampleEncoding encoding, std::string_view container);

// 16-bit stereo at 44.1, 88.2 or 176.4 kHz: the files read, reported and
// written as they always were.
bool isClassicFormat(const SampleFormat& format);

// Whole interleaved frames, little-endian whatever the host. Unsigned 8-bit
// samples become x - 128, so silence is 0 in every format.
void decodeSamples(const SampleFormat& format, std::span<const std::uint8_t> bytes, std::span<double> samples);

// The inverse, for values the format holds exactly.
void encodeSamples(const SampleFormat& format, std::span<const double> samples, std::span<std::uint8_t> bytes);

} // namespace tarvelle
