// Time per frame of one clipping pass over both channels: the fused
// level count and clipSamples against the per-index reference loop they replace, on
// music-like input that never clips, clips as deep as the 18 dB level, and
// clips at every sample.
#include "bench/music_signal.hpp"
#include "clip/clip_pass.hpp"
#include "clip/clip_stats.hpp"
#include "clip/peak_clip.hpp"
#include "support/clip_reference.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t framesPerChannel = std::size_t{1} << 20;
constexpr std::int32_t sampleRate = 176400;
constexpr std::int16_t rateFactor = 4;
constexpr int deepestClipLevel = 5; // 18 dB below the peak

enum class ClipCase { NeverClips, EighteenDbBelowPeak, EverySample };

struct PassInput {
    std::vector<std::int16_t> interleaved; // what the program holds
    std::vector<std::int16_t> leftSamples; // what the reference loop reads
    std::vector<std::int16_t> rightSamples;
    std::int16_t clipThreshold = 0;
};

PassInput makePassInput(ClipCase clipCase)
{
    std::vector<std::int16_t> interleaved(2 * framesPerChannel);
    tarvelle::bench::MusicGenerator generator = tarvelle::bench::makeMusicGenerator(1, sampleRate);
    tarvelle::bench::generateFrames(generator, interleaved);
    const std::int32_t peakLevel = tarvelle::findPeak(interleaved);

    PassInput input;
    input.leftSamples.resize(framesPerChannel);
    input.rightSamples.resize(framesPerChannel);
    for (std::size_t frame = 0; frame < framesPerChannel; ++frame) {
        std::int16_t left = interleaved[2 * frame];
        std::int16_t right = interleaved[2 * frame + 1];
        if (clipCase == ClipCase::EverySample) {
            // Threshold 0 clips every sample that is not 0 itself.
            left = left == 0 ? std::int16_t{1} : left;
            right = right == 0 ? std::int16_t{-1} : right;
        }
        interleaved[2 * frame] = left;
        interleaved[2 * frame + 1] = right;
        input.leftSamples[frame] = left;
        input.rightSamples[frame] = right;
    }
    input.interleaved = std::move(interleaved);
    switch (clipCase) {
    case ClipCase::NeverClips:
        // A magnitude equal to the threshold passes; the generator never
        // writes -32768, so the peak fits.
        input.clipThreshold = static_cast<std::int16_t>(peakLevel);
        break;
    case ClipCase::EighteenDbBelowPeak:
        input.clipThreshold = static_cast<std::int16_t>(
            tarvelle::thresholdForLevel(tarvelle::SampleFormat{}, peakLevel, deepestClipLevel));
        break;
    case ClipCase::EverySample:
        input.clipThreshold = 0;
        break;
    }
    return input;
}

// Whether the pass clipped as much as its case promises; a benchmark whose
// input drifted away from its name would measure the wrong thing.
bool clipsAsNamed(ClipCase clipCase, const tarvelle::ChannelClipStats& left,
                  const tarvelle::ChannelClipStats& right)
{
    const std::int64_t clipped = std::int64_t{left.clippedSamples} + right.clippedSamples;
    const auto allSamples = static_cast<std::int64_t>(2 * framesPerChannel);
    switch (clipCase) {
    case ClipCase::NeverClips:
        return clipped == 0;
    case ClipCase::EighteenDbBelowPeak:
        return clipped > allSamples / 10 && clipped < allSamples / 2;
    case ClipCase::EverySample:
        return clipped == allSamples;
    }
    return false;
}

bool sameStats(const tarvelle::ChannelClipStats& one, const tarvelle::ChannelClipStats& other)
{
    return one.clippedSamples == other.clippedSamples && one.clipEvents == other.clipEvents &&
           one.eventLengthBins == other.eventLengthBins;
}

struct PassOutput {
    std::vector<std::int16_t> interleaved = std::vector<std::int16_t>(2 * framesPerChannel);
    tarvelle::ChannelClipStats left;
    tarvelle::ChannelClipStats right;
};

void runFusedPass(const PassInput& input, PassOutput& output)
{
    tarvelle::LevelCount count = tarvelle::startLevelCount(input.clipThreshold, rateFactor);
    tarvelle::countSamples(count, input.interleaved);
    tarvelle::finishLevelCount(count);
    output.left = count.channels[0];
    output.right = count.channels[1];
    tarvelle::clipSamples(input.interleaved, input.clipThreshold, output.interleaved);
}

// Clip and count index by index with the channels apart, then interleave.
void runReferencePass(const PassInput& input, PassOutput& output)
{
    tarvelle::testing::ReferencePass pass =
        tarvelle::testing::referencePass(input.leftSamples, input.rightSamples, input.clipThreshold, rateFactor);
    output.interleaved = std::move(pass.interleaved);
    output.left = pass.left;
    output.right = pass.right;
}

