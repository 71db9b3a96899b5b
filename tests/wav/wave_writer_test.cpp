#include "wav/wave_writer.hpp"

#include "support/test_files.hpp"
#include "wav/batch_input.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

namespace tarvelle {
namespace {

using testing::formatOf;

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
