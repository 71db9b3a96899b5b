#include "clip/existing_clipping.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace tarvelle {

// Found by GoogleTest beside the type.
void PrintTo(const ExistingClipRun& run, std::ostream* out)
{
    *out << (run.kind == ExistingClipKind::ceiling ? "ceiling" : "full scale") << " channel " << run.channel
         << " at " << run.startFrame << " for " << run.length;
}

namespace {

using Kind = ExistingClipKind;

TEST(ExistingClipDetector, RunsInEveryBlockSize)
{
    constexpr double i16 = 32768;
    constexpr double i24 = 8388608;
    const struct {
        const char* what;
        ExistingClipFormat format;
        double filePeak;
        std::int64_t minRunLength;
        std::vector<double> interleaved;
        std::vector<ExistingClipRun> runs; // in the order they end; the longest is the first listed of its length
        std::optional<double> ceiling;
    } cases[] = {
        {"16-bit stereo, both polarities, a run open at the end",
         {2, i16, false},
         i16,
         3,
         {32767, 0, 32767, -32768, 32767, -32768, 0, 1, -32768, -32767, -32767, 0, 32767, 0, -32768, 32767},
         {{Kind::fullScale, 0, 0, 3}, {Kind::fullScale, 0, 4, 4}},
         {}},
        {"the same, every sample counts",
         {2, i16, false},
         i16,
         1,
         {32767, 0, 32767, -32768, 32767, -32768, 0, 1, -32768, -32767, -32767, 0, 32767, 0, -32768, 32767},
         {{Kind::fullScale, 0, 0, 3},
          {Kind::fullScale, 1, 1, 2},
          {Kind::fullScale, 1, 4, 1},
          {Kind::fullScale, 0, 4, 4},
          {Kind::fullScale, 1, 7, 1}},
         {}},
        {"24-bit mono: one below the limit is not at it",
         {1, i24, false},
         8388607,
         2,
         {8388606, 8388607, 8388607, 8388606, -8388608, -8388607, 5},
         {{Kind::fullScale, 0, 1, 2}, {Kind::fullScale, 0, 4, 2}},
         {}},
        {"float: 1.0 and over",
         {1, 1.0, true},
         1.5,
         2,
         {0.999, 1.0, -1.5, 0.999, -1.0, -1.0, -1.0},
         {{Kind::fullScale, 0, 1, 2}, {Kind::fullScale, 0, 4, 3}},
         {}},
        {"16-bit turned down: the ceiling, not full scale",
         {2, i16, false},
         23197,
         2,
         {23197, 23196, -23197, 0, 23197, -23197, 23196, 23197, 0, 23197},
         {{Kind::ceiling, 0, 0, 3}, {Kind::ceiling, 1, 2, 3}},
         23197},
        {"float turned down",
         {1, 1.0, true},
         0.5,
         3,
         {0.5, -0.5, 0.49, 0.5, -0.5, -0.5},
         {{Kind::ceiling, 0, 3, 3}},
         0.5},
        {"silence has no ceiling", {1, i16, false}, 0, 1, {0, 0, 0, 0}, {}, {}},
    };
    for (const auto& input : cases) {
        const auto channels = std::size_t(input.format.channels);
        for (std::size_t blockFrames :
             {std::size_t{1}, std::size_t{2}, std::size_t{3}, input.interleaved.size()}) {
            SCOPED_TRACE(std::string(input.what) + ", blocks of " + std::to_string(blockFrames));
            std::vector<ExistingClipRun> runs;
            ExistingClipDetector detector(input.format, input.filePeak, input.minRunLength,
                                          [&runs](const ExistingClipRun& run) { runs.push_back(run); });
            const std::span<const double> samples(input.interleaved);
            for (std::size_t first = 0; first < samples.size(); first += blockFrames * channels) {
                detector.addFrames(
                    samples.subspan(first, std::min(blockFrames * channels, samples.size() - first)));
            }
            const ExistingClipResult result = detector.finish();
            EXPECT_EQ(runs, input.runs);
            EXPECT_EQ(result.ceiling, input.ceiling);
            std::vector<std::int64_t> fullScaleRuns(channels), ceilingRuns(channels);
            std::optional<ExistingClipRun> longest;
            for (const ExistingClipRun& run : input.runs) {
                ++(run.kind == Kind::ceiling ? ceilingRuns : fullScaleRuns)[std::size_t(run.channel)];
                longest = longest && longest->length >= run.length ? longest : run;
            }
            EXPECT_EQ(result.fullScaleRuns, fullScaleRuns);
            EXPECT_EQ(result.ceilingRuns, ceilingRuns);
            EXPECT_EQ(result.longest, longest);
        }
    }
}

TEST(ExistingClipDetector, RefusesWhatItCannotCheck)
{
    EXPECT_THROW(ExistingClipDetector({2, 32768, false}, 100, 0), std::invalid_argument);
    EXPECT_THROW(ExistingClipDetector({0, 32768, false}, 100, 3), std::invalid_argument);
    ExistingClipDetector detector({2, 32768, false}, 100, 3);
    EXPECT_THROW(detector.addFrames(std::vector<double>(3, 0.0)), std::invalid_argument);
}

} // namespace
} // namespace tarvelle
