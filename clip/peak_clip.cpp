#include "clip/peak_clip.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace tarvelle {

std::int32_t findPeak(std::span<const std::int16_t> interleavedSamples)
{
    // The extremes first: a loop the compiler vectorises, with no sign trouble at -32768.
    std::int16_t lowest = 0;
    std::int16_t highest = 0;
    for (const std::int16_t sample : interleavedSamples) {
        lowest = std::min(lowest, sample);
        highest = std::max(highest, sample);
    }
    return std::max<std::int32_t>(highest, -static_cast<std::int32_t>(lowest));
}

std::int16_t thresholdForLevel(std::int32_t peakLevel, int clipLevel)
{
    // 2^(-(k+1)/2): powers of two are exact, and 1/sqrt(2) correctly rounded
    // stays far from every half over the peaks a 16-bit file can have.
    constexpr double inverseSqrt2 = 0.70710678118654752440;
    constexpr std::array<double, 6> levelFactors = {
        inverseSqrt2, 0.5, inverseSqrt2 / 2, 0.25, inverseSqrt2 / 4, 0.125,
    };
    const double quotient = peakLevel * levelFactors.at(static_cast<std::size_t>(clipLevel));
    return static_cast<std::int16_t>(std::floor(quotient + 0.5));
}

std::optional<double> levelDbfs(std::int32_t level)
{
    if (level <= 0) {
        return std::nullopt;
    }
    const double decibels = 20.0 * std::log10(static_cast<double>(level) / 32768.0);
    // Adding 0.0 turns the -0.0 of levels just below full scale into 0.0.
    return std::round(decibels * 100.0) / 100.0 + 0.0;
}

} // namespace tarvelle
