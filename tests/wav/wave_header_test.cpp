#include "wav/wave_header.hpp"

#include "support/test_files.hpp"

#include <gtest/gtest.h>

namespace tarvelle {
namespace {

using testing::waveBytes;
using testing::WaveFields;

WaveHeaderInfo parse(const std::vector<std::uint8_t>& bytes)
{
    return parseWaveHeader(bytes);
}

TEST(WaveHeader, FieldsComeFromTheirFixedOffsets)
{
    WaveFields fields;
    fields.formatTag = static_cast<std::int16_t>(0xFFFE);
    fields.channelsHigh = 1; // 02 01: only the low byte counts
    fields.sampleRate = 88200;
    fields.byteRate = 12345;
    fields.blockAlign = 7;
    fields.fmtSize = 18;
    const WaveHeaderInfo header = parse(waveBytes(fields, 1764000, {}));
    EXPECT_EQ(header.formatTag, static_cast<std::int16_t>(0xFFFE));
    EXPECT_EQ(header.channels, 2);
    EXPECT_EQ(header.sampleRate, 88200);
    EXPECT_EQ(header.byteRate, 12345);
    EXPECT_EQ(header.blockAlign, 7);
    EXPECT_EQ(header.bitsPerSample, 16);
    EXPECT_EQ(header.dataSize, 1764000);
    EXPECT_EQ(checkWaveHeader(header), std::optional<InputError>{});
}

TEST(WaveHeader, TagsAreNeverLookedAt)
{
    std::vector<std::uint8_t> bytes = waveBytes(WaveFields{}, 8, {1, 2, 3, 4});
    for (const std::size_t offset : {0u, 8u, 12u, 36u}) {
        bytes[offset] = 'X';
    }
    EXPECT_EQ(checkWaveHeader(parse(bytes)), std::optional<InputError>{});
}

TEST(WaveHeader, ShortFilesReadAsZeroFilledAndFailTheStereoTest)
{
    const std::vector<std::uint8_t> full = waveBytes(WaveFields{}, 0, {});
    for (const std::size_t length : {0u, 1u, 22u, 23u, 43u}) {
        const std::vector<std::uint8_t> shortBytes(full.begin(), full.begin() + static_cast<long>(length));
        const WaveHeaderInfo header = parse(shortBytes);
        SCOPED_TRACE(length);
        EXPECT_EQ(header.dataSize, 0);
        if (length <= 22) {
            EXPECT_EQ(checkWaveHeader(header), InputError::NotStereo);
        }
    }
    // 43 bytes: stereo, 16-bit, 44.1 kHz, and the missing top byte of dataSize is zero.
    std::vector<std::uint8_t> almost = waveBytes(WaveFields{}, 0x7F123456, {});
    almost.pop_back();
    EXPECT_EQ(parse(almost).dataSize, 0x00123456);
}

struct CheckCase {
    const char* name;
    int channelsLow;
    int bitsPerSample;
    std::int32_t sampleRate;
    std::int64_t dataSize;
    std::optional<InputError> expected;
};

void PrintTo(const CheckCase& check, std::ostream* stream)
{
    *stream << check.name;
}

class WaveCheckTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(WaveCheckTest, ReportsTheFirstFailingTest)
{
    const CheckCase& check = GetParam();
    WaveFields fields;
    fields.channelsLow = static_cast<std::uint8_t>(check.channelsLow);
    fields.bitsPerSample = static_cast<std::int16_t>(check.bitsPerSample);
    fields.sampleRate = check.sampleRate;
    EXPECT_EQ(checkWaveHeader(parse(waveBytes(fields, check.dataSize, {}))), check.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaveCheckTest,
    ::testing::Values(CheckCase{"Mono", 1, 16, 44100, 4, InputError::NotStereo},
                      CheckCase{"MonoEightBitOddRate", 1, 8, 48000, 4, InputError::NotStereo},
                      CheckCase{"ThreeChannels", 3, 16, 44100, 4, InputError::NotStereo},
                      CheckCase{"Stereo8Bit", 2, 8, 44100, 4, InputError::Not16Bit},
                      CheckCase{"Stereo24Bit48k", 2, 24, 48000, 4, InputError::Not16Bit},
                      CheckCase{"Rate48000", 2, 16, 48000, 4, InputError::UnsupportedRate},
                      CheckCase{"Rate96000", 2, 16, 96000, 4, InputError::UnsupportedRate},
                      CheckCase{"Rate44099", 2, 16, 44099, 4, InputError::UnsupportedRate},
                      CheckCase{"NegativeRate", 2, 16, -44100, 4, InputError::UnsupportedRate},
                      CheckCase{"Rate44100", 2, 16, 44100, 4, std::optional<InputError>{}},
                      CheckCase{"Rate88200", 2, 16, 88200, 4, std::optional<InputError>{}},
                      CheckCase{"Rate176400", 2, 16, 176400, 4, std::optional<InputError>{}},
                      CheckCase{"LargestSize", 2, 16, 44100, 0x7FFFFFFF, std::optional<InputError>{}},
                      CheckCase{"TwoGibibytes", 2, 16, 44100, 0x80000000, InputError::TooLarge},
                      CheckCase{"AllOnes", 2, 16, 44100, 0xFFFFFFFF, InputError::TooLarge},
                      CheckCase{"TooLargeButMonoFirst", 1, 16, 44100, 0x80000000, InputError::NotStereo}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

struct DeriveCase {
    std::int32_t sampleRate;
    std::int32_t dataSize;
    std::int32_t samplesPerChannel;
    std::int32_t riffSize;
    double durationSeconds;
    std::int16_t rateFactor;
};

TEST(WaveHeader, DerivedValues)
{
    const DeriveCase cases[] = {
        {44100, 176400, 44100, 176436, 1.0, 1},
        {44100, 0, 0, 36, 0.0, 1},
        {44100, 1, 0, 37, 0.0, 1},
        {44100, 2, 0, 38, 0.0, 1},
        {44100, 3, 1, 39, 1.0 / 44100, 1},
        {44100, 6, 2, 42, 2.0 / 44100, 1},
        {44100, 10, 2, 46, 2.0 / 44100, 1},
        {44100, 14, 4, 50, 4.0 / 44100, 1},
        {88200, 4 * 88200 * 3, 88200 * 3, 4 * 88200 * 3 + 36, 3.0, 2},
        {176400, 5, 1, 41, 1.0 / 176400, 4},
        // riffSize wraps as the 32-bit field it is.
        {44100, 0x7FFFFFFF, 536870912, static_cast<std::int32_t>(0x80000023u), 536870912.0 / 44100, 1},
    };
    for (const DeriveCase& expected : cases) {
        WaveFields fields;
        fields.sampleRate = expected.sampleRate;
        WaveHeaderInfo header = parse(waveBytes(fields, expected.dataSize, {}));
        ASSERT_EQ(checkWaveHeader(header), std::optional<InputError>{});
        deriveWaveValues(header);
        SCOPED_TRACE(expected.dataSize);
        EXPECT_EQ(header.samplesPerChannel, expected.samplesPerChannel);
        EXPECT_EQ(header.riffSize, expected.riffSize);
        EXPECT_EQ(header.durationSeconds, expected.durationSeconds);
        EXPECT_EQ(header.rateFactor, expected.rateFactor);
    }
}

TEST(WaveHeader, ReadsFromAFileAndFailsForAMissingOne)
{
    testing::ScratchFolder folder;
    const std::string fileName = folder.path("take1.wav");
    testing::writeFileBytes(fileName, waveBytes(WaveFields{}, 8, {1, -2, 3, -4}));
    const std::optional<WaveHeaderInfo> header = readWaveHeader(fileName);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->dataSize, 8);
    EXPECT_FALSE(readWaveHeader(folder.path("missing.wav")).has_value());
}

} // namespace
} // namespace tarvelle
