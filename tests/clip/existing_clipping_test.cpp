#include "clip/existing_clipping.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <tuple>
#include <vector>

namespace tarvelle {
namespace {

constexpr auto full = ExistingClipKind::fullScale;
constexpr auto top = ExistingClipKind::ceiling;
constexpr auto over = ExistingClipKind::over;

TEST(ExistingClipDetector, RunsInEveryBlockSize)
{
    const std::vector<double> stereo16 = {32767,  0,      32767,  -32768, 32767, -32768, 0,      1,
                                          -32768, -32767, -32767, 0,      32767, 0,      -32768, 32767};
    // Stretches of one value, taken at once: silence before a short pile-up, and a plateau.
    std::vector<double> flat(600, 2.0), rising(256);
    flat.insert(flat.end(), {1, 3});
    flat.resize(2102, 9000.0);
    std::iota(rising.begin(), rising.end(), 1.0);
    rising.resize(556, 9000.0);
    const struct {
        ExistingClipFormat format;
        std::int64_t minRunLength;
        std::vector<double> interleaved;
        std::vector<ExistingClipRun> runs; // as the sink gets them
        ExistingClipResult result;
    } cases[] = {
        // clang-format off
        {{2, 32768, false}, 3, stereo16, {{full, 0, 0, 3}, {full, 0, 4, 4}}, {{2, 0}, {0, 0}, {}, {}, {{full, 0, 4, 4}}, {}, {}}},
        {{2, 32768, false}, 1, stereo16, {{full, 0, 0, 3}, {full, 1, 1, 2}, {full, 1, 4, 1}, {full, 0, 4, 4},
         {full, 1, 7, 1}}, {{2, 3}, {0, 0}, {}, {}, {{full, 0, 4, 4}}, {}, {}}},
        // Float: flat tops of equal values from 16-bit full scale on, two at
        // least above 1.0; unequal values near full scale and lone samples
        // over it are no flat tops, and the samples over it are overs.
        {{1, 1.0, true}, 3, {0.5, 32767 / 32768.0, 32767 / 32768.0, 32767 / 32768.0, 0.2, -1.0, -1.0, -1.0, 0.99998, 0.99999, 0.99997,
                             1.2, 1.2, 1.2, 1.3, 1.4, 1.4, 0.5, 1.0, -1.5, 0.999},
         {{full, 0, 1, 3}, {full, 0, 5, 3}, {full, 0, 11, 3}, {over, 0, 14, 3}, {over, 0, 19, 1}},
         {{3}, {0}, {}, {}, {{full, 0, 1, 3}}, {4}, 1.5}},
        {{1, 1.0, true}, 1, {1.0, -1.5, -1.5, 1.7, 0.0}, {{full, 0, 0, 1}, {full, 0, 1, 2}, {over, 0, 3, 1}},
         {{2}, {0}, {}, {}, {{full, 0, 1, 2}}, {1}, 1.7}},
        // Runs at -6 are dropped when -7 turns out to be the extreme.
        {{1, 32768, false}, 3, {-6, -6, -6, 2, -7, -7, -7, -7, 0, -7, -7, -7, -7, 1, -7, -7, -7, -7},
         {{top, 0, 4, 4}, {top, 0, 9, 4}, {top, 0, 14, 4}}, {{0}, {3}, {}, -7.0, {{top, 0, 4, 4}}, {}, {}}},
        {{1, 32768, false}, 3, flat, {}, {{0}, {0}, {}, {}, {}, {}, {}}},
        {{1, 32768, false}, 3, rising, {{top, 0, 256, 300}}, {{0}, {1}, 9000.0, {}, {{top, 0, 256, 300}}, {}, {}}},
        // A constant has no values inside to pile up against.
        {{1, 32768, false}, 1, {5, 5, 5, 5}, {}, {{0}, {0}, {}, {}, {}, {}, {}}},
        // clang-format on
    };
    for (const auto& input : cases) {
        const auto channels = std::size_t(input.format.channels);
        for (std::size_t blockFrames : {1, 2, 3, 999}) { // 999: the whole case at once
            SCOPED_TRACE(::testing::Message() << "case " << &input - cases << ", blocks of " << blockFrames);
            std::vector<ExistingClipRun> runs;
            ExistingClipDetector detector(input.format, input.minRunLength,
                                          [&runs](const ExistingClipRun& run) { runs.push_back(run); });
            const std::span<const double> samples(input.interleaved);
            for (std::size_t first = 0, step = blockFrames * channels; first < samples.size(); first += step) {
                detector.addFrames(samples.subspan(first, std::min(step, samples.size() - first)));
            }
            EXPECT_TRUE(detector.finish() == input.result);
            EXPECT_TRUE(runs == input.runs);
        }
    }
    EXPECT_THROW(ExistingClipDetector({2, 32768, false}, 3).addFrames(std::vector<double>(3)),
                 std::invalid_argument);
}

// A long file of flat tops at its ceiling: every run counted, a bounded
// number of them kept for the sink; 16-bit blocks long enough to be skipped.
TEST(ExistingClipDetector, CeilingRunsPastTheBoundAreCounted)
{
    constexpr std::int64_t runCount = 40000;
    std::vector<std::int16_t> samples;
    for (std::int64_t run = 0; run < runCount; ++run) {
        samples.insert(samples.end(), {-3, -2, -1, 0, 1, 2, 3, 9000, 9000, 9000, 9000, 9000, 9000});
    }
    std::int64_t handedOn = 0;
    ExistingClipDetector detector({1, 32768, false}, 3, [&handedOn](const ExistingClipRun&) { ++handedOn; });
    detector.addFrames(std::span<const std::int16_t>(samples));
    const ExistingClipResult result = detector.finish();
    const std::int64_t listed = ExistingClipDetector::maxListedCeilingRuns / 2;
    EXPECT_EQ(std::tuple(result.ceilingRuns[0], handedOn, result.unlistedCeilingRuns, *result.positiveCeiling),
              std::tuple(runCount, listed, runCount - listed, 9000.0));
}

} // namespace
} // namespace tarvelle
