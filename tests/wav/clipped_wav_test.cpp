#include "wav/clipped_wav.hpp"

#include "support/test_files.hpp"
#include "wav/file_access.hpp"
#include "wav/output_names.hpp"

#include <gtest/gtest.h>

#include <filesystem>

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

TEST(WriteClippedWav, WritesTheCopiedHeaderAndEverySample)
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
        testing::ScratchFolder folder;
        const std::string inputName = folder.path("take1.wav");
        const std::vector<std::uint8_t> inputHeader = testing::waveBytes(writeCase.fields, writeCase.dataSize, {});
        WaveHeaderInfo header = parseWaveHeader(inputHeader);
        deriveWaveValues(header);

        ASSERT_TRUE(writeClippedWav(inputName, 2, header, writeCase.samples));
        EXPECT_EQ(testing::readFileBytes(folder.path("take1 9dB clipping.wav")),
                  expectedFile(writeCase.fields, writeCase.dataSize, writeCase.samples));
    }
}

TEST(WriteClippedWav, TenSecondsAt44100)
{
    WaveHeaderInfo header = parseWaveHeader(testing::waveBytes(WaveFields{}, 1764000, {}));
    deriveWaveValues(header);
    const auto bytes = clippedWavHeader(header);
    const std::vector<std::uint8_t> sizeBytes(bytes.begin() + 4, bytes.begin() + 8);
    const std::vector<std::uint8_t> rateBytes(bytes.begin() + 24, bytes.begin() + 28);
    const std::vector<std::uint8_t> dataBytes(bytes.begin() + 40, bytes.begin() + 44);
    EXPECT_EQ(sizeBytes, (std::vector<std::uint8_t>{0xC4, 0xEA, 0x1A, 0x00}));
    EXPECT_EQ(rateBytes, (std::vector<std::uint8_t>{0x44, 0xAC, 0x00, 0x00}));
    EXPECT_EQ(dataBytes, (std::vector<std::uint8_t>{0xA0, 0xEA, 0x1A, 0x00}));
}

TEST(WriteClippedWav, ALongerExistingFileIsReplacedWhole)
{
    testing::ScratchFolder folder;
    const std::string inputName = folder.path("take1.wav");
    const std::string outputName = folder.path("take1 3dB clipping.wav");
    testing::writeFileBytes(outputName, std::vector<std::uint8_t>(1000, 0xEE));
    WaveHeaderInfo header = parseWaveHeader(testing::waveBytes(WaveFields{}, 4, {}));
    deriveWaveValues(header);

    ASSERT_TRUE(writeClippedWav(inputName, 0, header, std::vector<std::int16_t>{7, -7}));
    EXPECT_EQ(testing::readFileBytes(outputName), testing::waveBytes(WaveFields{}, 4, {7, -7}));
}

TEST(WriteClippedWav, AnOutputThatCannotBeWrittenIsReported)
{
    testing::ScratchFolder folder;
    const std::string inputName = folder.path("take1.wav");
    WaveHeaderInfo header = parseWaveHeader(testing::waveBytes(WaveFields{}, 4, {}));
    deriveWaveValues(header);
    const std::vector<std::int16_t> samples = {1, 2};

    // A folder where the file should go.
    std::filesystem::create_directory(folder.path("take1 6dB clipping.wav"));
    EXPECT_FALSE(writeClippedWav(inputName, 1, header, samples));

    // A file held elsewhere is left as it is.
    const std::string heldName = folder.path("take1 12dB clipping.wav");
    testing::writeFileBytes(heldName, {1, 2, 3});
    {
        std::optional<FileHandle> held = openInputFile(heldName);
        ASSERT_TRUE(held.has_value());
        EXPECT_FALSE(writeClippedWav(inputName, 3, header, samples));
    }
    EXPECT_EQ(testing::readFileBytes(heldName), (std::vector<std::uint8_t>{1, 2, 3}));

    // A folder that does not exist.
    EXPECT_FALSE(writeClippedWav(folder.path("no such folder/take1.wav"), 0, header, samples));
}

struct NameCase {
    std::string inputName;
    OutputKind kind;
    int clipLevel;
    std::string expected;
};

TEST(OutputFileName, DropsTheLastFourBytesAndAddsTheSuffix)
{
    const NameCase cases[] = {
        {"take1.wav", OutputKind::ClippedWav, 0, "take1 3dB clipping.wav"},
        {"take1.wav", OutputKind::ClippedWav, 1, "take1 6dB clipping.wav"},
        {"take1.wav", OutputKind::ClippedWav, 2, "take1 9dB clipping.wav"},
        {"take1.wav", OutputKind::ClippedWav, 3, "take1 12dB clipping.wav"},
        {"take1.wav", OutputKind::ClippedWav, 4, "take1 15dB clipping.wav"},
        {"take1.wav", OutputKind::ClippedWav, 5, "take1 18dB clipping.wav"},
        {"C:\\Audio\\take1.wav", OutputKind::Report, 0, "C:\\Audio\\take1 3dB clipping.txt"},
        {"C:\\Audio\\take1.wav", OutputKind::Report, 5, "C:\\Audio\\take1 18dB clipping.txt"},
        {"take1.wave", OutputKind::ClippedWav, 0, "take1. 3dB clipping.wav"},
        {"take1.wave", OutputKind::Report, 0, "take1. 3dB clipping.txt"},
        {"song", OutputKind::ClippedWav, 0, " 3dB clipping.wav"},
        {"abc", OutputKind::Report, 0, "abc 3dB clipping.txt"},
        {"ab", OutputKind::ClippedWav, 0, "ab 3dB clipping.wav"},
        {"", OutputKind::ClippedWav, 4, " 15dB clipping.wav"},
        // Bytes, not characters: a UTF-8 name loses four bytes.
        {"\xC3\xA9t\xC3\xA9.wav", OutputKind::Report, 1, "\xC3\xA9t\xC3\xA9 6dB clipping.txt"},
    };
    for (const NameCase& nameCase : cases) {
        EXPECT_EQ(outputFileName(nameCase.inputName, nameCase.kind, nameCase.clipLevel), nameCase.expected);
    }
}

TEST(OutputFileName, LongNamesAreNotCut)
{
    const std::string longStem(300, 'a');
    const std::string name = outputFileName(longStem + ".wav", OutputKind::Report, 3);
    EXPECT_EQ(name, longStem + " 12dB clipping.txt");
    EXPECT_NE(name, outputFileName(longStem + ".wav", OutputKind::ClippedWav, 3));
}

} // namespace
} // namespace tarvelle
