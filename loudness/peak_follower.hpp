// The largest magnitude an oversampling FIR interpolator reaches, per channel,
// computed only where it can raise the maximum so far.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace tarvelle {

// One polyphase interpolator: for each output phase, taps as (delay in input
// frames, coefficient), applied in the order given: by increasing delay.
struct PolyphaseFilter {
    struct Tap {
        int delay;
        double coefficient;
    };
    std::vector<std::vector<Tap>> phases;
    // Every gridStep-th phase is computed for every frame, the others only
    // where that grid nears the maximum (see PeakFollower::refine).
    std::size_t gridStep = 1;
    std::size_t outputDelay = 0; // frames the output lies behind the newest input
};

class PeakFollower {
public:
    // roundToFloat: the input and every output rounded to float, denormals
    // flushed to zero, as in a meter that interpolates in float.
    PeakFollower(PolyphaseFilter filter, int channels, bool roundToFloat);

    // Interleaved samples scaled to full scale 1.0, whole frames.
    void add(std::span<const double> interleaved);

    // Per channel: the larger of the largest sample and the largest
    // interpolated value (linear).
    std::vector<double> peaks() const;
    // Peaks from here on only, read as floor where lower, so that stretches
    // that cannot exceed it are not interpolated; the filter keeps its past input.
    void restartPeaks(double floor);

private:
    double* channelInput(std::size_t channel);
    void deinterleave(std::span<const double> interleaved, std::size_t frames, std::size_t channel);
    bool markLive(std::size_t channel, std::size_t frames, double reached);
    // Returns whether it looked at which groups are live (markLive).
    bool interpolate(std::size_t frames, std::size_t channel);
    void refine(const double* current, std::size_t frames, double& peak);

    std::vector<std::vector<PolyphaseFilter::Tap>> phases_;
    std::size_t gridStep_;
    std::size_t outputDelay_;
    std::size_t channels_;
    std::size_t history_; // input frames before the first output that the filter reads
    std::size_t kept_;    // history_ rounded up to whole groups: frames kept from round to round
    bool roundToFloat_;
    bool wide_;                           // the processor has registers of four doubles
    double gainBound_;                    // largest sum of absolute taps of a phase
    std::vector<double> input_;           // per channel: history then the frames of this round
    std::vector<double> grid_;            // the grid phases' magnitudes for a round
    std::vector<double> blockPeak_;       // per channel: largest magnitude per group-long stretch of input
    std::vector<char> blocksKept_;        // per channel: blockPeak_ holds the kept frames' groups
    std::vector<std::size_t> liveRounds_; // per channel: rounds in a row live throughout
    std::vector<char> live_;              // per group of frames: may raise the maximum
    std::vector<double> between_;         // the phases between grid points by delay (sumBetween)
    std::vector<double> samplePeak_, interpolatedPeak_;
};

} // namespace tarvelle
