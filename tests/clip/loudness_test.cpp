#include "clip/loudness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace tarvelle {
namespace {

struct Tone {
    double seconds;
    double amplitudeDbfs;
    double frequency; // Hz; a quarter of the rate with a 45 degree phase puts the peaks between samples
    double phase;
};

TEST(LoudnessMeter, PublishedTestSignals)
{
    // The loudness cases are those of EBU Tech 3341 and 3342 that are sines.
    const struct {
        const char* what;
        int channels;
        std::vector<int> toneChannels;
        std::int32_t sampleRate;
        double fullScale;
        std::vector<Tone> tones;
        double truePeakDbtp;
        std::optional<double> integratedLufs;
        std::optional<double> loudnessRange;
    } cases[] = {
        {"3341 case 1", 2, {0, 1}, 48000, 1.0, {{20, -23, 1000, 0}}, -23, -23, 0},
        {"3341 case 2, 16-bit", 2, {0, 1}, 48000, 32768, {{20, -33, 1000, 0}}, -33, -33, 0},
        {"3342 case 1", 2, {0, 1}, 48000, 1.0, {{20, -20, 1000, 0}, {20, -30, 1000, 0}}, -20, -22.6, 10},
        {"3342 case 2", 2, {0, 1}, 48000, 1.0, {{20, -20, 1000, 0}, {20, -15, 1000, 0}}, -15, -16.8, 5},
        {"peaks between samples, 44.1 kHz", 2, {0, 1}, 44100, 32768, {{0.3, -6, 11025, 45}}, -6, {}, {}},
        {"peaks between samples, 176.4 kHz", 1, {0}, 176400, 1.0, {{0.3, -1, 44100, 45}}, -1, {}, {}},
        {"shorter than one short-term block", 2, {0, 1}, 44100, 1.0, {{2, -23, 1000, 0}}, -23, -23, {}},
        {"silence", 2, {}, 44100, 32768, {{5, -20, 1000, 0}}, -INFINITY, {}, {}},
        {"5.1: the LFE does not count", 6, {3}, 48000, 1.0, {{5, -23, 1000, 0}}, -23, {}, {}},
        {"7.1: a side channel counts as a surround", 8, {6}, 48000, 1.0, {{5, -23, 1000, 0}}, -23, -24.5, 0},
    };
    for (const auto& signal : cases) {
        SCOPED_TRACE(signal.what);
        LoudnessMeter meter(signal.channels, signal.sampleRate);
        std::vector<double> block;
        std::int64_t frame = 0;
        for (const Tone& tone : signal.tones) {
            const double amplitude = std::pow(10.0, tone.amplitudeDbfs / 20.0) * signal.fullScale;
            const auto frames = static_cast<std::int64_t>(tone.seconds * signal.sampleRate);
            for (std::int64_t end = frame + frames; frame < end; ++frame) {
                // An abrupt start rings in any interpolator: a 50 ms fade-in keeps the peaks the tone's own.
                const double fadeIn = std::min(1.0, double(frame) / (0.05 * signal.sampleRate));
                const double value =
                    fadeIn * amplitude *
                    std::sin(2 * std::numbers::pi * tone.frequency * double(frame) / signal.sampleRate +
                             tone.phase * std::numbers::pi / 180);
                block.resize(block.size() + std::size_t(signal.channels));
                for (int channel : signal.toneChannels) {
                    block[block.size() - std::size_t(signal.channels - channel)] =
                        signal.fullScale == 1.0 ? value : std::round(value);
                }
                if (block.size() >= 4410 * std::size_t(signal.channels) || frame + 1 == end) {
                    meter.addFrames(block, signal.fullScale);
                    block.clear();
                }
            }
        }
        const LoudnessResult result = meter.finish();
        ASSERT_EQ(result.truePeakDbtp.size(), std::size_t(signal.channels));
        // A channel without the tone is all zeros.
        for (int channel = 0; channel < signal.channels; ++channel) {
            const bool toned = std::ranges::count(signal.toneChannels, channel) != 0;
            const double peak = result.truePeakDbtp[std::size_t(channel)];
            EXPECT_TRUE(toned ? std::fabs(peak - signal.truePeakDbtp) < 0.1 : peak == -INFINITY)
                << channel << ": " << peak;
        }
        EXPECT_NEAR(std::pow(10.0, result.truePeakDbtpOverall / 20), std::pow(10.0, signal.truePeakDbtp / 20),
                    0.003);
        ASSERT_EQ(result.integratedLufs.has_value(), signal.integratedLufs.has_value());
        ASSERT_EQ(result.loudnessRange.has_value(), signal.loudnessRange.has_value());
        if (signal.integratedLufs) {
            EXPECT_NEAR(*result.integratedLufs, *signal.integratedLufs, 0.1);
        }
        if (signal.loudnessRange) {
            EXPECT_NEAR(*result.loudnessRange, *signal.loudnessRange, 0.1);
        }
    }
}

TEST(LoudnessMeter, RefusesWhatItCannotMeasure)
{
    EXPECT_THROW(LoudnessMeter(0, 44100), std::invalid_argument);
    EXPECT_THROW(LoudnessMeter(2, 0), std::invalid_argument);
    LoudnessMeter meter(2, 44100);
    EXPECT_THROW(meter.addFrames(std::vector<double>(3, 0.0), 1.0), std::invalid_argument);
}

} // namespace
} // namespace tarvelle
