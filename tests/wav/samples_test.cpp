#include "wav/samples.hpp"

#include "support/test_files.hpp"

#include <gtest/gtest.h>

namespace tarvelle {
namespace {

using testing::WaveFields;

struct LoadCase {
    const char* name;
    std::int32_t dataSize;
    std::vector<std::int16_t> fileSamples; // what follows the header, data chunk or not
    std::vector<std::int16_t> expected;    // the 2N samples loaded
};

std::vector<std::int16_t> loadFrom(const std::vector<std::uint8_t>& fileBytes)
{
    testing::ScratchFolder folder;
    const std::string fileName = folder.path("in.wav");
    testing::writeFileBytes(fileName, fileBytes);
    const AcceptedHeader header = acceptWaveHeader(parseWaveHeader(fileBytes));
    // Garbage first: every element must be written by the load.
    std::vector<std::int16_t> samples(2 * static_cast<std::size_t>(header.samplesPerChannel), 0x5A5A);
    EXPECT_EQ(loadSamples(fileName, header, samples), LoadResult::Loaded);
    return samples;
}

TEST(LoadSamples, TakesOnlyTheDataChunkAndZeroesTheRest)
{
    // 'L','I' of a following LIST chunk read as the sample 0x494C.
    const std::int16_t listTag = 0x494C;
    const LoadCase cases[] = {
        {"Whole frames", 8, {1, -2, 3, -4}, {1, -2, 3, -4}},
        {"File ends early", 12, {1, -2}, {1, -2, 0, 0, 0, 0}},
        {"No samples at all", 8, {}, {0, 0, 0, 0}},
        {"4k+1 drops the odd byte", 9, {1, -2, 3, -4, 5}, {1, -2, 3, -4}},
        // 4k+3: N rounds up; the seventh byte is data, the eighth already belongs
        // to the next chunk and must not become audio.
        {"4k+3 with a chunk after", 7, {1, -2, 0x0033, listTag, 0x5453}, {1, -2, 0x0033, 0x004C}},
        {"4k+3 at the end of the file", 7, {1, -2, 0x0033}, {1, -2, 0x0033, 0}},
        // 4k+2 with k odd rounds up to k+1 frames: the right sample is missing.
        {"4k+2 k odd with a chunk after", 6, {7, -7, 8, listTag}, {7, -7, 8, 0}},
        {"4k+2 k even", 10, {1, 2, 3, 4, 5, listTag}, {1, 2, 3, 4}},
        {"Extremes", 8, {-32768, 32767, -1, 0}, {-32768, 32767, -1, 0}},
    };
    for (const LoadCase& loadCase : cases) {
        SCOPED_TRACE(loadCase.name);
        const std::vector<std::uint8_t> bytes =
            testing::waveBytes(WaveFields{}, loadCase.dataSize, loadCase.fileSamples);
        EXPECT_EQ(loadFrom(bytes), loadCase.expected);
    }
}

TEST(LoadSamples, ALineAfterTheDataLoadsTheSameSamplesAsWithout)
{
    const std::vector<std::int16_t> samples = {100, -100, 200, -200, 300, -300};
    std::vector<std::uint8_t> plain = testing::waveBytes(WaveFields{}, 12, samples);
    std::vector<std::uint8_t> withList = plain;
    for (const char byte : std::string("LIST\x04\x00\x00\x00INFO")) {
        withList.push_back(static_cast<std::uint8_t>(byte));
    }
    EXPECT_EQ(loadFrom(plain), loadFrom(withList));
}

TEST(LoadSamples, AMissingFileIsNotReadable)
{
    testing::ScratchFolder folder;
    WaveHeaderInfo header;
    header.dataSize = 4;
    std::vector<std::int16_t> samples(2);
    EXPECT_EQ(loadSamples(folder.path("gone.wav"), header, samples), LoadResult::NotReadable);
}

} // namespace
} // namespace tarvelle
