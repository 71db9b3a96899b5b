// Integrated loudness, loudness range and the loudest moments of a file, from
// its 100 ms block energies, exactly (every block kept, no histogram).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

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

} // namespace tarvelle
