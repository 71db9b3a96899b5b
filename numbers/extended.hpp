// A real number with a 64-bit significand, rounded to nearest with ties to even
// after every operation: the arithmetic the report's numbers are defined in.
// Done in software because long double is that format only on x86 with GCC or
// Clang; it is 64 bits wide with MSVC and 128 bits on AArch64.
#pragma once

#include <cstdint>

namespace tarvelle {

struct Extended {
    enum class Kind : std::uint8_t { Zero, Finite, Infinite, NaN };
    Kind kind = Kind::Zero;
    bool negative = false;
    // For Finite: value = significand * 2^(exponent - 63), top bit of significand set.
    std::uint64_t significand = 0;
    std::int32_t exponent = 0;

    // The exponent range of the 80-bit format: 15 bits, bias 16383. Below it a
    // Finite value is one of the format's denormals.
    static constexpr std::int32_t maxExponent = 16383;
    static constexpr std::int32_t minNormalExponent = -16382;
};

// Exact conversions.
Extended extendedFromInt32(std::int32_t value);
Extended extendedFromDouble(double value);
Extended extendedFromUint64(std::uint64_t value);

// Each result rounded to the 64-bit significand, ties to even. x / 0 is an
// infinity, 0 / 0 and the other invalid operations a NaN.
Extended multiply(Extended a, Extended b);
Extended divide(Extended a, Extended b);

// The nearest double, ties to even; a NaN stays a NaN and a value beyond the
// double range becomes an infinity.
double doubleFromExtended(Extended value);

// The nearest whole number, ties to even.
Extended roundToWhole(Extended value);

} // namespace tarvelle
