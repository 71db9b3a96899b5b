#include "clip/loudness.hpp"

#include "bench/music_signal.hpp"
#include "loudness/block_energy.hpp"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace tarvelle {
namespace {

constexpr double none = 99; // stands for a measure with no value

struct Tone {
    double seconds, dbfs, hertz, degrees;
};

struct Signal {
    const char* name;
    int channels;
    std::uint32_t channelMask;
    std::int32_t sampleRate;
    double fullScale;
    std::vector<int> toneChannels; // the others are zeros; empty: music-like on every channel
    std::vector<Tone> tones;       // for music: one, its seconds and its gain in dB
    // Published or known values, none where not known; the true peak and the
    // rest are held against libebur128 in every case.
    double integratedLufs, loudnessRange, truePeakDbtp;
};

std::vector<double> tones(const Signal& signal)
{
    const auto channels = std::size_t(signal.channels);
    std::vector<double> samples;
    for (const auto& [seconds, dbfs, hertz, degrees] : signal.tones) {
        for (std::int64_t n = 0; n < std::int64_t(seconds * signal.sampleRate); ++n) {
            const double frame = double(samples.size() / channels);
            // An abrupt start rings in any interpolator: a 50 ms fade-in keeps the peaks the tone's own.
            const double value =
                std::min(1.0, frame / (0.05 * signal.sampleRate)) * std::pow(10.0, dbfs / 20.0) *
                signal.fullScale *
                std::sin(2 * std::numbers::pi * (hertz * frame / signal.sampleRate + degrees / 360));
            samples.resize(samples.size() + channels);
            for (int channel : signal.toneChannels) {
                samples[samples.size() - channels + std::size_t(channel)] =
                    signal.fullScale == 1.0 ? value : std::round(value);
            }
        }
    }
    return samples;
}

// Music in every channel, each a different mix of the generator's two, raised
// by the gain and clipped to 16 bits as a too hot master is.
std::vector<double> music(const Signal& signal)
{
    bench::MusicGenerator generator = bench::makeMusicGenerator(7, signal.sampleRate);
    std::vector<std::int16_t> stereo(2 * std::size_t(signal.tones[0].seconds * signal.sampleRate));
    bench::generateFrames(generator, stereo);
    const double gain = std::pow(10.0, signal.tones[0].dbfs / 20.0);
    std::vector<double> samples;
    for (std::size_t frame = 0; frame < stereo.size() / 2; ++frame) {
        for (int channel = 0; channel < signal.channels; ++channel) {
            const double mix = (stereo[2 * frame] * (channel + 1) + stereo[2 * frame + 1] * (channel % 3)) /
                               (channel + 1 + channel % 3);
            samples.push_back(std::clamp(std::round(mix * gain), -32768.0, 32767.0));
        }
    }
    return samples;
}

struct Reference {
    std::vector<double> truePeakDbtp;
    double integratedLufs = none, loudnessRange = none, maxMomentary = none, maxShortTerm = none;
};

// libebur128 without its histogram, given the same weights and the same scaled
// samples, 100 ms at a time so that every momentary and short-term value is seen.
// A libebur128 meter with our channel weights.
ebur128_state* referenceMeter(const Signal& signal, int mode)
{
    const auto channels = unsigned(signal.channels);
    ebur128_state* state = ebur128_init(channels, unsigned(signal.sampleRate), mode);
    const std::vector<double> weights = channelWeights(signal.channels, signal.channelMask);
    for (unsigned channel = 0; channel < channels; ++channel) {
        ebur128_set_channel(state, channel,
                            weights[channel] == 0  ? EBUR128_UNUSED
                            : weights[channel] > 1 ? EBUR128_Mp110
                                                   : EBUR128_LEFT);
    }
    return state;
}

std::vector<double> scaledSamples(const Signal& signal, const std::vector<double>& samples)
{
    std::vector<double> scaled;
    for (const double sample : samples) {
        scaled.push_back(sample * (1.0 / signal.fullScale));
    }
    return scaled;
}

Reference libebur128(const Signal& signal, const std::vector<double>& samples)
{
    const auto channels = unsigned(signal.channels);
    ebur128_state* state = referenceMeter(signal, EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
    const std::vector<double> scaled = scaledSamples(signal, samples);
    Reference reference;
    const auto loudest = [&](double& loudest, int (*measure)(ebur128_state*, double*)) {
        double value = -HUGE_VAL;
        if (measure(state, &value) == 0 && std::isfinite(value)) {
            loudest = loudest == none ? value : std::max(loudest, value);
        }
    };
    const std::size_t block = std::size_t(signal.sampleRate + 5) / 10 * channels;
    for (std::size_t first = 0; first < scaled.size(); first += block) {
        const std::size_t size = std::min(block, scaled.size() - first);
        ebur128_add_frames_double(state, scaled.data() + first, size / channels);
        if (size == block && first >= 3 * block) {
            loudest(reference.maxMomentary, ebur128_loudness_momentary);
        }
        if (size == block && first >= 29 * block) {
            loudest(reference.maxShortTerm, ebur128_loudness_shortterm);
        }
    }
    for (unsigned channel = 0; channel < channels; ++channel) {
        double peak = 0;
        ebur128_true_peak(state, channel, &peak);
        reference.truePeakDbtp.push_back(20 * std::log10(peak));
    }
    loudest(reference.integratedLufs, ebur128_loudness_global);
    if (reference.integratedLufs != none && scaled.size() >= 30 * block) {
        ebur128_loudness_range(state, &reference.loudnessRange);
    }
    ebur128_destroy(&state);
    return reference;
}

TEST(LoudnessMeter, SignalsAgainstPublishedValuesAndLibebur128)
{
    const Signal signals[] = {
        // clang-format off
        // The gated and ungated parts in the published proportions, shortened.
        {"loudness 1", 2, 0, 48000, 1.0, {0, 1}, {{4, -23, 1000, 0}}, -23, none, none},
        {"loudness 2", 2, 0, 48000, 1.0, {0, 1}, {{4, -33, 1000, 0}}, -33, none, none},
        {"loudness 3", 2, 0, 48000, 1.0, {0, 1}, {{2, -36, 1000, 0}, {12, -23, 1000, 0}, {2, -36, 1000, 0}}, -23, none, none},
        {"loudness 4", 2, 0, 48000, 1.0, {0, 1}, {{1, -72, 1000, 0}, {2, -36, 1000, 0}, {12, -23, 1000, 0}, {2, -36, 1000, 0}, {1, -72, 1000, 0}}, -23, none, none},
        {"loudness 5", 2, 0, 48000, 1.0, {0, 1}, {{10, -26, 1000, 0}, {10.05, -20, 1000, 0}, {10, -26, 1000, 0}}, -23, none, none},
        {"range 1", 2, 0, 48000, 1.0, {0, 1}, {{10, -20, 1000, 0}, {10, -30, 1000, 0}}, none, 10, -20},
        {"range 2", 1, 0, 48000, 1.0, {0}, {{10, -20, 1000, 0}, {10, -15, 1000, 0}}, none, 5, none},
        {"range 3", 1, 0, 48000, 1.0, {0}, {{10, -40, 1000, 0}, {10, -20, 1000, 0}}, none, 20, none},
        {"range 4", 1, 0, 48000, 1.0, {0}, {{20, -50, 1000, 0}, {20, -35, 1000, 0}, {20, -20, 1000, 0}, {20, -35, 1000, 0}, {20, -50, 1000, 0}}, none, 15, none},
        // A quarter of the rate at 45 degrees: every peak between two samples, 3.01 dB over them.
        {"too short", 2, 0, 44100, 32768, {0, 1}, {{0.3, -6, 11025, 45}}, none, none, -6},
        {"under 3 s", 2, 0, 44100, 1.0, {0, 1}, {{2, -23, 1000, 0}}, -23, none, -23},
        {"silence", 1, 0, 48000, 1.0, {}, {{4, -23, 1000, 0}}, none, none, none},
        {"LFE of 5.1", 6, 0x3f, 48000, 1.0, {3}, {{5, -23, 1000, 0}}, none, none, -23},
        {"LFE of 2.1", 3, 0x0b, 48000, 1.0, {2}, {{5, -23, 1000, 0}}, none, none, -23},
        {"side of 7.1", 8, 0, 48000, 1.0, {6}, {{5, -23, 1000, 0}}, -24.5, none, -23},
        {"back centre of 6.1", 7, 0x70f, 48000, 1.0, {4}, {{5, -23, 1000, 0}}, -24.5, none, -23},
        {"no interpolation at 192 kHz", 1, 0, 192000, 1.0, {0}, {{1, -1, 47000, 30}}, none, none, none},
        {"music", 2, 0, 44100, 32768, {}, {{4, 0, 0, 0}}, none, none, none},
        {"music clipped", 1, 0, 44100, 32768, {}, {{4, 8, 0, 0}}, none, none, none},
        {"music at 4x", 2, 0, 176400, 32768, {}, {{1, 3, 0, 0}}, none, none, none},
        {"music in 5.1", 6, 0x60f, 88200, 32768, {}, {{1, 0, 0, 0}}, none, none, none},
        // clang-format on
    };
    for (const Signal& signal : signals) {
        SCOPED_TRACE(signal.name);
        const std::vector<double> samples = signal.tones[0].hertz == 0 ? music(signal) : tones(signal);
        LoudnessMeter meter(signal.channels, signal.sampleRate, signal.channelMask);
        constexpr float floor = 0.25f; // -12 dBTP
        meter.keepBlockTruePeaks(floor);
        for (std::size_t first = 0, step = 4410 * std::size_t(signal.channels); first < samples.size();
             first += step) {
            meter.addFrames(std::span(samples).subspan(first, std::min(step, samples.size() - first)),
                            signal.fullScale);
        }
        const LoudnessResult result = meter.finish();
        const Reference reference = libebur128(signal, samples);

        EXPECT_EQ(result.truePeakDbtp, reference.truePeakDbtp); // to the last bit
        EXPECT_NEAR(result.integratedLufs.value_or(none), reference.integratedLufs, 0.01);
        // libebur128 takes a short-term value each second, we ten times a second:
        // the percentiles of a short file differ by more than the sampling does.
        if (samples.size() >= std::size_t(20 * signal.sampleRate * signal.channels)) {
            EXPECT_NEAR(result.loudnessRange.value_or(none), reference.loudnessRange, 0.1);
        }
        EXPECT_NEAR(result.maxMomentary ? result.maxMomentary->lufs : none, reference.maxMomentary, 0.01);
        EXPECT_NEAR(result.maxShortTerm ? result.maxShortTerm->lufs : none, reference.maxShortTerm, 0.01);
        const auto known = [](double expected, double measured, double tolerance) {
            if (expected != none) {
                EXPECT_NEAR(measured, expected, tolerance);
            }
        };
        known(signal.integratedLufs, result.integratedLufs.value_or(none), 0.1);
        known(signal.loudnessRange, result.loudnessRange.value_or(none), 1);
        known(signal.truePeakDbtp, result.truePeakDbtpOverall, 0.1);
        EXPECT_EQ(result.integratedLufs.has_value(), result.noIntegratedReason.empty());
        EXPECT_EQ(result.loudnessRange.has_value(), result.noRangeReason.empty());

        // Every block, the partial last one too, at least its own samples and the floor; together the whole
        // file's peak where above the floor.
        const auto channels = std::size_t(signal.channels);
        const std::size_t frames = samples.size() / channels, perBlock = std::size_t(signal.sampleRate / 10);
        ASSERT_EQ(result.blockTruePeaks.size(), (frames + perBlock - 1) / perBlock * channels);
        for (std::size_t channel = 0; channel < channels; ++channel) {
            float largest = floor;
            std::int64_t firstBelow = -1; // a frame above its block's peak; one check, not one per sample
            for (std::size_t index = channel; index < samples.size(); index += channels) {
                const float peak = result.blockTruePeaks[index / channels / perBlock * channels + channel];
                if (firstBelow < 0 &&
                    peak < std::max(floor, float(std::fabs(samples[index] * (1.0 / signal.fullScale))))) {
                    firstBelow = std::int64_t(index / channels);
                }
                largest = std::max(largest, peak);
            }
            EXPECT_EQ(firstBelow, -1) << "channel " << channel;
            EXPECT_EQ(largest, std::max(floor, float(std::pow(10.0, result.truePeakDbtp[channel] / 20))));
        }
    }
    EXPECT_THROW(LoudnessMeter(2, 0), std::invalid_argument);
}

// Files as one programme, as album loudness is measured: every file's gating
// blocks gated together, whatever its rate and layout.
TEST(GatedLoudness, FilesAsOneProgrammeAgainstLibebur128)
{
    const Signal files[] = {
        // clang-format off
        {"loud tone", 2, 0, 48000, 1.0, {0, 1}, {{6, -14, 1000, 0}}, none, none, none},
        {"quiet tone after silence", 1, 0, 44100, 1.0, {0}, {{3, -80, 1000, 0}, {5, -26, 500, 0}}, none, none, none},
        {"music in 5.1", 6, 0x60f, 88200, 32768, {}, {{4, -6, 0, 0}}, none, none, none},
        {"under the relative gate", 2, 0, 48000, 1.0, {0, 1}, {{5, -45, 1000, 0}}, none, none, none},
        // clang-format on
    };
    std::vector<double> blocks;
    std::vector<ebur128_state*> references;
    for (const Signal& file : files) {
        const std::vector<double> samples = file.tones[0].hertz == 0 ? music(file) : tones(file);
        LoudnessMeter meter(file.channels, file.sampleRate, file.channelMask);
        meter.addFrames(samples, file.fullScale);
        const std::vector<double> fileBlocks = gatingBlocks(meter.finish().blockEnergies);
        blocks.insert(blocks.end(), fileBlocks.begin(), fileBlocks.end());
        references.push_back(referenceMeter(file, EBUR128_MODE_I));
        const std::vector<double> scaled = scaledSamples(file, samples);
        ebur128_add_frames_double(references.back(), scaled.data(), scaled.size() / std::size_t(file.channels));
    }
    double reference = 0;
    ASSERT_EQ(ebur128_loudness_global_multiple(references.data(), references.size(), &reference), 0);
    EXPECT_NEAR(gatedLoudness(blocks).value_or(none), reference, 0.01);
    for (ebur128_state*& state : references) {
        ebur128_destroy(&state);
    }
    EXPECT_EQ(gatedLoudness({}), std::nullopt);
}

} // namespace
} // namespace tarvelle
