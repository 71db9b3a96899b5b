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

    // Channel by channel and pair by pair, each with sums of its own, so
    // that the loops keep them in registers.
    void add(std::span<const Sample> samples) override
    {
        const std::size_t frames = samples.size() / channels_;
        // Asked before any channel of the block: each may be loud first.
        const bool headUnknown = firstLoud_ > lastLoud_;
        for (std::size_t channel = 0; channel < channels_; ++channel) {
            const Sample* const first = samples.data() + channel;
            double sum = 0.0;
            double squares = 0.0;
            double peak = 0.0;
            for (std::size_t frame = 0; frame < frames; ++frame) {
                const double value = first[frame * channels_];
                sum += value;
                squares += value * value;
                peak = std::max(peak, std::fabs(value));
            }
            sums_[channel] += sum;
            squares_[channel] += squares;
            peaks_[channel] = std::max(peaks_[channel], peak);
            findLoud(first, frames, headUnknown);
        }
        for (std::size_t pair = 0; pair < pairs_.size(); ++pair) {
            const Sample* const first = samples.data() + pairs_[pair].first;
            const Sample* const second = samples.data() + pairs_[pair].second;
            double products = 0.0;
            double difference = 0.0;
            for (std::size_t frame = 0; frame < frames; ++frame) {
                const double a = first[frame * channels_];
                const double b = second[frame * channels_];
                products += a * b;
                difference = std::max(difference, std::fabs(a - b));
            }
            products_[pair] += products;
            differences_[pair] = std::max(differences_[pair], difference);
        }
        frameCount_ += frames;
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
    // The first frame of the file above near-silence, while none is known,
    // and the last of this block: the one scan stops at the first it meets.
    void findLoud(const Sample* samples, std::size_t frames, bool headUnknown)
    {
        const auto loud = [&](std::size_t frame) {
            return std::fabs(double(samples[frame * channels_])) >= silentBelow_;
        };
        if (headUnknown) {
            for (std::size_t frame = 0; frame < frames; ++frame) {
                if (loud(frame)) {
                    firstLoud_ = std::min(firstLoud_, frameCount_ + frame);
                    break;
                }
            }
        }
        for (std::size_t frame = frames; frame-- > 0;) {
            if (loud(frame)) {
                lastLoud_ = std::max(lastLoud_, frameCount_ + frame);
                break;
            }
        }
    }

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
