#include "clip/existing_clipping.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace tarvelle {
namespace {

constexpr auto full = ExistingClipKind::fullScale;
constexpr auto top = ExistingClipKind::ceiling;

TEST(ExistingClipDetector, RunsInEveryBlockSize)
{
    const std::vector<double> stereo16 = {32767,  0,      32767,  -32768, 32767, -32768, 0,      1,
                                          -32768, -32767, -32767, 0,      32767, 0,      -32768, 32767};
    const struct {
        ExistingClipFormat format;
        double filePeak;
        std::int64_t minRunLength;
        std::vector<double> interleaved;
        std::vector<ExistingClipRun> runs; // as they end
        ExistingClipResult result;
    } cases[] = {
        // clang-format off
        {{2, 32768, false}, 32768, 3, stereo16, {{full, 0, 0, 3}, {full, 0, 4, 4}}, {{2, 0}, {0, 0}, {}, {{full, 0, 4, 4}}}},
        {{2, 32768, false}, 32768, 1, stereo16, {{full, 0, 0, 3}, {full, 1, 1, 2}, {full, 1, 4, 1}, {full, 0, 4, 4},
         {full, 1, 7, 1}}, {{2, 3}, {0, 0}, {}, {{full, 0, 4, 4}}}},
        {{1, 1.0, true}, 1.5, 2, {0.999, 1.0, -1.5, 0.999, -1.0, -1.0, -1.0}, {{full, 0, 1, 2}, {full, 0, 4, 3}},
         {{2}, {0}, {}, {{full, 0, 4, 3}}}},
        // Turned down: the ceiling, not full scale. Of two longest, the earlier.
        {{2, 32768, false}, 23197, 2, {23197, 23196, -23197, 0, 23197, -23197, 23196, 23197, 0, 23197},
         {{top, 0, 0, 3}, {top, 1, 2, 3}}, {{0, 0}, {1, 1}, 23197, {{top, 0, 0, 3}}}},
        {{1, 32768, false}, 0, 1, {0, 0, 0, 0}, {}, {{0}, {0}, {}, {}}}, // silence has no ceiling
        // clang-format on
    };
    for (const auto& input : cases) {
        const auto channels = std::size_t(input.format.channels);
        for (std::size_t blockFrames : {1, 2, 3, 99}) { // 99: the whole case at once
            SCOPED_TRACE(::testing::Message() << "peak " << input.filePeak << ", blocks of " << blockFrames);
            std::vector<ExistingClipRun> runs;
            ExistingClipDetector detector(input.format, input.filePeak, input.minRunLength,
                                          [&runs](const ExistingClipRun& run) { runs.push_back(run); });
            const std::span<const double> samples(input.interleaved);
            for (std::size_t first = 0, step = blockFrames * channels; first < samples.size(); first += step) {
                detector.addFrames(samples.subspan(first, std::min(step, samples.size() - first)));
            }
            EXPECT_TRUE(detector.finish() == input.result);
            EXPECT_TRUE(runs == input.runs);
        }
    }
    EXPECT_THROW(ExistingClipDetector({2, 32768, false}, 100, 3).addFrames(std::vector<double>(3)),
                 std::invalid_argument);
}

} // namespace
} // namespace tarvelle
