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
    // The thresholds are the levels' (for the picture's scale); their clipping
    // comes run by run. A file of fewer frames than columns gets one column
    // per frame.
    PlotGatherer(int channels, std::uint64_t totalFrames, std::array<double, clipLevelCount> thresholds,
                 int columns = 1200);

    // The strip of the clipping already in the file is drawn, runs or none.
    void showExistingClipping();
    // Each channel's envelope: interleaved whole frames, in file order, in
    // blocks of any size, 16-bit samples without making doubles of them.
    // Frames past totalFrames are not plotted.
    void addEnvelope(std::span<const std::int16_t> interleaved);
    void addFrames(std::span<const double> interleaved);
    // A run of clipped samples of one level; levels may be told from
    // different threads, each level from one.
    void addLevelRun(int clipLevel, int channel, std::uint64_t startFrame, std::uint64_t length);

    // A run of clipping already in the input, for the strip of the file's own.
    void addExistingRun(int channel, std::uint64_t startFrame, std::uint64_t length);

    // Once, after the last frames; the gatherer takes nothing more after it.
    PlotData finish();

private:
    template <class Sample> void addEnvelopeOf(std::span<const Sample> interleaved);
    static void mark(PlotClipping& clipping, std::size_t column, std::uint64_t frame, std::uint64_t count,
                     bool startsEvent);
    void markRun(PlotClipping& clipping, std::size_t& columnHint, int channel, std::uint64_t startFrame,
                 std::uint64_t length) const;

    PlotData data_;
    bool finished_ = false;
    // Per level and the file's own: the column of the last run marked.
    std::array<std::size_t, clipLevelCount + 1> columnHints_{};
    std::uint64_t nextFrame_ = 0;
    int column_ = 0;
    std::uint64_t columnEnd_ = 0;
};

} // namespace tarvelle
