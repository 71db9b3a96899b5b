// What one read needs of its input, wherever the samples come from: the
// job's sources (job_sources.cpp) make it, its read (job_read.cpp) takes it.
#pragma once

#include "clip/clip_stats.hpp"
#include "clip/level_count.hpp"
#include "engine/block_ring.hpp"
#include "engine/clip_job.hpp"
#include "platform/output_file.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarvelle {

// What one read needs of the file, besides its samples' type.
template <class Sample> struct ClipJob::Source {
    std::uint64_t sampleCount = 0; // of a file
    int channels = 2;
    double fullScale = 32768.0;
    BlockRing::MakeLoader makeLoader; // blocks of Sample
    BlockRing::StreamLoader stream;   // where set, read once instead, to its end
    std::vector<std::uint8_t> clippedWavHeader;
    MakeOutputEncoder clippedEncoder; // where the clipped files are not WAV
    bool padByte = false;             // the size fields count a pad byte after data of an odd length
    // The six counts started at the peak's thresholds.
    std::function<std::array<LevelCount, clipLevelCount>(double peak)> startCounts;
    std::function<std::string(int clipLevel, const std::vector<ChannelClipStats>&)> reportText;

    std::uint64_t totalBytes() const { return sampleCount * sizeof(Sample); }
    std::size_t frameBytes() const { return static_cast<std::size_t>(channels) * sizeof(Sample); }
    std::size_t blockSamples() const { return BlockRing::blockBytesFor(frameBytes()) / sizeof(Sample); }
};

} // namespace tarvelle
