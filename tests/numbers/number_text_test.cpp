#include "numbers/number_text.hpp"

#include "numbers/extended_bits.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace tarvelle {
namespace {

Extended fromDouble(double value)
{
    return extendedFromDouble(value);
}

Extended fromInt(std::int32_t value)
{
    return extendedFromInt32(value);
}

Extended quotient(std::int32_t numerator, std::int32_t denominator)
{
    return divide(fromInt(numerator), fromInt(denominator));
}

struct TextCase {
    const char* name;
    Extended value;
    const char* text;
};

void PrintTo(const TextCase& c, std::ostream* out)
{
    *out << c.name;
}

class FormatNumberTable : public ::testing::TestWithParam<TextCase> {};

TEST_P(FormatNumberTable, WritesText)
{
    EXPECT_EQ(formatNumber(GetParam().value), GetParam().text) << GetParam().name;
}

std::string textCaseName(const ::testing::TestParamInfo<TextCase>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    ReportValues, FormatNumberTable,
    ::testing::Values(TextCase{"Zero", fromInt(0), " 0 "}, TextCase{"Seven", fromInt(7), " 7 "},
                      TextCase{"MinusSeven", fromInt(-7), "-7 "}, TextCase{"Eighteen", fromInt(18), " 18 "},
                      TextCase{"SampleRate", fromInt(44100), " 44100 "},
                      TextCase{"Int32Max", fromInt(INT32_MAX), " 2147483647 "},
                      TextCase{"Int32Min", fromInt(INT32_MIN), "-2147483648 "},
                      TextCase{"TwelveAndAHalf", fromDouble(12.5), " 12.5 "},
                      TextCase{"Half", fromDouble(0.5), " .5 "}, TextCase{"MinusHalf", fromDouble(-0.5), "-.5 "},
                      TextCase{"SmallFraction", fromDouble(0.000125), " .000125 "},
                      TextCase{"OneThird", quotient(1, 3), " .333333333333333 "},
                      TextCase{"TwoThirds", quotient(2, 3), " .666666666666667 "},
                      TextCase{"OneThirtieth", quotient(1, 30), " 3.33333333333333E-2 "},
                      TextCase{"TenToMinus15", fromDouble(1e-15), " .000000000000001 "},
                      TextCase{"TenToMinus16", fromDouble(1e-16), " 1E-16 "},
                      TextCase{"OneAndAHalfTimesTenToMinus20", fromDouble(1.5e-20), " 1.5E-20 "},
                      TextCase{"FifteenNines", fromDouble(999999999999999.0), " 999999999999999 "},
                      TextCase{"TenTo15", fromDouble(1e15), " 1E+15 "},
                      TextCase{"SixteenDigits", fromDouble(1234567890123456.0), " 1.23456789012346E+15 "},
                      TextCase{"ZeroByZero", quotient(0, 0), " 0 "},
                      TextCase{"OneByZero", quotient(1, 0), " 9.99999999999999E+998 "}),
    textCaseName);

const Extended largestFinite = finiteExtended(false, UINT64_MAX, 16383);
const Extended smallestNormal = finiteExtended(false, std::uint64_t{1} << 63, -16382);

INSTANTIATE_TEST_SUITE_P(
    Edges, FormatNumberTable,
    ::testing::Values(
        TextCase{"CarryOutOfFirstDigit", fromDouble(0.9999999999999999), " 1 "},
        TextCase{"SixteenthDigitTieStaysEven", fromDouble(1234567890123425.0), " 1.23456789012342E+15 "},
        TextCase{"SixteenthDigitTieRoundsOdd", fromDouble(1234567890123435.0), " 1.23456789012344E+15 "},
        // Digits after the 16th are not looked at, even when they would tip a tie.
        TextCase{"DigitsAfterSixteenthIgnored", divide(fromDouble(2469135780246851.0), fromInt(2)),
                 " 1.23456789012342E+15 "},
        TextCase{"SmallestSubnormalDouble", fromDouble(std::numeric_limits<double>::denorm_min()),
                 " 4.94065645841246E-324 "},
        TextCase{"FifteenDigitWhole", fromDouble(1e14), " 100000000000000 "},
        TextCase{"SixteenDigitsEndingInZero", fromDouble(1234567890123450.0), " 1.23456789012345E+15 "},
        TextCase{"TenTo20", fromDouble(1e20), " 1E+20 "},
        TextCase{"NegativeWithFraction", fromDouble(-1234.5), "-1234.5 "},
        TextCase{"Tenth", fromDouble(0.1), " .1 "},
        TextCase{"LeadingZerosAfterPoint", fromDouble(1e-5), " .00001 "},
        TextCase{"FifteenPlacesAfterPoint", fromDouble(1.23e-13), " .000000000000123 "},
        TextCase{"SixteenthPlaceNeedsExponent", fromDouble(1.234e-14), " 1.234E-14 "},
        TextCase{"LargestDouble", fromDouble(std::numeric_limits<double>::max()), " 1.79769313486232E+308 "},
        // Binary exponents for which the decimal estimate comes out one too high.
        TextCase{"EstimateTooHigh", fromDouble(std::ldexp(1.0, -681)), " 9.96719495109757E-206 "},
        TextCase{"EstimateTooHighNegative", fromDouble(-std::ldexp(1.0, -877)), "-9.9241610332961E-265 "},
        TextCase{"FourDigitExponent", largestFinite, " 1.18973149535723E+4932 "},
        TextCase{"SmallestNormal", smallestNormal, " 3.36210314311209E-4932 "},
        TextCase{"DenormalIsZero", multiply(smallestNormal, fromDouble(0.75)), " 0 "},
        TextCase{"MinusZero", fromDouble(-0.0), " 0 "},
        TextCase{"NegativeNaN", Extended{Extended::Kind::NaN, true, 0, 0}, " 0 "},
        TextCase{"MinusInfinity", quotient(-1, 0), "-9.99999999999999E+998 "}),
    textCaseName);

struct RoundingCase {
    const char* name;
    Extended value;
    std::int32_t places;
    Extended result;
    const char* text;
};

void PrintTo(const RoundingCase& c, std::ostream* out)
{
    *out << c.name;
}

class RoundToPlacesTable : public ::testing::TestWithParam<RoundingCase> {};

TEST_P(RoundToPlacesTable, RoundsAndWrites)
{
    const RoundingCase& c = GetParam();
    const Extended rounded = roundToPlaces(c.value, c.places);
    EXPECT_EQ(extendedBits(rounded), extendedBits(c.result)) << c.name;
    EXPECT_EQ(formatNumber(rounded), c.text) << c.name;
}

std::string roundingCaseName(const ::testing::TestParamInfo<RoundingCase>& info)
{
    return info.param.name;
}

// The expected result of a rounding: numerator / 10^places, as the last step divides.
Extended hundredths(std::int32_t numerator)
{
    return quotient(numerator, 100);
}

INSTANTIATE_TEST_SUITE_P(
    ReportValues, RoundToPlacesTable,
    ::testing::Values(RoundingCase{"TwoAndAHalf", fromDouble(2.5), 0, fromInt(2), " 2 "},
                      RoundingCase{"ThreeAndAHalf", fromDouble(3.5), 0, fromInt(4), " 4 "},
                      RoundingCase{"TwentySixThirds", quotient(26, 3), 0, fromInt(9), " 9 "},
                      RoundingCase{"EighthToTwoPlaces", fromDouble(0.125), 2, hundredths(12), " .12 "},
                      RoundingCase{"ThreeEighthsToTwoPlaces", fromDouble(0.375), 2, hundredths(38), " .38 "},
                      RoundingCase{"FourPlacesToTwo", fromDouble(1234.5678), 2, hundredths(123457), " 1234.57 "},
                      RoundingCase{"BelowHalfHundredth", fromDouble(0.004), 2, fromInt(0), " 0 "},
                      RoundingCase{"Whole", fromInt(12), 2, fromInt(12), " 12 "},
                      RoundingCase{"EventsPerSecond", divide(fromInt(57), fromDouble(12.3456)), 2, hundredths(462),
                                   " 4.62 "}),
    roundingCaseName);

INSTANTIATE_TEST_SUITE_P(
    Edges, RoundToPlacesTable,
    ::testing::Values(
        RoundingCase{"MinusTwoAndAHalf", fromDouble(-2.5), 0, fromInt(-2), "-2 "},
        RoundingCase{"SmallNegativeToMinusZero", fromDouble(-0.004), 2, fromDouble(-0.0), " 0 "},
        // 0.005 and 0.015 as doubles lie just above and just below the tie.
        RoundingCase{"DoubleJustAboveTie", fromDouble(0.005), 2, hundredths(1), " .01 "},
        RoundingCase{"DoubleJustBelowTie", fromDouble(0.015), 2, hundredths(1), " .01 "},
        RoundingCase{"NineteenPlacesCountAsEighteen", quotient(1, 3), 19, roundToPlaces(quotient(1, 3), 18),
                     " .333333333333333 "},
        RoundingCase{"NegativePlacesCountAsEighteen", quotient(2, 3), -1,
                     // 666666666666666667 / 10^18
                     divide(finiteExtended(false, 0x94079CD1A42AAAB0, 59), powerOfTen(18)), " .666666666666667 "},
        RoundingCase{"ZeroByZeroStaysNaN", quotient(0, 0), 2, quotient(0, 0), " 0 "},
        RoundingCase{"InfinityStays", quotient(-1, 0), 2, quotient(-1, 0), "-9.99999999999999E+998 "},
        // Scaling by 100 would overflow; a value this large is whole already.
        RoundingCase{"HugeValueKept", largestFinite, 2, largestFinite, " 1.18973149535723E+4932 "}),
    roundingCaseName);

// Counting eighteen places must differ from seventeen, or the clamp tests
// above could not tell a clamp to 18 from one to 17 or less.
TEST(RoundToPlaces, EighteenPlacesKeepMoreThanSeventeen)
{
    EXPECT_NE(extendedBits(roundToPlaces(quotient(1, 3), 18)), extendedBits(roundToPlaces(quotient(1, 3), 17)));
}

// 10^exponent in binary, rounded to 64 bits, ties to even, from exact
// arbitrary-precision digits; a reference independent of the arithmetic.
std::string correctlyRoundedPowerOfTen(int exponent)
{
    std::vector<std::uint32_t> words{1}; // little-endian
    for (int step = 0; step < exponent; ++step) {
        std::uint64_t carry = 0;
        for (std::uint32_t& word : words) {
            const std::uint64_t product = std::uint64_t{word} * 10 + carry;
            word = static_cast<std::uint32_t>(product & 0xFFFFFFFFu);
            carry = product >> 32;
        }
        if (carry != 0) {
            words.push_back(static_cast<std::uint32_t>(carry));
        }
    }
    const auto bit = [&words](std::size_t index) { return ((words[index / 32] >> (index % 32)) & 1) != 0; };
    std::size_t bitCount = words.size() * 32;
    while (!bit(bitCount - 1)) {
        --bitCount;
    }
    std::uint64_t significand = 0;
    const std::size_t kept = bitCount < 64 ? bitCount : 64;
    for (std::size_t index = 0; index < kept; ++index) {
        significand = (significand << 1) | (bit(bitCount - 1 - index) ? 1 : 0);
    }
    significand <<= 64 - kept;
    auto topBitExponent = static_cast<std::int32_t>(bitCount - 1);
    if (bitCount > 64) {
        const bool half = bit(bitCount - 65);
        bool below = false;
        for (std::size_t index = 0; index + 65 < bitCount; ++index) {
            below = below || bit(index);
        }
        if (half && (below || (significand & 1) != 0)) {
            ++significand;
            if (significand == 0) {
                significand = std::uint64_t{1} << 63;
                ++topBitExponent;
            }
        }
    }
    return extendedBits(finiteExtended(false, significand, topBitExponent));
}

TEST(PowerOfTen, ExactUpToTenTo27)
{
    for (int exponent = 0; exponent <= 27; ++exponent) {
        EXPECT_EQ(extendedBits(powerOfTen(exponent)), correctlyRoundedPowerOfTen(exponent)) << exponent;
    }
}

TEST(PowerOfTen, ConstantsAreCorrectlyRounded)
{
    for (int exponent = 8; exponent <= 4096; exponent *= 2) {
        EXPECT_EQ(extendedBits(powerOfTen(exponent)), correctlyRoundedPowerOfTen(exponent)) << exponent;
    }
}

} // namespace
} // namespace tarvelle
