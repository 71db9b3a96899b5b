#include "report/labels.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvelle {
namespace {

TEST(Labels, LinesAsAudacityWritesThem)
{
    const struct {
        LabelEvent event;
        int channelCount;
        std::int32_t sampleRate;
        const char* line;
        std::uint32_t channelMask = 0;
    } cases[] = {
        {{1, 44099, 1}, 2, 44100, "0.999977\t1.000000\tR 1 sample\n"},
        // Speakers from the mask: 5.1, 7.1's rear pair, mono centre, top
        // front right, a channel past the mask's.
        {{3, 0, 1}, 6, 48000, "0.000000\t0.000021\tLFE 1 sample\n", 0x3F},
        {{4, 0, 1}, 8, 48000, "0.000000\t0.000021\tLrs 1 sample\n", 0x63F},
        {{0, 0, 1}, 1, 48000, "0.000000\t0.000021\tC 1 sample\n", 0x4},
        {{3, 0, 1}, 4, 48000, "0.000000\t0.000021\tCH4 1 sample\n", 0x3},
        {{1, 0, 1}, 2, 48000, "0.000000\t0.000021\tRtf 1 sample\n", 0x5000},
        {{2, 3680410, 41}, 6, 44100, "83.456009\t83.456939\tCH3 41 samples\n"},
        {{0, 6350400000, 2260}, 1, 176400, "36000.000000\t36000.012812\tCH1 2260 samples\n"},
        {{0, 44100, 3, true}, 2, 44100, "1.000000\t1.000068\tL 3 samples over full scale\n"},
        {{0, 2822399, 1}, 2, 2822400, "1.000000\t1.000000\tL 1 sample\n"}, // 0.9999996 s rounds up
    };
    std::string bytes = "kept\n", expected = bytes;
    for (const auto& label : cases) {
        appendLabel(bytes, label.event, label.channelCount, label.sampleRate, label.channelMask);
        expected += label.line;
    }
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(frameTime(44099, 44100), "00:00:00.999"); // cut, never past the frame
}

TEST(Labels, CheckLines)
{
    const ExistingClipResult fullScale{{7, 5}, {0, 0}, {}, {}, {{ExistingClipKind::fullScale, 1, 3680410, 41}},
                                       {},     {}};
    const ExistingClipResult ceiling{{0}, {1}, 16384.0, -16384.0, {{ExistingClipKind::ceiling, 0, 0, 1}}, {}, {}};
    const ExistingClipResult positive{{0}, {2}, 16384.0, {}, ceiling.longest, {}, {}};
    const ExistingClipResult both{{3, 0}, {0, 2}, 16384.0, -8192.0, fullScale.longest, {}, {}};
    const ExistingClipResult overs{{0}, {0}, {}, {}, {}, {1234}, 73358.0};
    const ExistingClipResult none{{0, 0}, {0, 0}, {}, {}, {}, {}, {}};
    // A hair under full scale: as rounded for the JSON, never "-0.00".
    const ExistingClipResult nearFullScale{{0}, {1}, 32767.0, {}, ceiling.longest, {}, {}};
    const std::string clipped =
        "take.wav: clipped: 12 runs at full scale (L 7, R 5), longest 41 samples in R at 00:01:23.456";
    const std::vector<double> truePeaks = {-1.2, 0.4};
    const struct {
        const ExistingClipResult& clipping;
        std::optional<TruePeakLimit> limit;
        std::vector<std::string> lines;
        std::uint32_t channelMask = 0;
    } cases[] = {
        // clang-format off
        {fullScale, {}, {clipped}},
        {ceiling, {}, {"take.wav: clipped: 1 run at the file's ceiling of -6.02 dBFS (CH1 1), longest 1 sample in CH1 at 00:00:00.000"}},
        {positive, {}, {"take.wav: clipped: 2 runs at the file's positive ceiling of -6.02 dBFS (CH1 2), longest 1 sample in CH1 at 00:00:00.000"}},
        {both, {}, {"take.wav: clipped: 3 runs at full scale (L 3), 2 runs at the file's ceilings of -6.02 dBFS (positive) and -12.04 dBFS (negative) (R 2), longest 41 samples in R at 00:01:23.456"}},
        {overs, {}, {"take.wav: no clipping", "take.wav: overs above full scale: 1234 samples, highest +7.00 dBFS"}},
        {overs, TruePeakLimit{-1, truePeaks}, {"take.wav: overs above full scale: 1234 samples, highest +7.00 dBFS", "take.wav: true peak over the -1.00 dBTP limit: R +0.40 dBTP"}},
        {ceiling, {}, {"take.wav: clipped: 1 run at the file's ceiling of -6.02 dBFS (C 1), longest 1 sample in C at 00:00:00.000"}, 0x4},
        {nearFullScale, {}, {"take.wav: clipped: 1 run at the file's positive ceiling of 0.00 dBFS (CH1 1), longest 1 sample in CH1 at 00:00:00.000"}},
        {none, {}, {"take.wav: no clipping"}},
        {none, TruePeakLimit{-1, truePeaks}, {"take.wav: true peak over the -1.00 dBTP limit: R +0.40 dBTP"}},
        {fullScale, TruePeakLimit{-1.5, truePeaks}, {clipped, "take.wav: true peak over the -1.50 dBTP limit: L -1.20 dBTP, R +0.40 dBTP"}},
        // clang-format on
    };
    for (const auto& check : cases) {
        EXPECT_EQ(checkLines("take.wav", check.clipping, 32768, 44100, check.limit, check.channelMask),
                  check.lines);
    }
}

} // namespace
} // namespace tarvelle
