// The clip pass one sample index at a time, with the channels held apart: the
// plain reading of the clip rule that the program's block-wise pass must match.
#pragma once

#include "clip/clip_stats.hpp"
#include "clip/plot_gatherer.hpp"

#include <array>
#include <cmath>

#include <cstdint>
#include <span>
#include <vector>

namespace tarvelle::testing {

struct ReferencePass {
    std::vector<std::int16_t> interleaved; // the clipped samples
    ChannelClipStats left;
    ChannelClipStats right;
    std::vector<ClipEvent> events; // by channel, then start
};

ReferencePass referencePass(std::span<const std::int16_t> leftSamples, std::span<const std::int16_t> rightSamples,
                            std::int16_t clipThreshold, std::int16_t rateFactor);

// Left at even indices, right at odd ones.
std::vector<std::int16_t> interleave(std::span<const std::int16_t> leftSamples,
                                     std::span<const std::int16_t> rightSamples);

// Tells the gatherer every level's runs in the samples (a sample clips at a
// level when its magnitude exceeds the threshold), as the level counts do.
void addLevelRunsOf(PlotGatherer& gatherer, std::span<const double> interleaved, int channels,
                    const std::array<double, clipLevelCount>& thresholds);

} // namespace tarvelle::testing
