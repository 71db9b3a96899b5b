// Integrated loudness, loudness range and the loudest moments of a file, from
// its 100 ms block energies, exactly (every block kept, no histogram).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tarvelle {

struct LoudestMoment {
    double lufs = 0.0;
    double atSeconds = 0.0; // where its window starts
};

struct GatedLoudness {
    std::optional<double> integratedLufs;      // none: too short, or nothing above the absolute gate
    std::optional<double> loudnessRange;       // none: shorter than 3 s, or no integrated loudness
    std::optional<LoudestMoment> maxMomentary; // 400 ms
    std::optional<LoudestMoment> maxShortTerm; // 3 s
};

// blocks: the weighted mean square per 100 ms block; secondsPerBlock its length.
GatedLoudness gateBlocks(std::span<const double> blocks, double secondsPerBlock);

// The energies of the 400 ms gating blocks, one per 100 ms block, that pass
// the absolute gate: all the relative gate needs. Several files' together,
// gated by gatedLoudness, are their loudness as one programme (an album's).
std::vector<double> gatingBlocks(std::span<const double> blocks);
// None when no block passed the absolute gate.
std::optional<double> gatedLoudness(std::span<const double> gatingBlocks);

} // namespace tarvelle
