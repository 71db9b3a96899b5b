#include "app/clip_job.hpp"

#include "clip/peak_clip.hpp"
#include "report/clip_report.hpp"
#include "support/test_files.hpp"
#include "wav/output_names.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace tarvelle {
namespace {

using testing::WaveFields;

// The six levels of an accepted file; how many outputs could not be written,
// or -1 when the file could not be prepared.
int runAllLevels(const std::string& inputName)
{
    const InputCheck check = checkInputFile(inputName);
    RunSamples run;
    if (check.error || prepareRun(inputName, check.header, run)) {
        return -1;
    }
    int failedOutputCount = 0;
    for (int clipLevel = 0; clipLevel < 6; ++clipLevel) {
        failedOutputCount += runClipLevel(inputName, check.header, clipLevel, run);
    }
    return failedOutputCount;
}

// A whole run in process: the twelve files and what they hold.
TEST(ClipJob, WritesTwelveFilesFromTheUnclippedInputEachTime)
{
    testing::ScratchFolder folder;
    const std::string inputName = folder.path("take1.wav");
    // Peak 5: thresholds 4, 3, 2, 1, 1, 1.
    const std::vector<std::int16_t> samples = {0, 0, 5, -5, 2, 1, -3, 0, 4, -4};
    testing::writeFileBytes(inputName, testing::waveBytes(WaveFields{}, 20, samples));
    const InputCheck check = checkInputFile(inputName);
    ASSERT_FALSE(check.error.has_value());

    RunSamples run;
    ASSERT_FALSE(prepareRun(inputName, check.header, run).has_value());
    EXPECT_EQ(run.peakLevel, 5);
    const std::int16_t thresholds[] = {4, 3, 2, 1, 1, 1};
    for (int clipLevel = 0; clipLevel < 6; ++clipLevel) {
        EXPECT_EQ(runClipLevel(inputName, check.header, clipLevel, run), 0);

        std::vector<std::int16_t> expected;
        for (const std::int16_t sample : samples) {
            const std::int16_t limit = thresholds[clipLevel];
            expected.push_back(std::clamp(sample, static_cast<std::int16_t>(-limit), limit));
        }
        EXPECT_EQ(testing::readFileBytes(outputFileName(inputName, OutputKind::ClippedWav, clipLevel)),
                  testing::waveBytes(WaveFields{}, 20, expected))
            << "level " << clipLevel;
        EXPECT_TRUE(std::filesystem::exists(outputFileName(inputName, OutputKind::Report, clipLevel)));
    }

    // At 15 dB (threshold 1) the left channel clips at frames 1 to 4, one event
    // still open at the end; the right one at frames 1 and 4, two single samples.
    const std::vector<std::uint8_t> report =
        testing::readFileBytes(outputFileName(inputName, OutputKind::Report, 4));
    const std::string text(report.begin(), report.end());
    EXPECT_NE(text.find("Clipped samples:           4 \r\nClipping events:           1 \r\n"), std::string::npos);
    EXPECT_NE(text.find("Events 50us to <100us:     1 \r\n"), std::string::npos);
    EXPECT_NE(text.find("Clipped samples:           2 \r\nClipping events:           2 \r\n"), std::string::npos);
    EXPECT_NE(text.find("Events <25us:              2 \r\n"), std::string::npos);
}

TEST(ClipJob, CountsTheFilesThatCouldNotBeWritten)
{
    testing::ScratchFolder folder;
    const std::string inputName = folder.path("take1.wav");
    testing::writeFileBytes(inputName, testing::waveBytes(WaveFields{}, 8, {100, -100, 50, 25}));
    std::filesystem::create_directory(outputFileName(inputName, OutputKind::Report, 2));
    const int failedOutputCount = runAllLevels(inputName);
    EXPECT_EQ(failedOutputCount, 1);
    EXPECT_TRUE(std::filesystem::is_regular_file(outputFileName(inputName, OutputKind::ClippedWav, 2)));
    EXPECT_TRUE(std::filesystem::is_regular_file(outputFileName(inputName, OutputKind::Report, 3)));
}

// Each level after the first is counted while the level before it is written,
// across many write blocks; a WAV file that cannot be written must not cut
// that count short.
TEST(ClipJob, ReportsMatchAWholeCountOfTheInput)
{
    testing::ScratchFolder folder;
    const std::string inputName = folder.path("long.wav");
    std::vector<std::int16_t> samples(2 * 100003);
    std::uint32_t state = 12345;
    for (std::int16_t& sample : samples) {
        state = state * 1664525u + 1013904223u;
        sample = static_cast<std::int16_t>(static_cast<std::int32_t>(state >> 16) - 32768);
    }
    testing::writeFileBytes(
        inputName, testing::waveBytes(WaveFields{}, static_cast<std::int64_t>(2 * samples.size()), samples));
    std::filesystem::create_directory(outputFileName(inputName, OutputKind::ClippedWav, 2));
    const InputCheck check = checkInputFile(inputName);
    RunSamples run;
    ASSERT_FALSE(prepareRun(inputName, check.header, run).has_value());

    for (int clipLevel = 0; clipLevel < 6; ++clipLevel) {
        EXPECT_EQ(runClipLevel(inputName, check.header, clipLevel, run), clipLevel == 2 ? 1 : 0);
        ChannelClipStats left;
        ChannelClipStats right;
        countLevel(samples, thresholdForLevel(run.peakLevel, clipLevel), check.header.rateFactor, left, right);
        const std::vector<std::uint8_t> report =
            testing::readFileBytes(outputFileName(inputName, OutputKind::Report, clipLevel));
        EXPECT_EQ(std::string(report.begin(), report.end()),
                  clipReportText(inputName, check.header, clipLevel, left, right))
            << "level " << clipLevel;
    }
}

TEST(ClipJob, AnOutputThatIsTheInputUnderAnotherNameIsLeftAlone)
{
    testing::ScratchFolder folder;
    const std::string inputName = folder.path("take1.wav");
    const std::vector<std::uint8_t> inputBytes = testing::waveBytes(WaveFields{}, 8, {30000, -30000, 5, -5});
    testing::writeFileBytes(inputName, inputBytes);
    std::filesystem::create_hard_link(inputName, outputFileName(inputName, OutputKind::ClippedWav, 0));
    std::filesystem::create_hard_link(inputName, outputFileName(inputName, OutputKind::Report, 5));
    const int failedOutputCount = runAllLevels(inputName);
    EXPECT_EQ(failedOutputCount, 2);
    EXPECT_EQ(testing::readFileBytes(inputName), inputBytes);
    EXPECT_TRUE(std::filesystem::is_regular_file(outputFileName(inputName, OutputKind::ClippedWav, 1)));
}

TEST(ClipJob, AnEmptyDataChunkStillGivesTwelveFiles)
{
    testing::ScratchFolder folder;
    const std::string inputName = folder.path("empty.wav");
    testing::writeFileBytes(inputName, testing::waveBytes(WaveFields{}, 0, {}));
    const InputCheck check = checkInputFile(inputName);
    RunSamples run;
    ASSERT_FALSE(prepareRun(inputName, check.header, run).has_value());
    for (int clipLevel = 0; clipLevel < 6; ++clipLevel) {
        EXPECT_EQ(runClipLevel(inputName, check.header, clipLevel, run), 0);
        EXPECT_EQ(std::filesystem::file_size(outputFileName(inputName, OutputKind::ClippedWav, clipLevel)), 44u);
    }
}

TEST(ClipJob, MemoryNeededGrowsWithTheFrames)
{
    EXPECT_EQ(runMemoryBytes(-5), runMemoryBytes(0));
    EXPECT_LT(runMemoryBytes(0), 1u << 20);
    EXPECT_EQ(runMemoryBytes(536870912) - runMemoryBytes(0), 4ULL * 536870912);
}

} // namespace
} // namespace tarvelle
