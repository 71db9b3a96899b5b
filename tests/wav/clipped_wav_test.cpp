#include "wav/clipped_wav.hpp"

#include "support/test_files.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace tarvelle {
namespace {

using testing::WaveFields;

struct WriteCase {
    const char* name;
    WaveFields fields;
    std::int64_t dataSize;
    std::vector<std::int16_t> samples; // the clipped frames handed to the writer
};

WaveFields oddFields(std::int16_t formatTag, std::int32_t byteRate, std::int16_t blockAlign, std::uint8_t high)
{
    WaveFields fields;
    fields.formatTag = formatTag;
    fields.byteRate = byteRate;
    fields.blockAlign = blockAlign;
    fields.channelsHigh = high;
    fields.fmtSize = 18;
    return fields;
}

// What the writer must produce: the header as a canonical one would carry the
// input's fields (fmt size 16, channel high byte 0), then the samples.
std::vector<std::uint8_t> expectedFile(WaveFields fields, std::int64_t dataSize,
                                       const std::vector<std::int16_t>& samples)
{
    fields.fmtSize = 16;
    fields.channelsHigh = 0;
    return testing::waveBytes(fields, dataSize, samples);
}

TEST(ClippedWavBytes, TheCopiedHeaderThenEverySampleLittleEndian)
{
    const WriteCase cases[] = {
        {"Canonical", WaveFields{}, 8, {1, -1, -32768, 32767}},
        {"Float tag, wrong rates", oddFields(3, 999, 9, 0), 8, {5, 6, 7, 8}},
        {"Extensible tag, channels 02 01", oddFields(static_cast<std::int16_t>(0xFFFE), 1, 1, 1), 4, {-3, 3}},
        {"4m+1", WaveFields{}, 9, {1, 2, 3, 4}},
        {"4m+2, m even", WaveFields{}, 10, {1, 2, 3, 4}},
        {"4m+2, m odd", WaveFields{}, 6, {1, 2, 3, 4}},
        {"4m+3", WaveFields{}, 7, {1, 2, 3, 4}},
        {"Larger than the samples", WaveFields{}, 1764000, {9, 9}},
        {"No samples", WaveFields{}, 0, {}},
        {"One frame", WaveFields{}, 4, {-32768, 32767}},
    };
    for (const WriteCase& writeCase : cases) {
        SCOPED_TRACE(writeCase.name);
        const std::vector<std::uint8_t> inputHeader = testing::waveBytes(writeCase.fields, writeCase.dataSize, {});
        const AcceptedHeader header = acceptWaveHeader(parseWaveHeader(inputHeader));

        const auto headerBytes = clippedWavHeader(header);
        std::vector<std::int16_t> samples = writeCase.samples;
        const std::span<const std::uint8_t> sampleBytes = littleEndianBytes(samples);
        std::vector<std::uint8_t> file(headerBytes.begin(), headerBytes.end());
        file.insert(file.end(), sampleBytes.begin(), sampleBytes.end());
        EXPECT_EQ(file, expectedFile(writeCase.fields, writeCase.dataSize, writeCase.samples));
    }
}

TEST(ClippedWavBytes, TenSecondsAt44100)
{
    const AcceptedHeader header = acceptWaveHeader(parseWaveHeader(testing::waveBytes(WaveFields{}, 1764000, {})));
    const auto bytes = clippedWavHeader(header);
    const std::vector<std::uint8_t> sizeBytes(bytes.begin() + 4, bytes.begin() + 8);
    const std::vector<std::uint8_t> rateBytes(bytes.begin() + 24, bytes.begin() + 28);
    const std::vector<std::uint8_t> dataBytes(bytes.begin() + 40, bytes.begin() + 44);
    EXPECT_EQ(sizeBytes, (std::vector<std::uint8_t>{0xC4, 0xEA, 0x1A, 0x00}));
    EXPECT_EQ(rateBytes, (std::vector<std::uint8_t>{0x44, 0xAC, 0x00, 0x00}));
    EXPECT_EQ(dataBytes, (std::vector<std::uint8_t>{0xA0, 0xEA, 0x1A, 0x00}));
}

} // namespace
} // namespace tarvelle
