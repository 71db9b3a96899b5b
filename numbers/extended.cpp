#include "numbers/extended.hpp"

#include <bit>
#include <cmath>
#include <limits>

namespace tarvelle {

namespace {

static_assert(std::numeric_limits<double>::is_iec559, "doubles are taken apart as IEEE 754 binary64");

// Wide enough for exponents before rounding brings them into range.
constexpr std::int64_t maxExponent = Extended::maxExponent;
constexpr std::int64_t minNormalExponent = Extended::minNormalExponent;

constexpr std::uint64_t topBit = std::uint64_t{1} << 63;

// A 128-bit unsigned number in two halves.
struct Wide {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
};

struct WideQuotient {
    std::uint64_t quotient = 0;
    std::uint64_t remainder = 0;
};

Extended makeZero(bool negative)
{
    return Extended{Extended::Kind::Zero, negative, 0, 0};
}

Extended makeInfinity(bool negative)
{
    return Extended{Extended::Kind::Infinite, negative, 0, 0};
}

Extended makeNaN()
{
    return Extended{Extended::Kind::NaN, false, 0, 0};
}

// Callers keep exponent inside the format's range, so the narrowing is exact.
Extended makeFinite(bool negative, std::uint64_t significand, std::int64_t exponent)
{
    return Extended{Extended::Kind::Finite, negative, significand, static_cast<std::int32_t>(exponent)};
}

// magnitude * 2^binaryScale, exactly; magnitude is not 0.
Extended fromScaledWhole(bool negative, std::uint64_t magnitude, std::int64_t binaryScale)
{
    const int leadingZeros = std::countl_zero(magnitude);
    return makeFinite(negative, magnitude << leadingZeros, binaryScale + 63 - leadingZeros);
}

Wide multiplyWide(std::uint64_t a, std::uint64_t b)
{
    constexpr std::uint64_t lowHalf = 0xFFFFFFFFu;
    const std::uint64_t aLow = a & lowHalf;
    const std::uint64_t aHigh = a >> 32;
    const std::uint64_t bLow = b & lowHalf;
    const std::uint64_t bHigh = b >> 32;

    const std::uint64_t lowLow = aLow * bLow;
    const std::uint64_t lowHigh = aLow * bHigh;
    const std::uint64_t highLow = aHigh * bLow;
    const std::uint64_t highHigh = aHigh * bHigh;

    // At most 3 * (2^32 - 1), so no overflow.
    const std::uint64_t middle = (lowLow >> 32) + (lowHigh & lowHalf) + (highLow & lowHalf);
    return Wide{highHigh + (lowHigh >> 32) + (highLow >> 32) + (middle >> 32),
                (middle << 32) | (lowLow & lowHalf)};
}

// Shift-and-subtract long division; numerator.high < divisor keeps the
// quotient within 64 bits.
WideQuotient divideWide(Wide numerator, std::uint64_t divisor)
{
    std::uint64_t remainder = numerator.high;
    std::uint64_t quotient = 0;
    for (int bit = 63; bit >= 0; --bit) {
        // The remainder is below the divisor, so after doubling it is below
        // 2^65; the bit shifted out stands for that 65th bit.
        const bool carry = (remainder & topBit) != 0;
        remainder = (remainder << 1) | ((numerator.low >> bit) & 1);
        quotient <<= 1;
        if (carry || remainder >= divisor) {
            remainder -= divisor;
            quotient |= 1;
        }
    }
    return WideQuotient{quotient, remainder};
}

// fraction holds the discarded bits scaled to 2^64, sticky any lower ones.
bool roundsUp(bool lastKeptBitOdd, std::uint64_t fraction, bool sticky)
{
    if (fraction != topBit) {
        return fraction > topBit;
    }
    return sticky || lastKeptBitOdd;
}

// Rounds into the denormal range, whose quantum is 2^(minNormalExponent - 63);
// exponent < minNormalExponent.
Extended roundToDenormal(bool negative, std::uint64_t significand, std::uint64_t fraction, bool sticky,
                         std::int64_t exponent)
{
    const std::int64_t shift = minNormalExponent - exponent;
    if (shift > 64) {
        // Below half the smallest denormal.
        return makeZero(negative);
    }
    std::uint64_t kept = 0;
    std::uint64_t discarded = significand;
    bool lowerBits = sticky || fraction != 0;
    if (shift < 64) {
        kept = significand >> shift;
        discarded = (significand << (64 - shift)) | (fraction >> shift);
        lowerBits = sticky || (fraction << (64 - shift)) != 0;
    }
    if (roundsUp((kept & 1) != 0, discarded, lowerBits)) {
        ++kept;
    }
    if (kept == 0) {
        return makeZero(negative);
    }
    // Held normalised; a carry into bit 63 makes it the smallest normal number.
    return fromScaledWhole(negative, kept, minNormalExponent - 63);
}

// The value (significand + fraction / 2^64 + a sticky trace) * 2^(exponent - 63),
// significand's top bit set, rounded to 64 bits within the format's range.
Extended roundToFormat(bool negative, std::uint64_t significand, std::uint64_t fraction, bool sticky,
                       std::int64_t exponent)
{
    if (exponent < minNormalExponent) {
        return roundToDenormal(negative, significand, fraction, sticky, exponent);
    }
    if (roundsUp((significand & 1) != 0, fraction, sticky)) {
        ++significand;
        if (significand == 0) {
            significand = topBit;
            ++exponent;
        }
    }
    if (exponent > maxExponent) {
        return makeInfinity(negative);
    }
    return makeFinite(negative, significand, exponent);
}

bool isNaN(const Extended& value)
{
    return value.kind == Extended::Kind::NaN;
}

bool isZero(const Extended& value)
{
    return value.kind == Extended::Kind::Zero;
}

bool isInfinite(const Extended& value)
{
    return value.kind == Extended::Kind::Infinite;
}

} // namespace

Extended extendedFromInt32(std::int32_t value)
{
    if (value == 0) {
        return makeZero(false);
    }
    const bool negative = value < 0;
    // Modular arithmetic keeps -2^31 exact.
    const std::uint64_t magnitude =
        negative ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    return fromScaledWhole(negative, magnitude, 0);
}

Extended extendedFromUint64(std::uint64_t value)
{
    return value == 0 ? makeZero(false) : fromScaledWhole(false, value, 0);
}

Extended extendedFromDouble(double value)
{
    constexpr std::uint64_t fractionMask = (std::uint64_t{1} << 52) - 1;
    constexpr std::uint64_t exponentMask = 0x7FF;
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const std::uint64_t biasedExponent = (bits >> 52) & exponentMask;
    const std::uint64_t fraction = bits & fractionMask;

    if (biasedExponent == exponentMask) {
        return fraction != 0 ? makeNaN() : makeInfinity(negative);
    }
    if (biasedExponent == 0) {
        // Subnormal doubles are normal numbers here.
        return fraction == 0 ? makeZero(negative) : fromScaledWhole(negative, fraction, -1074);
    }
    const auto exponent = static_cast<std::int64_t>(biasedExponent) - 1023;
    return makeFinite(negative, (fraction | (std::uint64_t{1} << 52)) << 11, exponent);
}

double doubleFromExtended(Extended value)
{
    switch (value.kind) {
    case Extended::Kind::Zero:
        return value.negative ? -0.0 : 0.0;
    case Extended::Kind::NaN:
        return std::numeric_limits<double>::quiet_NaN();
    case Extended::Kind::Infinite:
        return value.negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    case Extended::Kind::Finite:
        break;
    }
    // 64 significant bits to 53, ties to even; a carry out is still exact.
    constexpr std::uint64_t droppedMask = (std::uint64_t{1} << 11) - 1;
    constexpr std::uint64_t half = std::uint64_t{1} << 10;
    std::uint64_t kept = value.significand >> 11;
    const std::uint64_t dropped = value.significand & droppedMask;
    if (dropped > half || (dropped == half && (kept & 1) != 0)) {
        ++kept;
    }
    const double magnitude = std::ldexp(static_cast<double>(kept), value.exponent - 52);
    return value.negative ? -magnitude : magnitude;
}

Extended multiply(Extended a, Extended b)
{
    if (isNaN(a) || isNaN(b)) {
        return makeNaN();
    }
    const bool negative = a.negative != b.negative;
    if (isInfinite(a) || isInfinite(b)) {
        return isZero(a) || isZero(b) ? makeNaN() : makeInfinity(negative);
    }
    if (isZero(a) || isZero(b)) {
        return makeZero(negative);
    }

    Wide product = multiplyWide(a.significand, b.significand);
    std::int64_t exponent = std::int64_t{a.exponent} + b.exponent;
    // Both factors lie in [2^63, 2^64), so the product has its top bit at 127 or 126.
    if ((product.high & topBit) != 0) {
        ++exponent;
    } else {
        product.high = (product.high << 1) | (product.low >> 63);
        product.low <<= 1;
    }
    return roundToFormat(negative, product.high, product.low, false, exponent);
}

Extended divide(Extended a, Extended b)
{
    if (isNaN(a) || isNaN(b)) {
        return makeNaN();
    }
    const bool negative = a.negative != b.negative;
    if (isInfinite(a)) {
        return isInfinite(b) ? makeNaN() : makeInfinity(negative);
    }
    if (isZero(a)) {
        return isZero(b) ? makeNaN() : makeZero(negative);
    }
    if (isInfinite(b)) {
        return makeZero(negative);
    }
    if (isZero(b)) {
        return makeInfinity(negative);
    }

    // Scale the dividend so that 64 quotient bits come out with the top one set.
    std::int64_t exponent = std::int64_t{a.exponent} - b.exponent;
    Wide dividend{a.significand, 0};
    if (a.significand >= b.significand) {
        dividend = Wide{a.significand >> 1, a.significand << 63};
    } else {
        --exponent;
    }
    const WideQuotient leading = divideWide(dividend, b.significand);
    // 64 more quotient bits decide the rounding, even deep in the denormal
    // range; what remains after them only matters as a sticky bit.
    const WideQuotient trailing = divideWide(Wide{leading.remainder, 0}, b.significand);
    return roundToFormat(negative, leading.quotient, trailing.quotient, trailing.remainder != 0, exponent);
}

Extended roundToWhole(Extended value)
{
    if (value.kind != Extended::Kind::Finite || value.exponent >= 63) {
        return value;
    }
    if (value.exponent < -1) {
        return makeZero(value.negative);
    }
    const int fractionBits = 63 - value.exponent;
    std::uint64_t whole = 0;
    std::uint64_t fraction = value.significand;
    if (fractionBits < 64) {
        whole = value.significand >> fractionBits;
        fraction = value.significand << (64 - fractionBits);
    }
    if (roundsUp((whole & 1) != 0, fraction, false)) {
        ++whole;
    }
    if (whole == 0) {
        return makeZero(value.negative);
    }
    return fromScaledWhole(value.negative, whole, 0);
}

} // namespace tarvelle
