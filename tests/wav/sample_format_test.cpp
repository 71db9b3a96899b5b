#include "wav/sample_format.hpp"

#include "wav/batch_input.hpp"
#include "wav/wave_writer.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>
#include <vector>

namespace tarvelle {
namespace {

SampleFormat formatOf(SampleEncoding encoding, int channels, std::int32_t sampleRate,
                      std::uint32_t channelMask = 0)
{
    constexpr std::array<int, 6> containerBytes{1, 2, 3, 4, 4, 8};
    const int bytes = containerBytes[static_cast<std::size_t>(encoding)];
    return SampleFormat{encoding, channels, bytes, 8 * bytes, sampleRate, channelMask, false};
}

TEST(SampleCodec, WrittenFilesReadBackFrameForFrame)
{
    for (int encoding = 0; encoding < 6; ++encoding) {
        for (const int channels : {1, 2, 6}) {
            for (const std::int32_t sampleRate : {22050, 48000, 176400}) {
                const SampleFormat format = formatOf(static_cast<SampleEncoding>(encoding), channels, sampleRate,
                                                     channels == 6 ? 0x3F : 0);
                SCOPED_TRACE(std::string(sampleFormatKey(format.encoding)) + " x" + std::to_string(channels) +
                             " at " + std::to_string(sampleRate));
                // Both extremes, then values spread over the range.
                const double scale = fullScale(format);
                std::vector<double> samples = {-scale, isFloat(format.encoding) ? scale : scale - 1};
                for (int index = 2; index < 7 * channels; ++index) {
                    const double value = 0.99 * scale * std::sin(index * 0.7);
                    samples.push_back(isFloat(format.encoding) ? static_cast<float>(value) : std::round(value));
                }
                std::vector<std::uint8_t> file = clippedWavHeaderFor(format, 7);
                const std::size_t headerSize = file.size();
                file.resize(headerSize + samples.size() * format.containerBytes);
                encodeSamples(format, samples, std::span(file).subspan(headerSize));
                // The extremes as every other program stores them.
                constexpr std::array<const char*, 6> extremesAsStored{"00FF",
                                                                      "0080FF7F",
                                                                      "000080FFFF7F",
                                                                      "00000080FFFFFF7F",
                                                                      "000080BF0000803F",
                                                                      "000000000000F0BF000000000000F03F"};
                std::string stored;
                for (std::size_t index = 0; index < 2 * static_cast<std::size_t>(format.containerBytes); ++index) {
                    stored += "0123456789ABCDEF"[file[headerSize + index] >> 4];
                    stored += "0123456789ABCDEF"[file[headerSize + index] & 0xF];
                }
                EXPECT_EQ(stored, extremesAsStored[static_cast<std::size_t>(encoding)]);

                const BatchInput input = std::get<BatchInput>(readBatchInput(MemoryByteSource(file)));
                EXPECT_EQ(std::tuple(input.format.encoding, input.format.channels, input.format.sampleRate,
                                     input.format.channelMask, input.frameCount, input.dataOffset),
                          std::tuple(format.encoding, format.channels, format.sampleRate, format.channelMask,
                                     std::uint64_t{7}, std::uint64_t{headerSize}));
                std::vector<double> decoded(samples.size());
                decodeSamples(input.format, std::span(file).subspan(headerSize), decoded);
                EXPECT_EQ(decoded, samples);
            }
        }
    }
}

// A file of any length: the given header, then silence.
class HeaderThenSilence final : public ByteSource {
public:
    HeaderThenSilence(std::vector<std::uint8_t> header, std::uint64_t size)
        : header_(std::move(header)), size_(size)
    {
    }
    std::uint64_t size() const override { return size_; }
    std::optional<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const override
    {
        for (std::size_t index = 0; index < buffer.size(); ++index) {
            buffer[index] = offset + index < header_.size() ? header_[offset + index] : 0;
        }
        return static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size_ - std::min(offset, size_)));
    }

private:
    std::vector<std::uint8_t> header_;
    std::uint64_t size_;
};

TEST(ClippedWavHeaderFor, TheSmallestLayoutThatCarriesTheFormat)
{
    SampleFormat twentyBits = formatOf(SampleEncoding::Int24, 2, 48000);
    twentyBits.validBits = 20;
    const SampleFormat sixChannels = formatOf(SampleEncoding::Int24, 6, 48000, 0x3F);
    const std::uint64_t riffLimitFrames = (0xFFFFFFFFull - 60) / 18; // after 60 bytes of RIFF body
    const struct {
        SampleFormat format;
        std::uint64_t frameCount;
        std::string layout; // the first tag and the header's size
    } cases[] = {
        {formatOf(SampleEncoding::UInt8, 2, 8000), 3, "RIFF 44"},
        {formatOf(SampleEncoding::Int16, 1, 48000, 0x4), 3, "RIFF 68"}, // a speaker named stays named
        {formatOf(SampleEncoding::Int16, 1, 48000, 0x1), 3, "RIFF 68"}, // left, named
        {twentyBits, 3, "RIFF 68"},
        {formatOf(SampleEncoding::Float64, 2, 96000), 3, "RIFF 58"}, // with its fact chunk
        {formatOf(SampleEncoding::Float32, 6, 96000, 0x3F), 3, "RIFF 80"},
        {sixChannels, riffLimitFrames, "RIFF 68"},
        {sixChannels, riffLimitFrames + 1, "RF64 104"},
    };
    for (const auto& expected : cases) {
        const std::vector<std::uint8_t> header = clippedWavHeaderFor(expected.format, expected.frameCount);
        EXPECT_EQ(std::string(header.begin(), header.begin() + 4) + " " + std::to_string(header.size()),
                  expected.layout);
        const std::uint64_t dataBytes =
            expected.frameCount * static_cast<std::uint64_t>(bytesPerFrame(expected.format));
        const BatchInput input =
            std::get<BatchInput>(readBatchInput(HeaderThenSilence(header, header.size() + dataBytes)));
        EXPECT_EQ(std::tuple(input.frameCount, input.format.validBits, input.warning),
                  std::tuple(expected.frameCount, expected.format.validBits, std::string()));
    }
}

} // namespace
} // namespace tarvelle
