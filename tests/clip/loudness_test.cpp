#include "clip/loudness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace tarvelle {
namespace {

TEST(LoudnessMeter, PublishedTestSignals)
{
    const struct {
        int channels;
        std::vector<int> toneChannels; // the others are zeros
        std::int32_t sampleRate;
        double fullScale;
        std::vector<std::array<double, 4>> tones; // seconds, dBFS, Hz, phase in degrees
        double truePeakDbtp;
        std::optional<double> integratedLufs, loudnessRange;
    } cases[] = {
        // clang-format off
        // EBU Tech 3341 case 1, Tech 3342 case 1.
        {2, {0, 1}, 48000, 1.0, {{20, -23, 1000, 0}}, -23, -23, 0},
        {2, {0, 1}, 48000, 1.0, {{20, -20, 1000, 0}, {20, -30, 1000, 0}}, -20, -22.6, 10},
        // A quarter of the rate at 45 degrees: every peak between two samples, 3.01 dB over them.
        {2, {0, 1}, 44100, 32768, {{0.3, -6, 11025, 45}}, -6, {}, {}},
        {2, {0, 1}, 44100, 1.0, {{2, -23, 1000, 0}}, -23, -23, {}}, // shorter than a short-term block
        {6, {3}, 48000, 1.0, {{5, -23, 1000, 0}}, -23, {}, {}}, // the LFE of 5.1 is not heard
        {8, {6}, 48000, 1.0, {{5, -23, 1000, 0}}, -23, -24.5, 0}, // a side channel of 7.1 weighs 1.41
        // clang-format on
    };
    for (const auto& signal : cases) {
        SCOPED_TRACE(::testing::Message() << signal.channels << " channels at " << signal.tones.front()[2]);
        const auto channels = std::size_t(signal.channels);
        std::vector<double> samples;
        for (const auto& [seconds, dbfs, frequency, degrees] : signal.tones) {
            const double amplitude = std::pow(10.0, dbfs / 20.0) * signal.fullScale;
            for (std::int64_t n = 0; n < std::int64_t(seconds * signal.sampleRate); ++n) {
                const double frame = double(samples.size() / channels);
                // An abrupt start rings in any interpolator: a 50 ms fade-in keeps the peaks the tone's own.
                const double value = std::min(1.0, frame / (0.05 * signal.sampleRate)) * amplitude *
                                     std::sin(2 * std::numbers::pi * frequency * frame / signal.sampleRate +
                                              degrees * std::numbers::pi / 180);
                samples.resize(samples.size() + channels);
                for (int channel : signal.toneChannels) {
                    samples[samples.size() - channels + std::size_t(channel)] =
                        signal.fullScale == 1.0 ? value : std::round(value);
                }
            }
        }
        LoudnessMeter meter(signal.channels, signal.sampleRate);
        for (std::size_t first = 0, step = 4410 * channels; first < samples.size(); first += step) {
            meter.addFrames(std::span(samples).subspan(first, std::min(step, samples.size() - first)),
                            signal.fullScale);
        }
        const LoudnessResult result = meter.finish();
        EXPECT_NEAR(result.truePeakDbtpOverall, signal.truePeakDbtp, 0.1);
        EXPECT_EQ(std::ranges::count(result.truePeakDbtp, -INFINITY),
                  signal.channels - std::ssize(signal.toneChannels));
        EXPECT_NEAR(result.integratedLufs.value_or(99), signal.integratedLufs.value_or(99), 0.1); // 99: none
        EXPECT_NEAR(result.loudnessRange.value_or(99), signal.loudnessRange.value_or(99), 0.1);
    }
    EXPECT_THROW(LoudnessMeter(2, 0), std::invalid_argument); // and no crash freeing the meter never made
}

} // namespace
} // namespace tarvelle
