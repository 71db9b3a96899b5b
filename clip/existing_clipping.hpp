// Clipping already in a file: runs of consecutive samples of one channel at
// the format's limit, or at the file's own extreme on either side where the
// sample values pile up there (a take clipped, then turned down, keeps its
// flat tops), and float samples over full scale that nothing cut off.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace tarvelle {

// over: a stretch of float samples above 1.0 that is not a flat top; not
// clipping, since nothing was cut.
enum class ExistingClipKind { fullScale, ceiling, over };

struct ExistingClipRun {
    ExistingClipKind kind = ExistingClipKind::fullScale;
    int channel = 0;
    std::int64_t startFrame = 0;
    std::int64_t length = 0; // in samples of its channel

    friend bool operator==(const ExistingClipRun&, const ExistingClipRun&) = default;
};

// Samples arrive in the file's units: integers as integers (signed, centred
// on 0) with fullScale 2^(bits-1), float as it is with fullScale 1.0.
struct ExistingClipFormat {
    int channels = 0;
    double fullScale = 0.0;
    bool isFloat = false;
};

struct ExistingClipResult {
    std::vector<std::int64_t> fullScaleRuns; // per channel
    std::vector<std::int64_t> ceilingRuns;   // per channel, both sides
    // Each side's extreme where it is a ceiling (a pile-up below full scale):
    // positive above 0, negative below.
    std::optional<double> positiveCeiling;
    std::optional<double> negativeCeiling;
    std::optional<ExistingClipRun> longest; // the earliest of the longest clipping run
    std::vector<std::int64_t> overSamples;  // per channel; float only
    std::optional<double> highestOver;      // the largest magnitude of those
    // Ceiling runs counted but not handed on, past the number kept until the
    // end of the file decides the ceiling.
    std::int64_t unlistedCeilingRuns = 0;

    friend bool operator==(const ExistingClipResult&, const ExistingClipResult&) = default;
};

// A run handed on: full-scale runs and overs as soon as they end, ceiling
// runs at finish (only the whole file shows its extremes), each in the order
// they end.
using ExistingClipSink = std::function<void(const ExistingClipRun&)>;

// At full scale means, for integers, a magnitude of 2^(bits-1) - 1 or more
// (+32767, -32767 and -32768 in 16 bits: a symmetric clipper stops at
// -32767); for float, consecutive equal values of a magnitude of 1 - 2^-15
// or more (the largest 16-bit value), two at least above 1.0. A side whose
// extreme is below that is at its ceiling when far more samples hold the
// extreme than any of the few values just inside it. A run counts from
// minRunLength samples on.
class ExistingClipDetector {
public:
    // Ceiling runs kept for the sink until finish; further ones are counted.
    static constexpr std::size_t maxListedCeilingRuns = std::size_t{1} << 16;

    // channels of at least 1, fullScale above 0 and minRunLength of at least
    // 1, else std::invalid_argument.
    ExistingClipDetector(ExistingClipFormat format, std::int64_t minRunLength, ExistingClipSink sink = {});

    // Whole frames, block after block; a run may go on into the next block.
    // A partial frame is std::invalid_argument.
    void addFrames(std::span<const double> interleaved);
    // The same for 16-bit samples, without making doubles of them.
    void addFrames(std::span<const std::int16_t> interleaved);

    // Ends the runs still open at the end of the file and decides the ceilings.
    ExistingClipResult finish();

private:
    // The few largest distinct values of one side (the smallest, for the
    // negative side) and how many samples hold each; the extreme first.
    struct ValueCount {
        double value = 0.0;
        std::int64_t count = 0;
    };
    static constexpr std::size_t trackedValues = 4;
    struct Side {
        double sign = 1.0; // values are kept multiplied by it, so larger is outward
        std::vector<ValueCount> values;
        double floor = -1e300;               // the least value tracked, once full: anything less is not
        std::vector<std::int64_t> runLength; // per channel, at the extreme
        int openRuns = 0;                    // channels with a run at the extreme
        std::vector<ExistingClipRun> runs;   // counted at the extreme, kept for finish
        std::vector<std::int64_t> runsPerChannel;
        std::optional<ExistingClipRun> longest;
        std::int64_t unlisted = 0;
    };
    struct ChannelState {
        std::int64_t fullScaleLength = 0; // the open run at full scale
        double fullScaleValue = 0.0;      // float: the value it repeats
        std::int64_t overStart = 0;       // the open stretch of overs
        std::int64_t overLength = 0;
    };

    template <class Sample> void addSamples(std::span<const Sample> interleaved);
    void addConstant(double value, std::int64_t frames);
    bool anyOpen() const;
    bool skippable(double smallest, double largest) const;
    void addSample(int channel, double value);
    void addToSide(Side& side, int channel, double value);
    void endSideRun(Side& side, int channel);
    void endFullScaleRun(int channel);
    void endOvers(int channel);
    void count(const ExistingClipRun& run, std::vector<std::int64_t>& perChannel,
               std::optional<ExistingClipRun>& longest) const;
    std::optional<double> ceilingOf(const Side& side) const;

    ExistingClipFormat format_;
    std::int64_t minRunLength_;
    ExistingClipSink sink_;
    double fullScaleLimit_ = 0.0; // a magnitude at or above it is at full scale
    std::int64_t frameIndex_ = 0;
    std::vector<ChannelState> channels_;
    std::array<Side, 2> sides_; // positive, negative
    ExistingClipResult result_;
};

} // namespace tarvelle
