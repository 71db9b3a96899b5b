#include "clip/peak_clip.hpp"

#include "numbers/extended.hpp"

#include <algorithm>
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

namespace {

// sqrt(2)^(clipLevel + 1) as a 64-bit significand: sqrt(2) rounded to nearest
// for odd powers, exact for the even ones.
Extended levelDivisor(int clipLevel)
{
    constexpr std::uint64_t sqrt2Significand = 0xB504F333F9DE6484;
    constexpr std::uint64_t oneSignificand = std::uint64_t{1} << 63;
    const bool odd = clipLevel % 2 == 0;
    return Extended{Extended::Kind::Finite, false, odd ? sqrt2Significand : oneSignificand, (clipLevel + 1) / 2};
}

// Nearest, halves up, of a value that is not negative.
double roundHalfUp(const Extended& value)
{
    if (value.kind != Extended::Kind::Finite || value.exponent < -1) {
        return 0.0;
    }
    if (value.exponent >= 63) {
        return std::ldexp(static_cast<double>(value.significand), value.exponent - 63);
    }
    const int shift = 63 - value.exponent; // 1 to 64
    const std::uint64_t whole = shift == 64 ? 0 : value.significand >> shift;
    const std::uint64_t halfBit = value.significand >> (shift - 1) & 1;
    return static_cast<double>(whole + halfBit);
}

// Nearest, ties to even, in a binary format of the given precision whose
// normal numbers start at 2^minExponent; subnormal results keep fewer bits.
double roundToBinary(const Extended& value, int precision, int minExponent)
{
    if (value.kind != Extended::Kind::Finite) {
        return 0.0;
    }
    const int kept = precision - std::max(0, minExponent - value.exponent);
    if (kept < 0) {
        return 0.0;
    }
    const int dropped = 64 - kept; // at least 11
    const std::uint64_t half = std::uint64_t{1} << (dropped - 1);
    std::uint64_t significand = dropped == 64 ? 0 : value.significand >> dropped;
    const std::uint64_t rest = value.significand & (half | (half - 1));
    if (rest > half || (rest == half && (significand & 1) != 0)) {
        ++significand;
    }
    return std::ldexp(static_cast<double>(significand), value.exponent - 63 + dropped);
}

} // namespace

double thresholdForLevel(const SampleFormat& format, double peak, int clipLevel)
{
    const Extended quotient = divide(extendedFromDouble(peak), levelDivisor(clipLevel));
    switch (format.encoding) {
    case SampleEncoding::Float32:
        return roundToBinary(quotient, 24, -126);
    case SampleEncoding::Float64:
        return roundToBinary(quotient, 53, -1022);
    default:
        return roundHalfUp(quotient);
    }
}

std::optional<double> levelDbfs(double level, double fullScale)
{
    if (!(level > 0.0)) {
        return std::nullopt;
    }
    const double decibels = 20.0 * std::log10(level / fullScale);
    // Adding 0.0 turns the -0.0 of levels just below full scale into 0.0.
    return std::round(decibels * 100.0) / 100.0 + 0.0;
}

} // namespace tarvelle
