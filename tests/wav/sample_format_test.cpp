#include "wav/sample_format.hpp"

#include "clip/peak_clip.hpp"
#include "wav/batch_input.hpp"
#include "wav/clipped_wav.hpp"
#include "wav/wave_writer.hpp"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace tarvelle {
namespace {

SampleFormat formatOf(SampleEncoding encoding, int channels, std::int32_t sampleRate,
                      std::uint32_t channelMask = 0)
{
    constexpr std::array<int, 6> containerBytes{1, 2, 3, 4, 4, 8};
    SampleFormat format;
    format.encoding = encoding;
    format.channels = channels;
    format.containerBytes = containerBytes[static_cast<std::size_t>(encoding)];
    format.validBits = 8 * format.containerBytes;
    format.sampleRate = sampleRate;
    format.channelMask = channelMask;
    return format;
}

TEST(SampleCodec, BoundaryValuesAsStored)
{
    const struct {
        SampleEncoding encoding;
        double value;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {SampleEncoding::UInt8, -128, {0x00}},
        {SampleEncoding::UInt8, 0, {0x80}},
        {SampleEncoding::UInt8, 127, {0xFF}},
        {SampleEncoding::Int16, -32768, {0x00, 0x80}},
        {SampleEncoding::Int16, -1, {0xFF, 0xFF}},
        {SampleEncoding::Int16, 258, {0x02, 0x01}},
        {SampleEncoding::Int24, -8388608, {0x00, 0x00, 0x80}},
        {SampleEncoding::Int24, 8388607, {0xFF, 0xFF, 0x7F}},
        {SampleEncoding::Int24, -2, {0xFE, 0xFF, 0xFF}},
        {SampleEncoding::Int32, -2147483648.0, {0x00, 0x00, 0x00, 0x80}},
        {SampleEncoding::Int32, 2147483647.0, {0xFF, 0xFF, 0xFF, 0x7F}},
        {SampleEncoding::Float32, 1.0, {0x00, 0x00, 0x80, 0x3F}},
        {SampleEncoding::Float32, -2.5, {0x00, 0x00, 0x20, 0xC0}},
        {SampleEncoding::Float64, -2.0, {0, 0, 0, 0, 0, 0, 0x00, 0xC0}},
        {SampleEncoding::Float64, 1.5, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}},
    };
    for (const auto& sample : cases) {
        SCOPED_TRACE(sample.value);
        const SampleFormat format = formatOf(sample.encoding, 1, 48000);
        std::vector<std::uint8_t> bytes(sample.bytes.size());
        encodeSamples(format, std::span(&sample.value, 1), bytes);
        EXPECT_EQ(bytes, sample.bytes);
        double decoded = 0.5;
        decodeSamples(format, sample.bytes, std::span(&decoded, 1));
        EXPECT_EQ(decoded, sample.value);
    }
}

// Random values the format holds, the extremes among them.
std::vector<double> samplesFor(const SampleFormat& format, std::size_t count)
{
    std::mt19937_64 random(count);
    const double scale = fullScale(format);
    std::vector<double> samples(count);
    for (std::size_t index = 0; index < count; ++index) {
        const auto bits = static_cast<std::int64_t>(random());
        switch (format.encoding) {
        case SampleEncoding::Float32:
            samples[index] = static_cast<float>(static_cast<double>(bits) / 0x1p62);
            break;
        case SampleEncoding::Float64:
            samples[index] = static_cast<double>(bits) / 0x1p61;
            break;
        default:
            samples[index] = static_cast<double>(bits % static_cast<std::int64_t>(scale));
        }
    }
    samples[0] = -scale;
    samples[1] = isFloat(format.encoding) ? scale : scale - 1;
    return samples;
}

TEST(SampleCodec, WrittenFilesReadBackFrameForFrame)
{
    constexpr std::array encodings{SampleEncoding::UInt8, SampleEncoding::Int16,   SampleEncoding::Int24,
                                   SampleEncoding::Int32, SampleEncoding::Float32, SampleEncoding::Float64};
    for (const SampleEncoding encoding : encodings) {
        for (const int channels : {1, 2, 6}) {
            for (const std::int32_t sampleRate : {22050, 48000, 176400}) {
                const SampleFormat format = formatOf(encoding, channels, sampleRate, channels == 6 ? 0x3F : 0);
                SCOPED_TRACE(std::string(sampleFormatKey(encoding)) + " x" + std::to_string(channels) + " at " +
                             std::to_string(sampleRate));
                const std::uint64_t frameCount = 7;
                const std::vector<double> samples = samplesFor(format, frameCount * channels);
                std::vector<std::uint8_t> file = clippedWavHeaderFor(format, frameCount);
                const std::size_t headerSize = file.size();
                file.resize(headerSize + samples.size() * format.containerBytes);
                encodeSamples(format, samples, std::span(file).subspan(headerSize));

                const auto read = readBatchInput(MemoryByteSource(file));
                ASSERT_TRUE(std::holds_alternative<BatchInput>(read)) << std::get<BatchRefused>(read).message;
                const BatchInput& input = std::get<BatchInput>(read);
                EXPECT_EQ(input.format.encoding, encoding);
                EXPECT_EQ(input.format.channels, channels);
                EXPECT_EQ(input.format.sampleRate, sampleRate);
                EXPECT_EQ(input.format.channelMask, format.channelMask);
                EXPECT_EQ(input.frameCount, frameCount);
                EXPECT_EQ(input.dataOffset, headerSize);
                EXPECT_TRUE(input.warning.empty());
                std::vector<double> decoded(samples.size());
                decodeSamples(input.format, std::span(file).subspan(headerSize), decoded);
                EXPECT_EQ(decoded, samples);
            }
        }
    }
}

