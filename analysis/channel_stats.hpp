// The channels' figures delivery checks need, all from one pass: the silence
// at the head and tail, each channel's peak and mean (an empty channel, DC
// offset) and, for each pair of channels, how alike they are (a copy, or
// opposite phase).
#pragma once

#include "engine/analysis.hpp"
#include "engine/delivery.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace tarvelle {

template <class Sample> class ChannelStatsAnalysis final : public Analysis<Sample> {
public:
    using SampleType = Sample;
    static constexpr bool needsPeak = false;
    static constexpr double cost = 2.0;
    // Every pair up to this many channels; past it, each channel with the next.
    static constexpr int allPairsUpTo = 8;

    ChannelStatsAnalysis(int channels, std::int32_t sampleRate, double fullScale)
        : channels_(static_cast<std::size_t>(channels)), sampleRate_(sampleRate), fullScale_(fullScale),
          silentBelow_(fullScale * std::pow(10.0, nearSilenceDbfs / 20.0)), sums_(channels_), squares_(channels_),
          peaks_(channels_)
    {
        for (int first = 0; first < channels; ++first) {
            for (int second = first + 1; second < channels && (channels <= allPairsUpTo || second == first + 1);
                 ++second) {
                pairs_.push_back({first, second});
            }
        }
        products_.resize(pairs_.size());
        differences_.resize(pairs_.size());
    }

    void add(std::span<const Sample> samples) override
    {
        const Sample* frame = samples.data();
        const Sample* const end = frame + samples.size();
        for (; frame != end; frame += channels_, ++frameCount_) {
            bool loud = false;
            for (std::size_t channel = 0; channel < channels_; ++channel) {
                const double value = frame[channel];
                sums_[channel] += value;
                squares_[channel] += value * value;
                peaks_[channel] = std::max(peaks_[channel], std::fabs(value));
                loud = loud || std::fabs(value) >= silentBelow_;
            }
            for (std::size_t pair = 0; pair < pairs_.size(); ++pair) {
                const double first = frame[pairs_[pair].first];
                const double second = frame[pairs_[pair].second];
                products_[pair] += first * second;
                differences_[pair] = std::max(differences_[pair], std::fabs(first - second));
            }
            if (loud) {
                firstLoud_ = std::min(firstLoud_, frameCount_);
                lastLoud_ = frameCount_;
            }
        }
    }

    void finish(JobResult& result) override
    {
        ChannelStats stats;
        const double frames = static_cast<double>(std::max<std::uint64_t>(frameCount_, 1));
        const auto dbfs = [this](double level) { return 20.0 * std::log10(level / fullScale_); };
        for (std::size_t channel = 0; channel < channels_; ++channel) {
            stats.peakDbfs.push_back(dbfs(peaks_[channel]));
            stats.dcOffsetDbfs.push_back(dbfs(std::fabs(sums_[channel] / frames)));
        }
        const bool anyLoud = firstLoud_ <= lastLoud_;
        const double rate = sampleRate_;
        stats.headSilenceSeconds = static_cast<double>(anyLoud ? firstLoud_ : frameCount_) / rate;
        stats.tailSilenceSeconds = static_cast<double>(anyLoud ? frameCount_ - 1 - lastLoud_ : frameCount_) / rate;
        const double copiedWithin = fullScale_ * std::pow(10.0, copiedChannelDbfs / 20.0);
        for (std::size_t pair = 0; pair < pairs_.size(); ++pair) {
            ChannelPair made = pairs_[pair];
            const auto first = static_cast<std::size_t>(made.first);
            const auto second = static_cast<std::size_t>(made.second);
            const auto variance = [&](std::size_t channel) {
                const double mean = sums_[channel] / frames;
                return squares_[channel] / frames - mean * mean;
            };
            const double spread = std::sqrt(variance(first) * variance(second));
            const double covariance = products_[pair] / frames - sums_[first] / frames * sums_[second] / frames;
            made.correlation = spread > 0.0 ? std::clamp(covariance / spread, -1.0, 1.0) : 0.0;
            made.copied = frameCount_ > 0 && differences_[pair] <= copiedWithin;
            stats.pairs.push_back(made);
        }
        result.channelStats = std::move(stats);
    }

private:
    std::size_t channels_;
    std::int32_t sampleRate_;
    double fullScale_;
    double silentBelow_;
    std::vector<double> sums_;
    std::vector<double> squares_;
    std::vector<double> peaks_;
    std::vector<ChannelPair> pairs_;
    std::vector<double> products_;
    std::vector<double> differences_;
    std::uint64_t frameCount_ = 0;
    std::uint64_t firstLoud_ = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t lastLoud_ = 0;
};

} // namespace tarvelle
