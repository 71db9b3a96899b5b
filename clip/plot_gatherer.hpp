// What the picture of a run needs, gathered while the samples stream past:
// per column of the picture, each channel's envelope and each level's
// clipping. Memory grows with the columns and channels, never with the file.
#pragma once

#include "clip/peak_clip.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace tarvelle {

// Clipping of one level (or the file's own) over the columns, both channels
// together. Arrays hold one value per column.
struct PlotClipping {
    std::vector<std::uint64_t> clippedSamples;
    // Events (maximal runs of clipped samples in one channel) by the column
    // they start in, so that an event crossing columns counts once.
    std::vector<std::uint64_t> eventStarts;
    // The first and one past the last clipped frame of each column; equal
    // where the column holds none.
    std::vector<std::uint64_t> firstClippedFrame;
    std::vector<std::uint64_t> endClippedFrame;
};

struct PlotData {
    int channelCount = 0;
    int columnCount = 0;
    std::uint64_t totalFrames = 0;
    std::array<double, clipLevelCount> thresholds{};
    // Column c covers frames columnStartFrame[c] to columnStartFrame[c + 1] - 1.
    std::vector<std::uint64_t> columnStartFrame;
    // [channel * columnCount + column]; minimum > maximum in a column that got
    // no frames (a file shorter than announced).
    std::vector<double> minimum;
    std::vector<double> maximum;
    std::array<PlotClipping, clipLevelCount> levels;
    bool hasExistingClipping = false;
    PlotClipping existing; // filled when hasExistingClipping
};

class PlotGatherer {
public:
    // A sample is clipped at level k when its magnitude exceeds thresholds[k].
    // A file of fewer frames than columns gets one column per frame.
    PlotGatherer(int channels, std::uint64_t totalFrames, std::array<double, clipLevelCount> thresholds,
                 int columns = 1200);

    // The levels' clipping told run by run (addLevelRun) by a count that finds
    // the runs anyway; addFrames then gathers the envelope only.
    void takeLevelsFromRuns();
    // The strip of the clipping already in the file is drawn, runs or none.
    void showExistingClipping();
    // With the levels taken from runs: the envelope of 16-bit samples, in
    // file order, without making doubles of them.
    void addEnvelope(std::span<const std::int16_t> interleaved);
    // A run of clipped samples of one level; levels may be told from
    // different threads, each level from one.
    void addLevelRun(int clipLevel, int channel, std::uint64_t startFrame, std::uint64_t length);

    // Interleaved whole frames, in file order, in blocks of any size. Frames
    // past totalFrames are not plotted.
    void addFrames(std::span<const double> interleaved);

    // A run of clipping already in the input, for the strip of the file's own.
    void addExistingRun(int channel, std::uint64_t startFrame, std::uint64_t length);

    // Once, after the last frames; the gatherer takes nothing more after it.
    PlotData finish();

private:
    void addSegment(const double* samples, std::uint64_t firstFrame, std::uint64_t frames);
    void addClippingSamples(const double* samples, std::uint64_t firstFrame, std::uint64_t frames);
    template <std::size_t FixedChannels>
    void visitChanges(const std::uint8_t* levels, std::size_t count, std::uint64_t firstFrame);
    void changeClippedLevels(std::uint8_t& previous, std::size_t levels, std::uint64_t frame);
    void closeColumn(std::uint64_t frame);
    void beginNextColumn();
    static void mark(PlotClipping& clipping, std::size_t column, std::uint64_t frame, std::uint64_t count,
                     bool startsEvent);

    void markRun(PlotClipping& clipping, std::size_t& columnHint, int channel, std::uint64_t startFrame,
                 std::uint64_t length) const;

    PlotData data_;
    bool finished_ = false;
    bool levelsFromRuns_ = false;
    // Per level and the file's own: the column of the last run marked.
    std::array<std::size_t, clipLevelCount + 1> columnHints_{};
    // Level indices by ascending threshold: a sample clipped at the n-th of
    // these is clipped at all before it.
    std::array<std::size_t, clipLevelCount> levelsByThreshold_{};
    std::array<double, clipLevelCount> sortedThresholds_{};
    std::uint64_t nextFrame_ = 0;
    int column_ = 0;
    std::uint64_t columnEnd_ = 0;
    // Per channel, how many levels (in ascending threshold order) clipped its last sample.
    std::vector<std::uint8_t> previousClippedLevels_;
    std::vector<double> chunkLows_; // one chunk's envelope, per channel
    std::vector<double> chunkHighs_;
    std::vector<std::uint8_t> chunkClippedLevels_; // per sample of a chunk, after the frame before it
    // The current column's clipping, by rank.
    std::array<std::uint64_t, clipLevelCount> columnClippedSamples_{};
    std::array<std::uint64_t, clipLevelCount> columnEventStarts_{};
    std::array<std::uint64_t, clipLevelCount> columnFirstClipped_{};
    std::array<std::uint64_t, clipLevelCount> columnEndClipped_{};
};

} // namespace tarvelle
