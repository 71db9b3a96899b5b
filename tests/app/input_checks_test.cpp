#include "app/input_checks.hpp"

#include "platform/file_access.hpp"
#include "support/test_files.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace tarvelle {
namespace {

using testing::WaveFields;

TEST(JobErrorText, TheBoxTexts)
{
    const std::string_view notFound = jobErrorText(JobError::Kind::NotFound);
    EXPECT_EQ(notFound.size(), 61u);
    EXPECT_EQ(notFound, "            File not found.\\n Please enter a valid filename  ");
    EXPECT_EQ(jobErrorText(JobError::Kind::NotStereo), "This is not a stereo Wave file  ");
    EXPECT_EQ(jobErrorText(JobError::Kind::Not16Bit), "This is not a 16-bit Wave file  ");
    EXPECT_EQ(jobErrorText(JobError::Kind::UnsupportedRate), "This is not a 44.1, 88.2 or 176.4kHz Wave file  ");
    EXPECT_EQ(jobErrorText(JobError::Kind::TooLarge), "This Wave file is too large  ");
    EXPECT_EQ(jobErrorText(JobError::Kind::InUse), "This Wave file is in use by another program  ");
    EXPECT_EQ(jobErrorText(JobError::Kind::ReadError), "This Wave file could not be read  ");
}

struct CheckCase {
    const char* name;
    int channelsLow;
    int bitsPerSample;
    std::int32_t sampleRate;
    std::int64_t dataSize;
    std::optional<JobError::Kind> expected;
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
    EXPECT_EQ(checkWaveHeader(parseWaveHeader(testing::waveBytes(fields, check.dataSize, {}))), check.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaveCheckTest,
    ::testing::Values(CheckCase{"Mono", 1, 16, 44100, 4, JobError::Kind::NotStereo},
                      CheckCase{"MonoEightBitOddRate", 1, 8, 48000, 4, JobError::Kind::NotStereo},
                      CheckCase{"ThreeChannels", 3, 16, 44100, 4, JobError::Kind::NotStereo},
                      CheckCase{"Stereo8Bit", 2, 8, 44100, 4, JobError::Kind::Not16Bit},
                      CheckCase{"Stereo24Bit48k", 2, 24, 48000, 4, JobError::Kind::Not16Bit},
                      CheckCase{"Rate48000", 2, 16, 48000, 4, JobError::Kind::UnsupportedRate},
                      CheckCase{"Rate96000", 2, 16, 96000, 4, JobError::Kind::UnsupportedRate},
                      CheckCase{"Rate44099", 2, 16, 44099, 4, JobError::Kind::UnsupportedRate},
                      CheckCase{"NegativeRate", 2, 16, -44100, 4, JobError::Kind::UnsupportedRate},
                      CheckCase{"Rate44100", 2, 16, 44100, 4, std::optional<JobError::Kind>{}},
                      CheckCase{"Rate88200", 2, 16, 88200, 4, std::optional<JobError::Kind>{}},
                      CheckCase{"Rate176400", 2, 16, 176400, 4, std::optional<JobError::Kind>{}},
                      CheckCase{"LargestSize", 2, 16, 44100, 0x7FFFFFFF, std::optional<JobError::Kind>{}},
                      CheckCase{"TwoGibibytes", 2, 16, 44100, 0x80000000, JobError::Kind::TooLarge},
                      CheckCase{"AllOnes", 2, 16, 44100, 0xFFFFFFFF, JobError::Kind::TooLarge},
                      CheckCase{"TooLargeButMonoFirst", 1, 16, 44100, 0x80000000, JobError::Kind::NotStereo}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

// The existence test: any error but NotFound means the file was opened.
bool inputFileExists(const std::string& inputFileName)
{
    return checkInputFile(inputFileName).error != JobError::Kind::NotFound;
}

TEST(InputFileExists, OnlyOpenableRegularFilesPass)
{
    testing::ScratchFolder folder;
    const std::string fileName = folder.path("take1.wav");
    testing::writeFileBytes(fileName, {1, 2, 3});
    std::filesystem::create_directory(folder.path("folder.wav"));

    const struct {
        std::string name;
        bool exists;
    } cases[] = {
        {fileName, true},
        {"", false},
        {folder.path("take?.wav"), false},
        {folder.path("*.wav"), false},
        {folder.path("folder.wav"), false},
        {folder.path("missing.wav"), false},
        {" " + fileName, false},
        {fileName + std::string(300, 'x'), false},
        // Cut at the NUL, this would name the existing file.
        {fileName + std::string(1, '\0') + "x", false},
    };
    for (const auto& existsCase : cases) {
        EXPECT_EQ(inputFileExists(existsCase.name), existsCase.exists) << "'" << existsCase.name << "'";
    }
}

// Readers share an input; a writer's hold makes it in use
// (tests/e2e/test_batch.py holds it from another program).
TEST(InputFileExists, AnotherReaderDoesNotStandInTheWay)
{
    testing::ScratchFolder folder;
    const std::string fileName = folder.path("take1.wav");
    testing::writeFileBytes(fileName, {1, 2, 3});
    std::optional<FileHandle> held = openInputFile(fileName);
    ASSERT_TRUE(held.has_value());
    EXPECT_TRUE(inputFileExists(fileName));
}

TEST(CheckInputFile, ReportsTheFirstProblemAndDerivesTheRest)
{
    // Each rule of the header is in checkWaveHeader's table; here, that the
    // file's own header reaches it.
    testing::ScratchFolder folder;
    const struct {
        std::string name;
        std::vector<std::uint8_t> bytes;
        std::optional<JobError::Kind> error;
    } cases[] = {
        {"good.wav", testing::waveBytes(WaveFields{}, 8, {1, 2, 3, 4}), std::nullopt},
        {"huge.wav", testing::waveBytes(WaveFields{}, 0x90000000LL, {}), JobError::Kind::TooLarge},
        {"empty.wav", {}, JobError::Kind::NotStereo},
    };
    for (const auto& checkCase : cases) {
        SCOPED_TRACE(checkCase.name);
        testing::writeFileBytes(folder.path(checkCase.name), checkCase.bytes);
        const InputCheck check = checkInputFile(folder.path(checkCase.name));
        EXPECT_EQ(check.error, checkCase.error);
    }
    const InputCheck good = checkInputFile(folder.path("good.wav"));
    EXPECT_EQ(good.header.samplesPerChannel, 2);
    EXPECT_EQ(good.header.rateFactor, 1);
    EXPECT_EQ(checkInputFile(folder.path("none.wav")).error, JobError::Kind::NotFound);
}

} // namespace
} // namespace tarvelle
