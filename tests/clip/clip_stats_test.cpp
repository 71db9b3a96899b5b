#include "clip/clip_stats.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <string>

namespace tarvelle {
namespace {

using Bins = std::array<std::int64_t, eventLengthBinCount>;

// Runs one pass over flag strings such as "..##.#" ('#' clipped).
std::pair<ChannelClipStats, ChannelClipStats> countPass(const std::string& leftFlags,
                                                        const std::string& rightFlags, std::int16_t rateFactor)
{
    ChannelClipStats left;
    ChannelClipStats right;
    left.clipEvents = 77; // whatever a previous pass left behind
    beginPass(left, right);
    for (std::size_t index = 0; index < leftFlags.size(); ++index) {
        countSample(left, right, ClippedFlags{leftFlags[index] == '#', rightFlags[index] == '#'}, rateFactor);
    }
    endPass(left, right, rateFactor);
    return {left, right};
}

// A run of length clipped samples between two unclipped ones.
std::string run(std::size_t length)
{
    std::string flags(length + 2, '#');
    flags.front() = '.';
    flags.back() = '.';
    return flags;
}

TEST(EventLengthBin, EdgesAtEveryRate)
{
    const struct {
        std::int16_t rateFactor;
        std::int32_t length;
        int bin;
    } cases[] = {
        // One rate to a group of rows.
        // clang-format off
        {1, 1, 0},    {1, 2, 1},    {1, 3, 2},    {1, 4, 2},     {1, 5, 3},      {1, 8, 3},
        {1, 9, 4},    {1, 17, 4},   {1, 18, 5},   {1, 35, 5},    {1, 36, 6},     {1, 70, 6},
        {1, 71, 7},   {1, 141, 7},  {1, 142, 8},  {1, 282, 8},   {1, 283, 9},    {1, 564, 9},
        {1, 565, 10}, {1, 1 << 30, 10},
        {2, 1, 0},    {2, 3, 0},    {2, 4, 1},    {2, 5, 1},     {2, 6, 2},      {2, 9, 2},
        {2, 10, 3},   {2, 141, 6},  {2, 142, 7},  {2, 1129, 9},  {2, 1130, 10},
        {4, 7, 0},    {4, 8, 1},    {4, 11, 1},   {4, 12, 2},    {4, 143, 5},    {4, 144, 6},
        {4, 283, 6},  {4, 284, 7},  {4, 2259, 9}, {4, 2260, 10},
        // clang-format on
    };
    for (const auto& binCase : cases) {
        EXPECT_EQ(eventLengthBin(binCase.length, binCase.rateFactor), binCase.bin)
            << "length " << binCase.length << " at factor " << binCase.rateFactor;
    }
}

TEST(EventLengthLimits, AtEveryRate)
{
    const struct {
        std::int32_t sampleRate;
        EventLengthLimits limits;
    } cases[] = {
        {44100, {2, 3, 5, 9, 18, 36, 71, 142, 283, 565}},
        {88200, {4, 6, 10, 18, 36, 72, 142, 284, 566, 1130}},
        {22050, {1, 2, 3, 5, 9, 18, 36, 71, 142, 283}},
        {11025, {1, 1, 2, 3, 5, 9, 18, 36, 71, 142}},
        {48000, {2, 3, 5, 10, 20, 39, 77, 154, 308, 615}},
        {96000, {3, 5, 10, 20, 39, 77, 154, 308, 615, 1229}},
        {192000, {5, 10, 20, 39, 77, 154, 308, 615, 1229, 2458}},
        {40000, {1, 2, 4, 8, 16, 32, 64, 128, 256, 512}}, // boundaries fall on whole samples
    };
    for (const auto& rate : cases) {
        SCOPED_TRACE(rate.sampleRate);
        const EventLengthLimits limits = eventLengthLimits(rate.sampleRate);
        EXPECT_EQ(limits, rate.limits);
        // An event as long as a limit is in the next bin; one sample shorter is not.
        for (std::size_t bin = 0; bin < limits.size(); ++bin) {
            EXPECT_GT(eventLengthBin(limits[bin], limits), static_cast<int>(bin));
            EXPECT_LE(eventLengthBin(limits[bin] - 1, limits), static_cast<int>(bin));
        }
    }
    EXPECT_EQ(eventLengthBin(std::int64_t{1} << 40, eventLengthLimits(48000)), 10);
}

struct PassCase {
    const char* name;
    std::string flags;
    std::int16_t rateFactor;
    std::int32_t clippedSamples;
    std::int32_t clipEvents;
    Bins bins;
};

TEST(CountSample, EventsAndBins)
{
    const PassCase cases[] = {
        {"Nothing clipped", "......", 1, 0, 0, {}},
        {"Indices 3, 4, 5 and 9", "...###...#..", 1, 4, 2, {1, 0, 1}},
        {"Single samples at 44.1 kHz", ".#.#.#", 1, 3, 3, {3}},
        {"Single samples at 88.2 kHz", ".#.#.#", 2, 3, 3, {3}},
        {"Single samples at 176.4 kHz", ".#.#.#", 4, 3, 3, {3}},
        {"Three samples at 88.2 kHz", run(3), 2, 3, 1, {1}},
        {"Seven samples at 176.4 kHz", run(7), 4, 7, 1, {1}},
        {"Two samples at 44.1 kHz", run(2), 1, 2, 1, {0, 1}},
        {"564 samples at 44.1 kHz", run(564), 1, 564, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"565 samples at 44.1 kHz", run(565), 1, 565, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"First sample clipped", "##....", 1, 2, 1, {0, 1}},
        {"Every sample clipped", "########", 1, 8, 1, {0, 0, 0, 1}},
        // A run still open after the last sample is binned too.
        {"Last sample clipped", "..#..###", 1, 4, 2, {1, 0, 1}},
        {"Only the last sample", ".......#", 4, 1, 1, {1}},
        {"No samples", "", 1, 0, 0, {}},
    };
    for (const PassCase& passCase : cases) {
        SCOPED_TRACE(passCase.name);
        const auto [left, right] =
            countPass(passCase.flags, std::string(passCase.flags.size(), '.'), passCase.rateFactor);
        EXPECT_EQ(left.clippedSamples, passCase.clippedSamples);
        EXPECT_EQ(left.clipEvents, passCase.clipEvents);
        EXPECT_EQ(left.eventLengthBins, passCase.bins);
        EXPECT_EQ(std::accumulate(left.eventLengthBins.begin(), left.eventLengthBins.end(), std::int64_t{0}), left.clipEvents);
        EXPECT_EQ(right.clippedSamples, 0);
        EXPECT_EQ(right.clipEvents, 0);
        EXPECT_EQ(right.eventLengthBins, Bins{});
    }
}

TEST(CountSample, ChannelsAreCountedIndependently)
{
    const auto [left, right] = countPass("##..##..", ".####..#", 1);
    EXPECT_EQ(left.clippedSamples, 4);
    EXPECT_EQ(left.clipEvents, 2);
    EXPECT_EQ(left.eventLengthBins, (Bins{0, 2}));
    EXPECT_EQ(right.clippedSamples, 5);
    EXPECT_EQ(right.clipEvents, 2);
    EXPECT_EQ(right.eventLengthBins, (Bins{1, 0, 1}));
}

TEST(BeginPass, NothingCarriesOverFromTheLastPass)
{
    ChannelClipStats left;
    ChannelClipStats right;
    countSample(left, right, ClippedFlags{true, true}, 1);
    beginPass(left, right);
    // Had the open run survived, this clipped first sample would not start an event.
    countSample(left, right, ClippedFlags{true, false}, 1);
    EXPECT_EQ(left.clipEvents, 1);
    EXPECT_EQ(left.clippedSamples, 1);
    EXPECT_EQ(right.clippedSamples, 0);
    EXPECT_FALSE(right.previousClipped);
}

} // namespace
} // namespace tarvelle
