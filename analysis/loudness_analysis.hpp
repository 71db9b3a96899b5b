// True peak and loudness, which do not wait for the peak.
#pragma once

#include "clip/loudness.hpp"
#include "engine/analysis.hpp"

#include <algorithm>
#include <type_traits>
#include <vector>

namespace tarvelle {

template <class Sample> class LoudnessAnalysis final : public Analysis<Sample> {
public:
    using SampleType = Sample;
    static constexpr bool needsPeak = false;
    // The oversampled true peak and the filters: by far the costliest.
    static constexpr double cost = 8.0;

    // blockSamples: the most a block holds, for 16-bit samples made doubles.
    // forPicture: the true peak block by block too, for the overs above 0 dBTP
    // it marks (PlotHeading::overLimitDbtp): lower ones need no interpolation.
    LoudnessAnalysis(int channels, std::int32_t sampleRate, std::uint32_t channelMask, double fullScale,
                     std::size_t blockSamples, bool forPicture = false)
        : meter_(channels, sampleRate, channelMask), fullScale_(fullScale)
    {
        if (forPicture) {
            meter_.keepBlockTruePeaks(1.0);
        }
        if constexpr (!std::is_same_v<Sample, double>) {
            samples_.resize(blockSamples);
        }
    }

    void add(std::span<const Sample> samples) override
    {
        if constexpr (std::is_same_v<Sample, double>) {
            meter_.addFrames(samples, fullScale_);
        } else {
            const std::span<double> doubles(samples_.data(), samples.size());
            std::copy(samples.begin(), samples.end(), doubles.begin());
            meter_.addFrames(doubles, fullScale_);
        }
    }
    void finish(JobResult& result) override { result.loudness = meter_.finish(); }

private:
    LoudnessMeter meter_;
    double fullScale_;
    std::vector<double> samples_;
};

} // namespace tarvelle
