#include "wav/sample_format.hpp"

#include "support/test_files.hpp"
#include "wav/batch_input.hpp"
#include "wav/wave_writer.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>
#include <vector>

namespace tarvelle {
namespace {

using testing::formatOf;

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

} // namespace
} // namespace tarvelle
