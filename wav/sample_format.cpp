#include "wav/sample_format.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>

namespace tarvelle {

namespace {

std::uint32_t loadUint32(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint64_t loadUint64(const std::uint8_t* bytes)
{
    return static_cast<std::uint64_t>(loadUint32(bytes)) | static_cast<std::uint64_t>(loadUint32(bytes + 4)) << 32;
}

void storeUint(std::uint8_t* bytes, std::uint64_t value, int byteCount)
{
    for (int index = 0; index < byteCount; ++index) {
        bytes[index] = static_cast<std::uint8_t>(value >> (8 * index));
    }
}

// One loop per encoding, so the choice is made once per block, not per sample.
template <typename Decode>
void decodeEach(std::span<const std::uint8_t> bytes, std::span<double> samples, std::size_t stride, Decode decode)
{
    const std::uint8_t* source = bytes.data();
    for (double& sample : samples) {
        sample = decode(source);
        source += stride;
    }
}

template <typename Encode>
void encodeEach(std::span<const double> samples, std::span<std::uint8_t> bytes, std::size_t stride, Encode encode)
{
    std::uint8_t* target = bytes.data();
    for (const double sample : samples) {
        encode(target, sample);
        target += stride;
    }
}

} // namespace

double fullScale(const SampleFormat& format)
{
    if (isFloat(format.encoding)) {
        return 1.0;
    }
    return static_cast<double>(std::uint64_t{1} << (8 * format.containerBytes - 1));
}

std::string_view sampleFormatKey(SampleEncoding encoding)
{
    switch (encoding) {
    case SampleEncoding::UInt8:
        return "uint8";
    case SampleEncoding::Int16:
        return "int16";
    case SampleEncoding::Int24:
        return "int24";
    case SampleEncoding::Int32:
        return "int32";
    case SampleEncoding::Float32:
        return "float32";
    case SampleEncoding::Float64:
        return "float64";
    }
    return {};
}

std::string_view sampleFormatText(SampleEncoding encoding)
{
    switch (encoding) {
    case SampleEncoding::UInt8:
        return "8-bit unsigned integer";
    case SampleEncoding::Int16:
        return "16-bit integer";
    case SampleEncoding::Int24:
        return "24-bit integer";
    case SampleEncoding::Int32:
        return "32-bit integer";
    case SampleEncoding::Float32:
        return "32-bit float";
    case SampleEncoding::Float64:
        return "64-bit float";
    }
    return {};
}

std::string sampleFormatText(SampleEncoding encoding, std::string_view container)
{
    std::string text(sampleFormatText(encoding));
    return container.empty() ? text : text + " (" + std::string(container) + ")";
}

bool isClassicFormat(const SampleFormat& format)
{
    return format.encoding == SampleEncoding::Int16 && format.channels == 2 &&
           (format.sampleRate == 44100 || format.sampleRate == 88200 || format.sampleRate == 176400);
}

void decodeSamples(const SampleFormat& format, std::span<const std::uint8_t> bytes, std::span<double> samples)
{
    const auto stride = static_cast<std::size_t>(format.containerBytes);
    const std::span<double> whole = samples.first(std::min(samples.size(), bytes.size() / stride));
    switch (format.encoding) {
    case SampleEncoding::UInt8:
        decodeEach(bytes, whole, stride, [](const std::uint8_t* source) { return source[0] - 128.0; });
        break;
    case SampleEncoding::Int16:
        decodeEach(bytes, whole, stride, [](const std::uint8_t* source) {
            return static_cast<double>(static_cast<std::int16_t>(source[0] | source[1] << 8));
        });
        break;
    case SampleEncoding::Int24:
        decodeEach(bytes, whole, stride, [](const std::uint8_t* source) {
            // Into the top of 32 bits, then back down, to carry the sign.
            const auto shifted = static_cast<std::int32_t>(static_cast<std::uint32_t>(source[0]) << 8 |
                                                           static_cast<std::uint32_t>(source[1]) << 16 |
                                                           static_cast<std::uint32_t>(source[2]) << 24);
            return static_cast<double>(shifted / 256);
        });
        break;
    case SampleEncoding::Int32:
        decodeEach(bytes, whole, stride, [](const std::uint8_t* source) {
            return static_cast<double>(static_cast<std::int32_t>(loadUint32(source)));
        });
        break;
    case SampleEncoding::Float32:
        decodeEach(bytes, whole, stride, [](const std::uint8_t* source) {
            return static_cast<double>(std::bit_cast<float>(loadUint32(source)));
        });
        break;
    case SampleEncoding::Float64:
        decodeEach(bytes, whole, stride,
                   [](const std::uint8_t* source) { return std::bit_cast<double>(loadUint64(source)); });
        break;
    }
}

void encodeSamples(const SampleFormat& format, std::span<const double> samples, std::span<std::uint8_t> bytes)
{
    const auto stride = static_cast<std::size_t>(format.containerBytes);
    const std::span<const double> whole = samples.first(std::min(samples.size(), bytes.size() / stride));
    switch (format.encoding) {
    case SampleEncoding::UInt8:
        encodeEach(whole, bytes, stride, [](std::uint8_t* target, double sample) {
            target[0] = static_cast<std::uint8_t>(static_cast<int>(sample) + 128);
        });
        break;
    case SampleEncoding::Int16:
    case SampleEncoding::Int24:
    case SampleEncoding::Int32:
        // Two's complement bytes: the low bytes of the 64-bit value.
        encodeEach(whole, bytes, stride, [stride](std::uint8_t* target, double sample) {
            storeUint(target, static_cast<std::uint64_t>(static_cast<std::int64_t>(sample)),
                      static_cast<int>(stride));
        });
        break;
    case SampleEncoding::Float32:
        encodeEach(whole, bytes, stride, [](std::uint8_t* target, double sample) {
            storeUint(target, std::bit_cast<std::uint32_t>(static_cast<float>(sample)), 4);
        });
        break;
    case SampleEncoding::Float64:
        encodeEach(whole, bytes, stride, [](std::uint8_t* target, double sample) {
            storeUint(target, std::bit_cast<std::uint64_t>(sample), 8);
        });
        break;
    }
}

} // namespace tarvelle
