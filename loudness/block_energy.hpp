// K-weighted energy of a file per 100 ms block, all channels filtered side
// by side and weighted by where each speaker stands.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tarvelle {

// The weight of each channel: 0 for an LFE, 1.41 for surround and back
// channels, else 1.0. From the WAV channel mask; without one (0), from the
// layout the common tools assume for that many channels.
std::vector<double> channelWeights(int channels, std::uint32_t channelMask);

class BlockEnergy {
public:
    BlockEnergy(const std::vector<double>& weights, std::int32_t sampleRate);

    // Interleaved samples scaled to full scale 1.0, whole frames.
    void add(std::span<const double> interleaved);

    // Per whole block, in order: the weighted sum over channels of the mean
    // square of the K-weighted samples. A partial last block is left out.
    const std::vector<double>& blocks() const { return blocks_; }
    std::int64_t framesPerBlock() const { return framesPerBlock_; }

private:
    void filter(const double* in, std::size_t frames);
    void closeBlock();

    std::vector<std::size_t> heard_; // the channels with a weight
    std::vector<double> weights_;    // theirs
    std::size_t channels_;
    std::size_t width_;  // channels filtered side by side
    std::size_t stride_; // heard channels rounded up to a multiple of width_
    double b_[5], a_[5];
    std::vector<double> state_;  // 4 past values per padded channel
    std::vector<double> energy_; // sums of squares of the open block
    std::vector<double> chunk_;  // the heard channels of some frames, padded
    std::int64_t framesPerBlock_;
    std::int64_t framesInBlock_ = 0;
    std::vector<double> blocks_;
};

} // namespace tarvelle
