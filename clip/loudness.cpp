#include "clip/loudness.hpp"

#include "loudness/block_energy.hpp"
#include "loudness/interpolators.hpp"
#include "loudness/peak_follower.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>

namespace tarvelle {

namespace {

constexpr int maxChannels = 64;
constexpr std::int32_t minSampleRate = 16;
constexpr std::int32_t maxSampleRate = 2822400;
constexpr std::size_t momentaryBlocks = 4;
constexpr std::size_t shortTermBlocks = 30;

double decibels(double ratio)
{
    return ratio > 0.0 ? 20.0 * std::log10(ratio) : -std::numeric_limits<double>::infinity();
}

// Above 192 kHz the samples are dense enough that the true peak is the
// largest of them: a follower without phases measures just that.
PeakFollower truePeakFollower(int channels, std::int32_t sampleRate)
{
    return PeakFollower(truePeakFilter(sampleRate).value_or(PolyphaseFilter{}), channels, true);
}

} // namespace

struct LoudnessMeter::State {
    State(int channels, std::int32_t sampleRate, std::uint32_t channelMask)
        : channels(static_cast<std::size_t>(channels)), sampleRate(sampleRate),
          energy(channelWeights(channels, channelMask), sampleRate),
          truePeak(truePeakFollower(channels, sampleRate)),
          interSamplePeak(reconstructionFilter(), channels, false)
    {
    }

    std::size_t channels;
    std::int32_t sampleRate;
    BlockEnergy energy;
    PeakFollower truePeak;
    PeakFollower interSamplePeak;
    std::vector<double> scaled;            // reused from block to block
    std::optional<PeakFollower> blockPeak; // restarted at each block
    double blockPeakFloor = 0.0;
    std::int64_t framesInPeakBlock = 0;
    std::vector<float> blockTruePeaks;

    void addBlockPeaks(std::span<const double> interleaved);
    void closePeakBlock(std::vector<float>& into) const;
};

void LoudnessMeter::State::addBlockPeaks(std::span<const double> interleaved)
{
    const std::int64_t framesPerBlock = energy.framesPerBlock();
    while (!interleaved.empty()) {
        const auto frames =
            std::min(static_cast<std::size_t>(framesPerBlock - framesInPeakBlock), interleaved.size() / channels);
        blockPeak->add(interleaved.first(frames * channels));
        interleaved = interleaved.subspan(frames * channels);
        framesInPeakBlock += static_cast<std::int64_t>(frames);
        if (framesInPeakBlock == framesPerBlock) {
            closePeakBlock(blockTruePeaks);
            blockPeak->restartPeaks(blockPeakFloor);
            framesInPeakBlock = 0;
        }
    }
}

void LoudnessMeter::State::closePeakBlock(std::vector<float>& into) const
{
    for (const double peak : blockPeak->peaks()) {
        into.push_back(static_cast<float>(peak));
    }
}

LoudnessMeter::LoudnessMeter(int channels, std::int32_t sampleRate, std::uint32_t channelMask)
{
    if (channels < 1 || channels > maxChannels || sampleRate < minSampleRate || sampleRate > maxSampleRate) {
        throw std::invalid_argument("loudness: unsupported channel count or sample rate");
    }
    state_ = std::make_unique<State>(channels, sampleRate, channelMask);
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::keepBlockTruePeaks(double floor)
{
    state_->blockPeak.emplace(truePeakFollower(static_cast<int>(state_->channels), state_->sampleRate));
    state_->blockPeakFloor = floor;
    state_->blockPeak->restartPeaks(floor);
}

void LoudnessMeter::addFrames(std::span<const double> interleaved, double fullScale)
{
    if (interleaved.size() % state_->channels != 0 || !(fullScale > 0.0)) {
        throw std::invalid_argument("loudness: a partial frame or no full scale");
    }
    // A slice at a time, so that the three measures find it in the cache.
    const std::size_t sliceSamples = std::max<std::size_t>(2048 / state_->channels, 256) * state_->channels;
    std::vector<double>& scaled = state_->scaled;
    const double scale = 1.0 / fullScale;
    for (std::size_t first = 0; first < interleaved.size(); first += sliceSamples) {
        const auto slice = interleaved.subspan(first, std::min(sliceSamples, interleaved.size() - first));
        scaled.resize(slice.size());
        std::transform(slice.begin(), slice.end(), scaled.begin(),
                       [scale](double sample) { return sample * scale; });
        state_->energy.add(scaled);
        state_->truePeak.add(scaled);
        state_->interSamplePeak.add(scaled);
        if (state_->blockPeak) {
            state_->addBlockPeaks(scaled);
        }
    }
}

LoudnessResult LoudnessMeter::finish() const
{
    LoudnessResult result;
    result.truePeakDbtpOverall = -std::numeric_limits<double>::infinity();
    for (const double peak : state_->truePeak.peaks()) {
        result.truePeakDbtp.push_back(decibels(peak));
        result.truePeakDbtpOverall = std::max(result.truePeakDbtpOverall, result.truePeakDbtp.back());
    }
    const std::vector<double> reconstructed = state_->interSamplePeak.peaks();
    result.interSamplePeakDbfs = decibels(*std::max_element(reconstructed.begin(), reconstructed.end()));

    if (state_->blockPeak) {
        result.blockTruePeaks = state_->blockTruePeaks;
        if (state_->framesInPeakBlock > 0) {
            state_->closePeakBlock(result.blockTruePeaks);
        }
    }
    result.blockEnergies = state_->energy.blocks();
    result.secondsPerBlock =
        static_cast<double>(state_->energy.framesPerBlock()) / static_cast<double>(state_->sampleRate);
    const GatedLoudness gated = gateBlocks(result.blockEnergies, result.secondsPerBlock);
    result.integratedLufs = gated.integratedLufs;
    result.loudnessRange = gated.loudnessRange;
    result.maxMomentary = gated.maxMomentary;
    result.maxShortTerm = gated.maxShortTerm;
    const std::size_t blocks = result.blockEnergies.size();
    if (blocks < momentaryBlocks) {
        result.noIntegratedReason = result.noRangeReason = "too short to measure";
    } else if (!result.integratedLufs) {
        result.noIntegratedReason = result.noRangeReason = "too quiet to measure";
    } else if (blocks < shortTermBlocks) {
        result.noRangeReason = "shorter than 3 s";
    } else if (!result.loudnessRange) {
        result.noRangeReason = "too quiet to measure";
    }
    if (result.integratedLufs && std::isfinite(result.truePeakDbtpOverall)) {
        result.peakToLoudnessRatio = result.truePeakDbtpOverall - *result.integratedLufs;
    }
    return result;
}

} // namespace tarvelle
