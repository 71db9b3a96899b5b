// Clipping already in a file: runs of consecutive samples of one channel at
// the format's limit, or at the file's own peak when that is below the limit
// (a take clipped, then turned down, keeps its flat tops). A run may mix
// both polarities, as a clipping event does.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace tarvelle {

enum class ExistingClipKind { fullScale, ceiling };

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
    std::vector<std::int64_t> ceilingRuns;   // per channel
    // The file's peak, where it is below full scale and above 0: the level of
    // the ceiling runs. None where full scale was checked instead.
    std::optional<double> ceiling;
    std::optional<ExistingClipRun> longest; // the earliest of the longest

    friend bool operator==(const ExistingClipResult&, const ExistingClipResult&) = default;
};

// A counted run, handed on as soon as it ends, so that nothing grows with
// their number. Runs come in the order they end.
using ExistingClipSink = std::function<void(const ExistingClipRun&)>;

// At full scale means a magnitude of 2^(bits-1) - 1 or more for integers
// (+32767, -32767 and -32768 in 16 bits: a symmetric clipper stops at -32767)
// and 1.0 or more for float. At the ceiling means a magnitude of filePeak,
// which must be the largest magnitude of the same samples. A run counts from
// minRunLength samples on.
class ExistingClipDetector {
public:
    // channels of at least 1, fullScale above 0 and minRunLength of at least
    // 1, else std::invalid_argument.
    ExistingClipDetector(ExistingClipFormat format, double filePeak, std::int64_t minRunLength,
                         ExistingClipSink sink = {});

    // Whole frames, block after block; a run may go on into the next block.
    // A partial frame is std::invalid_argument.
    void addFrames(std::span<const double> interleaved);
    // The same for 16-bit samples, without making doubles of them.
    void addFrames(std::span<const std::int16_t> interleaved);

    // Ends the runs still open at the end of the file.
    ExistingClipResult finish();

private:
    template <class Sample> void addSamples(std::span<const Sample> interleaved);
    void endRun(int channel);

    ExistingClipFormat format_;
    std::int64_t minRunLength_;
    ExistingClipSink sink_;
    ExistingClipKind kind_ = ExistingClipKind::fullScale;
    double limit_ = 0.0; // a magnitude at or above it is clipped; 0 when nothing can be
    std::int64_t frameIndex_ = 0;
    std::vector<std::int64_t> runLength_; // per channel, 0 when no run is open
    ExistingClipResult result_;
};

} // namespace tarvelle
