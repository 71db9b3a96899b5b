#include "loudness/gating.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tarvelle {

namespace {

constexpr std::size_t momentaryBlocks = 4;
constexpr std::size_t shortTermBlocks = 30;

double loudness(double energy)
{
    return 10 * (std::log(energy) / std::log(10.0)) - 0.691;
}

// The energy below which a window is silence: -70 LUFS.
double absoluteGate()
{
    return std::pow(10.0, (-70.0 + 0.691) / 10.0);
}

// Mean energy of every window of `length` blocks, one per block step.
std::vector<double> windows(std::span<const double> blocks, std::size_t length)
{
    std::vector<double> energies;
    for (std::size_t last = length; last <= blocks.size(); ++last) {
        double sum = 0.0;
        for (std::size_t index = last - length; index < last; ++index) {
            sum += blocks[index];
        }
        energies.push_back(sum / static_cast<double>(length));
    }
    return energies;
}

std::optional<LoudestMoment> loudest(const std::vector<double>& energies, double secondsPerBlock)
{
    const auto top = std::max_element(energies.begin(), energies.end());
    if (top == energies.end() || !(*top > 0.0)) {
        return std::nullopt;
    }
    return LoudestMoment{loudness(*top), static_cast<double>(top - energies.begin()) * secondsPerBlock};
}

std::optional<double> range(std::vector<double> shortTerm)
{
    std::erase_if(shortTerm, [](double energy) { return energy < absoluteGate(); });
    if (shortTerm.empty()) {
        return std::nullopt;
    }
    std::sort(shortTerm.begin(), shortTerm.end());
    double sum = 0.0;
    for (const double energy : shortTerm) {
        sum += energy;
    }
    const double relativeGate = sum / static_cast<double>(shortTerm.size()) * std::pow(10.0, -20.0 / 10.0);
    const auto gated = std::span(shortTerm).subspan(static_cast<std::size_t>(
        std::lower_bound(shortTerm.begin(), shortTerm.end(), relativeGate) - shortTerm.begin()));
    const auto percentile = [&](double fraction) {
        return gated[static_cast<std::size_t>(static_cast<double>(gated.size() - 1) * fraction + 0.5)];
    };
    return loudness(percentile(0.95)) - loudness(percentile(0.10));
}

} // namespace

GatedLoudness gateBlocks(std::span<const double> blocks, double secondsPerBlock)
{
    GatedLoudness result;
    const std::vector<double> momentary = windows(blocks, momentaryBlocks);
    result.maxMomentary = loudest(momentary, secondsPerBlock);
    result.integratedLufs = gatedLoudness(gatingBlocks(blocks));
    const std::vector<double> shortTerm = windows(blocks, shortTermBlocks);
    result.maxShortTerm = loudest(shortTerm, secondsPerBlock);
    if (result.integratedLufs) {
        result.loudnessRange = range(shortTerm);
    }
    return result;
}

std::vector<double> gatingBlocks(std::span<const double> blocks)
{
    std::vector<double> gated = windows(blocks, momentaryBlocks);
    std::erase_if(gated, [](double energy) { return energy < absoluteGate(); });
    return gated;
}

std::optional<double> gatedLoudness(std::span<const double> gatingBlocks)
{
    if (gatingBlocks.empty()) {
        return std::nullopt;
    }
    double sum = 0.0;
    for (const double energy : gatingBlocks) {
        sum += energy;
    }
    const double relativeGate = sum / static_cast<double>(gatingBlocks.size()) * std::pow(10.0, -10.0 / 10.0);
    sum = 0.0;
    std::size_t count = 0;
    for (const double energy : gatingBlocks) {
        if (energy >= relativeGate) {
            sum += energy;
            ++count;
        }
    }
    return loudness(sum / static_cast<double>(count));
}

} // namespace tarvelle