TEST(ClippedWavHeaderFor, TheSmallestLayoutThatCarriesTheFormat)
{
    SampleFormat twentyBits = formatOf(SampleEncoding::Int24, 2, 48000);
    twentyBits.validBits = 20;
    const struct {
        const char* name;
        SampleFormat format;
        std::size_t headerSize;
        std::uint16_t formatTag;
    } cases[] = {
        {"8-bit stereo", formatOf(SampleEncoding::UInt8, 2, 8000), 44, 1},
        {"16-bit mono", formatOf(SampleEncoding::Int16, 1, 48000), 44, 1},
        {"16-bit mono, centre speaker named", formatOf(SampleEncoding::Int16, 1, 48000, 0x4), 44, 1},
        {"16-bit mono, left speaker named", formatOf(SampleEncoding::Int16, 1, 48000, 0x1), 68, 0xFFFE},
        {"16-bit, 3 channels", formatOf(SampleEncoding::Int16, 3, 48000), 68, 0xFFFE},
        {"24-bit stereo", formatOf(SampleEncoding::Int24, 2, 48000), 68, 0xFFFE},
        {"20 valid bits", twentyBits, 68, 0xFFFE},
        {"float stereo", formatOf(SampleEncoding::Float32, 2, 96000), 58, 3},
        {"double mono", formatOf(SampleEncoding::Float64, 1, 96000), 58, 3},
        {"float, 6 channels", formatOf(SampleEncoding::Float32, 6, 96000, 0x3F), 80, 0xFFFE},
    };
    for (const auto& expected : cases) {
        SCOPED_TRACE(expected.name);
        const std::vector<std::uint8_t> header = clippedWavHeaderFor(expected.format, 3);
        ASSERT_EQ(header.size(), expected.headerSize);
        EXPECT_EQ(header[20] | header[21] << 8, expected.formatTag);
    }
}

TEST(ClippedWavHeaderFor, ClassicFilesGetTheCopiedHeaderOfAPlainInput)
{
    WaveHeaderInfo input;
    input.formatTag = 1;
    input.channels = 2;
    input.sampleRate = 88200;
    input.byteRate = 352800;
    input.blockAlign = 4;
    input.bitsPerSample = 16;
    input.dataSize = 4 * 1000;
    deriveWaveValues(input);
    const std::array<std::uint8_t, waveHeaderSizeInBytes> copied = clippedWavHeader(input);
    EXPECT_EQ(clippedWavHeaderFor(formatOf(SampleEncoding::Int16, 2, 88200), 1000),
              std::vector<std::uint8_t>(copied.begin(), copied.end()));
}

// A file of any length: the given header, then silence.
class HeaderThenSilence final : public ByteSource {
public:
    HeaderThenSilence(std::vector<std::uint8_t> header, std::uint64_t dataBytes)
        : header_(std::move(header)), size_(header_.size() + dataBytes)
    {
    }
    std::uint64_t size() const override { return size_; }
    std::optional<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const override
    {
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size_ - std::min(offset, size_)));
        for (std::size_t index = 0; index < count; ++index) {
            buffer[index] = offset + index < header_.size() ? header_[offset + index] : 0;
        }
        return count;
    }

private:
    std::vector<std::uint8_t> header_;
    std::uint64_t size_;
};

TEST(ClippedWavHeaderFor, RF64OnlyWhenTheRiffSizeCannotHoldTheData)
{
    const SampleFormat format = formatOf(SampleEncoding::Int24, 6, 48000, 0x3F);
    const std::uint64_t riffLimitFrames = (0xFFFFFFFFull - 60) / 18;
    for (const std::uint64_t frameCount : {riffLimitFrames, riffLimitFrames + 1, std::uint64_t{1} << 30}) {
        SCOPED_TRACE(frameCount);
        const std::vector<std::uint8_t> header = clippedWavHeaderFor(format, frameCount);
        EXPECT_EQ(std::string(header.begin(), header.begin() + 4), frameCount > riffLimitFrames ? "RF64" : "RIFF");
        const auto read = readBatchInput(HeaderThenSilence(header, frameCount * 18));
        ASSERT_TRUE(std::holds_alternative<BatchInput>(read)) << std::get<BatchRefused>(read).message;
        EXPECT_EQ(std::get<BatchInput>(read).frameCount, frameCount);
        EXPECT_EQ(std::get<BatchInput>(read).dataOffset, header.size());
        EXPECT_TRUE(std::get<BatchInput>(read).warning.empty());
    }
}

} // namespace
} // namespace tarvelle
