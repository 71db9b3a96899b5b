#include "numbers/number_text.hpp"

#include <array>
#include <cstddef>

namespace tarvelle {

namespace {

constexpr std::int32_t maxPlaces = 18;

// Above the format's range no value arises from the arithmetic, and a
// hand-built one is read as an infinity.
constexpr std::int32_t maxExponent = Extended::maxExponent;
constexpr std::int32_t minNormalExponent = Extended::minNormalExponent;

// The largest power of ten below the format's maximum, about 1.19e4932.
constexpr std::int32_t largestFinitePowerOfTen = 4932;

constexpr std::uint64_t eighteenDigitLimit = 1'000'000'000'000'000'000; // 10^18
constexpr std::uint64_t seventeenDigitLimit = 100'000'000'000'000'000;  // 10^17
constexpr std::uint64_t fifteenDigitLimit = 1'000'000'000'000'000;      // 10^15
constexpr std::uint64_t fourteenDigitLimit = 100'000'000'000'000;       // 10^14

constexpr std::array<std::int32_t, 8> exactSmallPowers = {1,      10,      100,       1'000,
                                                          10'000, 100'000, 1'000'000, 10'000'000};

struct PowerConstant {
    std::uint64_t significand;
    std::int32_t exponent;
};

// 10^(2^bit) for bit 3 to 12, each rounded to nearest, ties to even; 10^8 and
// 10^16 are exact.
constexpr int firstLargePowerBit = 3;
constexpr std::array<PowerConstant, 10> largePowers = {{
    {0xBEBC200000000000, 26},    // 10^8
    {0x8E1BC9BF04000000, 53},    // 10^16
    {0x9DC5ADA82B70B59E, 106},   // 10^32
    {0xC2781F49FFCFA6D5, 212},   // 10^64
    {0x93BA47C980E98CE0, 425},   // 10^128
    {0xAA7EEBFB9DF9DE8E, 850},   // 10^256
    {0xE319A0AEA60E91C7, 1700},  // 10^512
    {0xC976758681750C17, 3401},  // 10^1024
    {0x9E8B3B5DC53D5DE5, 6803},  // 10^2048
    {0xC46052028A20979B, 13606}, // 10^4096
}};

constexpr const char* positiveInfinityText = " 9.99999999999999E+998 ";
constexpr const char* negativeInfinityText = "-9.99999999999999E+998 ";

// a ~ 0.digits * 10^pointPosition.
struct DecimalDigits {
    std::uint64_t digits = 0;
    std::int32_t pointPosition = 0;
};

Extended largePowerOfTen(std::size_t index)
{
    const PowerConstant& power = largePowers[index];
    return Extended{Extended::Kind::Finite, false, power.significand, power.exponent};
}

std::int32_t floorDivide(std::int64_t numerator, std::int64_t denominator)
{
    std::int64_t quotient = numerator / denominator;
    if (numerator % denominator != 0 && (numerator < 0) != (denominator < 0)) {
        --quotient;
    }
    return static_cast<std::int32_t>(quotient);
}

// A whole value between 0 and 2^64 as an integer.
std::uint64_t wholeToUnsigned(const Extended& whole)
{
    if (whole.kind != Extended::Kind::Finite || whole.exponent < 0) {
        return 0;
    }
    if (whole.exponent > 63) {
        return UINT64_MAX;
    }
    return whole.significand >> (63 - whole.exponent);
}

// magnitude * 10^power, rounded after each step.
Extended scaleByPowerOfTen(const Extended& magnitude, std::int32_t power)
{
    if (power < 0) {
        return divide(magnitude, powerOfTen(-power));
    }
    if (power > largestFinitePowerOfTen) {
        // The power itself would overflow (magnitudes near the bottom of the
        // range); two steps keep every intermediate finite.
        constexpr std::int32_t splitPower = 4096;
        return multiply(multiply(magnitude, powerOfTen(power - splitPower)), powerOfTen(splitPower));
    }
    return multiply(magnitude, powerOfTen(power));
}

// The whole number nearest to magnitude * 10^(17 - estimate).
Extended scaledWhole(const Extended& magnitude, std::int32_t estimate)
{
    return roundToWhole(scaleByPowerOfTen(magnitude, 17 - estimate));
}

// 18 significant digits of a finite, normal, positive magnitude.
DecimalDigits eighteenDigits(const Extended& magnitude)
{
    // log10(2) ~ 19728 / 65536.
    std::int32_t estimate = floorDivide(std::int64_t{magnitude.exponent} * 19728, 65536);
    Extended whole = scaledWhole(magnitude, estimate);
    if (wholeToUnsigned(whole) >= eighteenDigitLimit) {
        whole = roundToWhole(divide(whole, extendedFromInt32(10)));
        ++estimate;
    } else if (wholeToUnsigned(whole) < seventeenDigitLimit) {
        // From 2^-681 downwards the estimate is one too high for some binary
        // exponents, which would leave 17 digits and a leading zero.
        --estimate;
        whole = scaledWhole(magnitude, estimate);
    }
    return DecimalDigits{wholeToUnsigned(whole), estimate + 1};
}

// The first 15 of 18 digits, rounded on the 16th digit alone.
DecimalDigits cutToFifteenDigits(DecimalDigits eighteen)
{
    const std::uint64_t sixteen = eighteen.digits / 100;
    std::uint64_t fifteen = sixteen / 10;
    const std::uint64_t sixteenthDigit = sixteen % 10;
    if (sixteenthDigit > 5 || (sixteenthDigit == 5 && fifteen % 2 == 1)) {
        ++fifteen;
    }
    if (fifteen == fifteenDigitLimit) {
        return DecimalDigits{fourteenDigitLimit, eighteen.pointPosition + 1};
    }
    return DecimalDigits{fifteen, eighteen.pointPosition};
}

std::string exponentForm(const std::string& digits, char exponentSign, std::int32_t exponent)
{
    std::string text(1, digits.front());
    if (digits.size() > 1) {
        text += '.';
        text.append(digits, 1);
    }
    text += 'E';
    text += exponentSign;
    text += std::to_string(exponent);
    return text;
}

std::string zeros(std::int32_t count)
{
    return std::string(static_cast<std::size_t>(count), '0');
}

// digits (no trailing zero) stand for 0.digits * 10^pointPosition.
std::string layOutDigits(const std::string& digits, std::int32_t pointPosition)
{
    const auto digitCount = static_cast<std::int32_t>(digits.size());
    const std::int32_t lastDigitPower = pointPosition - digitCount;
    if (lastDigitPower >= 0) {
        if (digitCount + lastDigitPower <= significantDigits) {
            return digits + zeros(lastDigitPower);
        }
        return exponentForm(digits, '+', digitCount + lastDigitPower - 1);
    }
    const std::int32_t fractionDigits = -lastDigitPower;
    if (fractionDigits > significantDigits) {
        return exponentForm(digits, '-', fractionDigits - digitCount + 1);
    }
    if (digitCount > fractionDigits) {
        const auto wholeDigits = static_cast<std::size_t>(digitCount - fractionDigits);
        return digits.substr(0, wholeDigits) + '.' + digits.substr(wholeDigits);
    }
    return '.' + zeros(fractionDigits - digitCount) + digits;
}

bool rendersAsZero(const Extended& value)
{
    return value.kind == Extended::Kind::Zero || value.kind == Extended::Kind::NaN ||
           (value.kind == Extended::Kind::Finite &&
            (value.exponent < minNormalExponent || value.significand == 0));
}

bool rendersAsInfinity(const Extended& value)
{
    return value.kind == Extended::Kind::Infinite ||
           (value.kind == Extended::Kind::Finite && value.exponent > maxExponent);
}

} // namespace

Extended powerOfTen(std::int32_t exponent)
{
    if (exponent < 0 || exponent > largestFinitePowerOfTen) {
        return Extended{Extended::Kind::Infinite, false, 0, 0};
    }
    Extended power = extendedFromInt32(exactSmallPowers[static_cast<std::size_t>(exponent & 7)]);
    for (std::size_t index = 0; index < largePowers.size(); ++index) {
        if (((exponent >> (firstLargePowerBit + index)) & 1) != 0) {
            power = multiply(power, largePowerOfTen(index));
        }
    }
    return power;
}

Extended roundToPlaces(Extended value, std::int32_t places)
{
    if (places < 0 || places > maxPlaces) {
        places = maxPlaces;
    }
    const Extended scale = powerOfTen(places);
    const Extended scaled = multiply(value, scale);
    if (scaled.kind == Extended::Kind::Infinite && value.kind == Extended::Kind::Finite) {
        // Only a value far beyond 2^63 overflows here, and such a value is
        // already whole; scaling would turn it into an infinity.
        return value;
    }
    return divide(roundToWhole(scaled), scale);
}

std::string formatNumber(Extended value)
{
    if (rendersAsZero(value)) {
        return " 0 ";
    }
    if (rendersAsInfinity(value)) {
        return value.negative ? negativeInfinityText : positiveInfinityText;
    }
    Extended magnitude = value;
    magnitude.negative = false;
    const DecimalDigits fifteen = cutToFifteenDigits(eighteenDigits(magnitude));

    std::string digits = std::to_string(fifteen.digits);
    digits.erase(digits.find_last_not_of('0') + 1);

    std::string text(1, value.negative ? '-' : ' ');
    text += layOutDigits(digits, fifteen.pointPosition);
    text += ' ';
    return text;
}

} // namespace tarvelle
