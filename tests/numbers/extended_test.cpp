#include "numbers/extended.hpp"

#include "numbers/extended_bits.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>

namespace tarvelle {
namespace {

struct ExtendedCase {
    const char* name;
    Extended actual;
    const char* expected;
};

void PrintTo(const ExtendedCase& c, std::ostream* out)
{
    *out << c.name;
}

class ExtendedTable : public ::testing::TestWithParam<ExtendedCase> {};

TEST_P(ExtendedTable, GivesExactBits)
{
    EXPECT_EQ(extendedBits(GetParam().actual), GetParam().expected) << GetParam().name;
}

std::string caseName(const ::testing::TestParamInfo<ExtendedCase>& info)
{
    return info.param.name;
}

Extended fromDouble(double value)
{
    return extendedFromDouble(value);
}

Extended fromInt(std::int32_t value)
{
    return extendedFromInt32(value);
}

const Extended largestFinite = finiteExtended(false, UINT64_MAX, 16383);
const Extended smallestNormal = finiteExtended(false, std::uint64_t{1} << 63, -16382);
const Extended infinity = fromDouble(std::numeric_limits<double>::infinity());
const Extended notANumber = fromDouble(std::numeric_limits<double>::quiet_NaN());

// x * 2^-16445, the smallest denormal of the 80-bit format, reached by an
// exact division of a normal number by a power of two.
Extended smallestDenormalTimes(double factor)
{
    return divide(finiteExtended(false, std::uint64_t{1} << 63, -16382), fromDouble(std::ldexp(1.0 / factor, 63)));
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, ExtendedTable,
    ::testing::Values(
        ExtendedCase{"IntZero", fromInt(0), "+0"}, ExtendedCase{"IntOne", fromInt(1), "+0x8000000000000000p0"},
        ExtendedCase{"IntMinusOne", fromInt(-1), "-0x8000000000000000p0"},
        ExtendedCase{"IntMax", fromInt(INT32_MAX), "+0xFFFFFFFE00000000p30"},
        ExtendedCase{"IntMin", fromInt(INT32_MIN), "-0x8000000000000000p31"},
        ExtendedCase{"DoubleMax", fromDouble(std::numeric_limits<double>::max()), "+0xFFFFFFFFFFFFF800p1023"},
        ExtendedCase{"DoubleSmallestNormal", fromDouble(std::numeric_limits<double>::min()),
                     "+0x8000000000000000p-1022"},
        ExtendedCase{"DoubleLargestSubnormal", fromDouble(std::nextafter(std::numeric_limits<double>::min(), 0.0)),
                     "+0xFFFFFFFFFFFFF000p-1023"},
        ExtendedCase{"DoubleThreeSmallestSubnormals", fromDouble(3 * std::numeric_limits<double>::denorm_min()),
                     "+0xC000000000000000p-1073"},
        ExtendedCase{"DoubleSmallestSubnormal", fromDouble(-std::numeric_limits<double>::denorm_min()),
                     "-0x8000000000000000p-1074"},
        ExtendedCase{"DoubleTenth", fromDouble(0.1), "+0xCCCCCCCCCCCCD000p-4"},
        ExtendedCase{"DoubleMinusTwoAndAHalf", fromDouble(-2.5), "-0xA000000000000000p1"},
        ExtendedCase{"DoubleMinusZero", fromDouble(-0.0), "-0"},
        ExtendedCase{"DoubleMinusInfinity", fromDouble(-std::numeric_limits<double>::infinity()), "-inf"},
        ExtendedCase{"DoubleNaN", notANumber, "NaN"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Multiply, ExtendedTable,
    ::testing::Values(
        // (2^32 + 1)(2^32 + 3) and (2^32 + 1)^2 need 65 bits and end in a lone 1.
        ExtendedCase{"TieRoundsUpToEven", multiply(fromDouble(4294967297.0), fromDouble(4294967299.0)),
                     "+0x8000000200000002p64"},
        ExtendedCase{"TieStaysEven", multiply(fromDouble(4294967297.0), fromDouble(4294967297.0)),
                     "+0x8000000100000000p64"},
        ExtendedCase{"SignsCombine", multiply(fromInt(3), fromInt(-7)), "-0xA800000000000000p4"},
        ExtendedCase{"MinusZeroTimesPositive", multiply(fromDouble(-0.0), fromInt(5)), "-0"},
        ExtendedCase{"InfinityTimesZero", multiply(infinity, fromInt(0)), "NaN"},
        ExtendedCase{"NaNTimesOne", multiply(notANumber, fromInt(1)), "NaN"},
        ExtendedCase{"InfinityTimesNegative", multiply(infinity, fromInt(-2)), "-inf"},
        ExtendedCase{"OverflowToInfinity", multiply(largestFinite, fromInt(-2)), "-inf"},
        ExtendedCase{"LargestTimesOne", multiply(largestFinite, fromInt(1)), "+0xFFFFFFFFFFFFFFFFp16383"},
        // 2^63 - 1/2 smallest denormals: a tie whose odd neighbour carries into
        // the smallest normal number.
        ExtendedCase{"DenormalTieCarriesIntoNormal",
                     multiply(finiteExtended(false, UINT64_MAX, -16000), fromDouble(std::ldexp(1.0, -383))),
                     "+0x8000000000000000p-16382"},
        ExtendedCase{"DenormalTieStaysEven",
                     multiply(finiteExtended(false, UINT64_MAX - 2, -16000), fromDouble(std::ldexp(1.0, -383))),
                     "+0xFFFFFFFFFFFFFFFCp-16383"},
        ExtendedCase{"UnderflowToZero", multiply(smallestNormal, smallestNormal), "+0"},
        ExtendedCase{"UnderflowKeepsSign", multiply(multiply(smallestNormal, fromInt(-1)), smallestNormal), "-0"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Divide, ExtendedTable,
    ::testing::Values(
        ExtendedCase{"OneThird", divide(fromInt(1), fromInt(3)), "+0xAAAAAAAAAAAAAAABp-2"},
        ExtendedCase{"OneTenth", divide(fromInt(1), fromInt(10)), "+0xCCCCCCCCCCCCCCCDp-4"},
        ExtendedCase{"NegativeQuotient", divide(fromInt(-7), fromInt(2)), "-0xE000000000000000p1"},
        // The 64 bits after the kept ones read exactly one half; only the
        // remainder left after them shows that the quotient lies above.
        ExtendedCase{
            "RemainderBreaksApparentTie",
            divide(finiteExtended(false, 0xEAAAAAAAAAAAAAB0, 0), finiteExtended(false, 0x8000000000000003, 0)),
            "+0xEAAAAAAAAAAAAAABp0"},
        ExtendedCase{"DenormalOneAndAHalfToEven", smallestDenormalTimes(1.5), "+0x8000000000000000p-16444"},
        ExtendedCase{"DenormalTwoAndAHalfToEven", smallestDenormalTimes(2.5), "+0x8000000000000000p-16444"},
        ExtendedCase{"DenormalThreeQuartersUp", smallestDenormalTimes(0.75), "+0x8000000000000000p-16445"},
        ExtendedCase{"DenormalHalfToZero", smallestDenormalTimes(0.5), "+0"},
        ExtendedCase{"OneByZero", divide(fromInt(1), fromInt(0)), "+inf"},
        ExtendedCase{"MinusOneByZero", divide(fromInt(-1), fromInt(0)), "-inf"},
        ExtendedCase{"OneByMinusZero", divide(fromInt(1), fromDouble(-0.0)), "-inf"},
        ExtendedCase{"ZeroByZero", divide(fromInt(0), fromInt(0)), "NaN"},
        ExtendedCase{"InfinityByInfinity", divide(infinity, infinity), "NaN"},
        ExtendedCase{"InfinityByZero", divide(infinity, fromInt(0)), "+inf"},
        ExtendedCase{"ZeroByInfinity", divide(fromInt(0), infinity), "+0"},
        ExtendedCase{"NegativeByInfinity", divide(fromInt(-5), infinity), "-0"},
        ExtendedCase{"NaNByZero", divide(notANumber, fromInt(0)), "NaN"},
        ExtendedCase{"OverflowToInfinity", divide(largestFinite, fromDouble(0.5)), "+inf"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    RoundToWhole, ExtendedTable,
    ::testing::Values(
        ExtendedCase{"HalfToZero", roundToWhole(fromDouble(0.5)), "+0"},
        ExtendedCase{"OneAndAHalfToTwo", roundToWhole(fromDouble(1.5)), "+0x8000000000000000p1"},
        ExtendedCase{"TwoAndAHalfToTwo", roundToWhole(fromDouble(2.5)), "+0x8000000000000000p1"},
        ExtendedCase{"MinusTwoAndAHalf", roundToWhole(fromDouble(-2.5)), "-0x8000000000000000p1"},
        ExtendedCase{"ThreeAndAHalfToFour", roundToWhole(fromDouble(3.5)), "+0x8000000000000000p2"},
        ExtendedCase{"JustBelowHalf", roundToWhole(fromDouble(std::nextafter(0.5, 0.0))), "+0"},
        ExtendedCase{"JustAboveHalf", roundToWhole(fromDouble(std::nextafter(0.5, 1.0))), "+0x8000000000000000p0"},
        ExtendedCase{"SmallNegativeToMinusZero", roundToWhole(fromDouble(-0.3)), "-0"},
        // 2^63 - 1/2 and 2^62 + 1/2: the last fraction bit of the format.
        ExtendedCase{"CarryToTwoToThe63", roundToWhole(finiteExtended(false, UINT64_MAX, 62)),
                     "+0x8000000000000000p63"},
        ExtendedCase{"LastFractionBitTie", roundToWhole(finiteExtended(false, 0x8000000000000001, 62)),
                     "+0x8000000000000000p62"},
        ExtendedCase{"AlreadyWhole", roundToWhole(fromDouble(std::ldexp(1.0, 70) + std::ldexp(1.0, 20))),
                     "+0x8000000000002000p70"},
        ExtendedCase{"Infinity", roundToWhole(infinity), "+inf"},
        ExtendedCase{"NaN", roundToWhole(notANumber), "NaN"}),
    caseName);

// Back to double: 64 bits to 53, ties to even, a carry out kept exact.
TEST(DoubleFromExtended, RoundsToTheNearestDouble)
{
    const struct {
        Extended value;
        double expected;
    } cases[] = {
        {divide(extendedFromInt32(7), extendedFromInt32(3)), 7.0 / 3.0},
        {divide(extendedFromInt32(-1), extendedFromInt32(10)), -0.1},
        {finiteExtended(false, 0x8000000000000400, 0), 1.0},           // tie, even below
        {finiteExtended(false, 0x8000000000000C00, 0), 1.0 + 0x1p-51}, // tie, even above
        {finiteExtended(false, 0x8000000000000401, 0), 1.0 + 0x1p-52}, // just above the tie
        {finiteExtended(false, UINT64_MAX, 0), 2.0},                   // carries out
        {extendedFromInt32(0), 0.0},
        {divide(extendedFromInt32(1), extendedFromInt32(0)), std::numeric_limits<double>::infinity()},
    };
    for (const auto& roundCase : cases) {
        EXPECT_EQ(doubleFromExtended(roundCase.value), roundCase.expected);
    }
    EXPECT_TRUE(std::isnan(doubleFromExtended(divide(extendedFromInt32(0), extendedFromInt32(0)))));
}

} // namespace
} // namespace tarvelle
