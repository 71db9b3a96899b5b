// True peak, inter-sample peak, integrated loudness, loudness range and the
// loudest moments of a whole file, as ITU-R BS.1770-4 and EBU R 128 define
// them, measured block by block while the file streams past.
#pragma once

#include "loudness/gating.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvelle {

struct LoudnessResult {
    std::vector<double> truePeakDbtp; // per channel; -inf for a channel of zeros
    double truePeakDbtpOverall = 0.0; // the largest of them
    // The peak a near-ideal reconstruction reaches (dBFS), all channels.
    double interSamplePeakDbfs = 0.0;
    std::optional<double> integratedLufs;
    std::string noIntegratedReason; // why there is none
    std::optional<double> loudnessRange;
    std::string noRangeReason;
    std::optional<LoudestMoment> maxMomentary; // 400 ms
    std::optional<LoudestMoment> maxShortTerm; // 3 s
    std::optional<double> peakToLoudnessRatio; // true peak over integrated loudness, LU
    // The weighted mean square of every 100 ms block, for loudness over time.
    std::vector<double> blockEnergies;
    double secondsPerBlock = 0.1;
    // Where kept: the true peak (linear) of every 100 ms block, the last one
    // partial, [block * channels + channel]; the floor asked for where lower.
    std::vector<float> blockTruePeaks;
};

// Channels are weighted by the speaker the WAV channel mask names for each
// (channelWeights in loudness/block_energy.hpp).
class LoudnessMeter {
public:
    // channels 1 to 64, sampleRate 16 Hz to 2.8224 MHz, else
    // std::invalid_argument. channelMask 0: the file names no speakers.
    LoudnessMeter(int channels, std::int32_t sampleRate, std::uint32_t channelMask = 0);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Whole frames of samples in the file's units: fullScale is 2^(bits-1)
    // for integers and 1.0 for float. A partial frame or a fullScale not above
    // 0 is std::invalid_argument, running out of memory std::bad_alloc.
    void addFrames(std::span<const double> interleaved, double fullScale);
    // Before the first frames: keep blockTruePeaks too. Only true peaks above
    // floor (linear) are interpolated: at 0, about the cost of the true peak again.
    void keepBlockTruePeaks(double floor);

    LoudnessResult finish() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace tarvelle