void reportPerFrame(benchmark::State& state)
{
    const auto frames = static_cast<double>(framesPerChannel);
    // Inverted iteration-invariant rate: seconds per frame, shown in ns.
    state.counters["time_per_frame"] =
        benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(framesPerChannel));
}

template <void (*runPass)(const PassInput&, PassOutput&)>
void measurePass(benchmark::State& state, ClipCase clipCase)
{
    const PassInput input = makePassInput(clipCase);
    PassOutput output;
    PassOutput reference;
    runPass(input, output);
    runReferencePass(input, reference);
    if (!clipsAsNamed(clipCase, reference.left, reference.right)) {
        state.SkipWithError("the input does not clip as the case is named");
        return;
    }
    if (!sameStats(output.left, reference.left) || !sameStats(output.right, reference.right) ||
        output.interleaved != reference.interleaved) {
        state.SkipWithError("the fused pass disagrees with the reference loop");
        return;
    }
    for (auto iteration : state) {
        runPass(input, output);
        benchmark::DoNotOptimize(output.interleaved.data());
        benchmark::DoNotOptimize(output.left);
        benchmark::DoNotOptimize(output.right);
        benchmark::ClobberMemory();
    }
    reportPerFrame(state);
}

void fusedPass(benchmark::State& state, ClipCase clipCase)
{
    measurePass<runFusedPass>(state, clipCase);
}

// For comparison only: the per-index reference loop.
void referencePerIndexLoop(benchmark::State& state, ClipCase clipCase)
{
    measurePass<runReferencePass>(state, clipCase);
}

// The reports-only count: all six levels of the music input, in one sweep
// against six sweeps of countSamples. Per frame of the input, not per level.
enum class SixLevelWay { OneSweep, SixSweeps };

void countAllLevels(benchmark::State& state, SixLevelWay way)
{
    const PassInput input = makePassInput(ClipCase::EighteenDbBelowPeak);
    const std::int32_t peakLevel = tarvelle::findPeak(input.interleaved);
    const auto countSeparately = [&](std::array<tarvelle::ChannelClipStats, 12>& stats) {
        for (std::size_t level = 0; level < 6; ++level) {
            tarvelle::LevelCount count =
                tarvelle::startLevelCount(static_cast<std::int16_t>(tarvelle::thresholdForLevel(
                                              tarvelle::SampleFormat{}, peakLevel, static_cast<int>(level))),
                                          rateFactor);
            tarvelle::countSamples(count, input.interleaved);
            tarvelle::finishLevelCount(count);
            stats[2 * level] = count.channels[0];
            stats[2 * level + 1] = count.channels[1];
        }
    };
    const auto countSix = [&](std::array<tarvelle::ChannelClipStats, 12>& stats) {
        if (way == SixLevelWay::OneSweep) {
            tarvelle::SixLevelCount count = tarvelle::startSixLevelCount(peakLevel, rateFactor);
            tarvelle::countSixLevels(count, input.interleaved);
            tarvelle::finishSixLevelCount(count);
            for (std::size_t level = 0; level < 6; ++level) {
                stats[2 * level] = count.levels[level].channels[0];
                stats[2 * level + 1] = count.levels[level].channels[1];
            }
            return;
        }
        countSeparately(stats);
    };
    std::array<tarvelle::ChannelClipStats, 12> stats;
    std::array<tarvelle::ChannelClipStats, 12> separately;
    countSix(stats);
    countSeparately(separately);
    for (std::size_t index = 0; index < stats.size(); ++index) {
        if (!sameStats(stats[index], separately[index])) {
            state.SkipWithError("the six-level count disagrees with six separate counts");
            return;
        }
    }
    for (auto iteration : state) {
        countSix(stats);
        benchmark::DoNotOptimize(stats);
        benchmark::ClobberMemory();
    }
    reportPerFrame(state);
}

BENCHMARK_CAPTURE(countAllLevels, one_sweep, SixLevelWay::OneSweep)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(countAllLevels, six_sweeps, SixLevelWay::SixSweeps)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fusedPass, never_clips, ClipCase::NeverClips)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fusedPass, clips_18dB_below_peak, ClipCase::EighteenDbBelowPeak)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fusedPass, clips_every_sample, ClipCase::EverySample)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(referencePerIndexLoop, never_clips, ClipCase::NeverClips)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(referencePerIndexLoop, clips_18dB_below_peak, ClipCase::EighteenDbBelowPeak)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(referencePerIndexLoop, clips_every_sample, ClipCase::EverySample)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
