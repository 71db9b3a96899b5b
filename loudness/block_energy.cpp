#include "loudness/block_energy.hpp"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <numbers>

namespace tarvelle {

namespace {

constexpr std::uint32_t lowFrequency = 0x8;
// Back left and right, back centre, side left and right, top back left, centre and right.
constexpr std::uint32_t surrounds = 0x10 | 0x20 | 0x100 | 0x200 | 0x400 | 0x8000 | 0x10000 | 0x20000;
constexpr double surroundWeight = 1.41;

// Without a mask: mono, stereo, 3.0, 4.0 (back centre), 5.0, 5.1, 6.1 and
// 7.1 with their back and side channels, as FFmpeg reads such a file.
constexpr std::array<std::uint32_t, 9> defaultMasks = {0, 0x4, 0x3, 0x7, 0x107, 0x37, 0x3f, 0x70f, 0x63f};

constexpr std::size_t chunkFrames = 4096;

// Side by side in registers: the recursion runs frame after frame, so the
// channels are what can share an instruction.
template <std::size_t Width>
void kWeight(const double* in, std::size_t stride, std::size_t frames, const double* b, const double* a,
             double* state, double* energy)
{
    for (std::size_t group = 0; group < stride; group += Width) {
        std::array<double, Width> v1, v2, v3, v4, sum;
        for (std::size_t lane = 0; lane < Width; ++lane) {
            const double* s = state + 4 * (group + lane);
            v1[lane] = s[0], v2[lane] = s[1], v3[lane] = s[2], v4[lane] = s[3];
            sum[lane] = energy[group + lane];
        }
        for (std::size_t frame = 0; frame < frames; ++frame) {
            const double* x = in + frame * stride + group;
            for (std::size_t lane = 0; lane < Width; ++lane) {
                const double v0 = x[lane] - a[1] * v1[lane] - a[2] * v2[lane] - a[3] * v3[lane] - a[4] * v4[lane];
                const double y = b[0] * v0 + b[1] * v1[lane] + b[2] * v2[lane] + b[3] * v3[lane] + b[4] * v4[lane];
                sum[lane] += y * y;
                v4[lane] = v3[lane], v3[lane] = v2[lane], v2[lane] = v1[lane], v1[lane] = v0;
            }
        }
        for (std::size_t lane = 0; lane < Width; ++lane) {
            double* s = state + 4 * (group + lane);
            s[0] = v1[lane], s[1] = v2[lane], s[2] = v3[lane], s[3] = v4[lane];
            energy[group + lane] = sum[lane];
        }
    }
}

} // namespace

std::vector<double> channelWeights(int channels, std::uint32_t channelMask)
{
    if (channelMask == 0 && channels < static_cast<int>(defaultMasks.size())) {
        channelMask = defaultMasks[static_cast<std::size_t>(channels)];
    }
    std::vector<double> weights(static_cast<std::size_t>(channels), 1.0);
    std::uint32_t bits = channelMask;
    for (double& weight : weights) {
        // Channels beyond the mask's speakers have no place: weighed as front.
        const std::uint32_t speaker = bits & (~bits + 1);
        bits &= bits - 1;
        weight = (speaker & lowFrequency) != 0 ? 0.0 : (speaker & surrounds) != 0 ? surroundWeight : 1.0;
    }
    return weights;
}

BlockEnergy::BlockEnergy(const std::vector<double>& weights, std::int32_t sampleRate)
    : channels_(weights.size()), framesPerBlock_((sampleRate + 5) / 10)
{
    for (std::size_t channel = 0; channel < weights.size(); ++channel) {
        if (weights[channel] > 0.0) {
            heard_.push_back(channel);
            weights_.push_back(weights[channel]);
        }
    }
    width_ = heard_.size() <= 2 ? std::max<std::size_t>(heard_.size(), 1) : 4;
    stride_ = (heard_.size() + width_ - 1) / width_ * width_;
    state_.assign(4 * stride_, 0.0);
    energy_.assign(stride_, 0.0);
    chunk_.assign(chunkFrames * stride_, 0.0);

    // The high shelf of the head and the high pass of the revised low-frequency
    // B-curve, as one fourth-order filter designed for this rate.
    const double rate = sampleRate;
    double k = std::tan(std::numbers::pi * 1681.974450955533 / rate);
    double q = 0.7071752369554196;
    const double vh = std::pow(10.0, 3.999843853973347 / 20.0);
    const double vb = std::pow(vh, 0.4996667741545416);
    const double a0 = 1.0 + k / q + k * k;
    const double pb[3] = {(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0};
    const double pa[3] = {1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
    k = std::tan(std::numbers::pi * 38.13547087602444 / rate);
    q = 0.5003270373238773;
    const double rb[3] = {1.0, -2.0, 1.0};
    const double ra[3] = {1.0, 2.0 * (k * k - 1.0) / (1.0 + k / q + k * k),
                          (1.0 - k / q + k * k) / (1.0 + k / q + k * k)};
    for (int i = 0; i < 5; ++i) {
        b_[i] = a_[i] = 0.0;
        for (int j = std::max(0, i - 2); j <= std::min(2, i); ++j) {
            b_[i] += pb[j] * rb[i - j];
            a_[i] += pa[j] * ra[i - j];
        }
    }
}

void BlockEnergy::add(std::span<const double> interleaved)
{
    const std::size_t frames = interleaved.size() / channels_;
    std::size_t done = 0;
    while (done < frames) {
        const auto open = static_cast<std::size_t>(framesPerBlock_ - framesInBlock_);
        const std::size_t count = std::min({frames - done, open, chunkFrames});
        const double* from = interleaved.data() + done * channels_;
        // Every channel heard, none padded: the samples are filtered where they lie.
        if (stride_ == channels_ && heard_.size() == channels_) {
            filter(from, count);
        } else {
            for (std::size_t frame = 0; frame < count; ++frame) {
                double* to = chunk_.data() + frame * stride_;
                for (std::size_t index = 0; index < heard_.size(); ++index) {
                    to[index] = from[frame * channels_ + heard_[index]];
                }
            }
            filter(chunk_.data(), count);
        }
        done += count;
        framesInBlock_ += static_cast<std::int64_t>(count);
        if (framesInBlock_ == framesPerBlock_) {
            closeBlock();
        }
    }
}

void BlockEnergy::filter(const double* in, std::size_t frames)
{
    switch (width_) {
    case 1:
        kWeight<1>(in, stride_, frames, b_, a_, state_.data(), energy_.data());
        break;
    case 2:
        kWeight<2>(in, stride_, frames, b_, a_, state_.data(), energy_.data());
        break;
    default:
        kWeight<4>(in, stride_, frames, b_, a_, state_.data(), energy_.data());
        break;
    }
}

void BlockEnergy::closeBlock()
{
    double sum = 0.0;
    for (std::size_t index = 0; index < heard_.size(); ++index) {
        sum += energy_[index] * weights_[index];
        energy_[index] = 0.0;
    }
    blocks_.push_back(sum / static_cast<double>(framesPerBlock_));
    framesInBlock_ = 0;
    // A filter ringing down into denormals would crawl through the silence after.
    for (double& value : state_) {
        value = std::fabs(value) < DBL_MIN ? 0.0 : value;
    }
}

} // namespace tarvelle
