// Where long double is the 80-bit x87 format, the same rounding and text
// algorithm written in long double is the reference for the software type.

#include "numbers/number_text.hpp"

#include "numbers/extended_bits.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tarvelle {
namespace {

using Real = long double;

bool realIsX87Extended()
{
    return std::numeric_limits<Real>::digits == 64 && std::numeric_limits<Real>::max_exponent == 16384;
}

Extended fromReal(Real value)
{
    if (std::isnan(value)) {
        return Extended{Extended::Kind::NaN, false, 0, 0};
    }
    const bool negative = std::signbit(value);
    if (std::isinf(value)) {
        return Extended{Extended::Kind::Infinite, negative, 0, 0};
    }
    if (value == 0) {
        return Extended{Extended::Kind::Zero, negative, 0, 0};
    }
    int exponent = 0;
    const Real fraction = std::frexp(std::fabs(value), &exponent); // in [0.5, 1)
    return finiteExtended(negative, static_cast<std::uint64_t>(std::ldexp(fraction, 64)), exponent - 1);
}

// Built at run time: on platforms where the test is skipped the larger
// constants do not fit a long double literal.
struct ReferencePowers {
    std::array<Real, 8> small{};
    std::array<Real, 10> large{};
};

ReferencePowers makeReferencePowers()
{
    ReferencePowers powers;
    Real power = 1;
    for (Real& small : powers.small) {
        small = power;
        power *= 10;
    }
    const std::array<const char*, 10> texts = {"1e8",   "1e16",  "1e32",   "1e64",   "1e128",
                                               "1e256", "1e512", "1e1024", "1e2048", "1e4096"};
    for (std::size_t index = 0; index < texts.size(); ++index) {
        powers.large[index] = std::strtold(texts[index], nullptr);
    }
    return powers;
}

class Reference {
public:
    Real powerOfTen(int exponent) const
    {
        Real power = powers_.small[static_cast<std::size_t>(exponent % 8)];
        for (std::size_t index = 0; index < powers_.large.size(); ++index) {
            if ((exponent >> (index + 3)) % 2 == 1) {
                power *= powers_.large[index];
            }
        }
        return power;
    }

    Real roundToPlaces(Real value, int places) const
    {
        if (places < 0 || places > 18) {
            places = 18;
        }
        const Real scale = powerOfTen(places);
        const Real scaled = value * scale;
        if (std::isinf(scaled) && std::isfinite(value)) {
            return value;
        }
        return std::nearbyint(scaled) / scale;
    }

    std::string format(Real value) const
    {
        if (value == 0 || std::isnan(value) || std::fpclassify(value) == FP_SUBNORMAL) {
            return " 0 ";
        }
        if (std::isinf(value)) {
            return value < 0 ? "-9.99999999999999E+998 " : " 9.99999999999999E+998 ";
        }
        const Real magnitude = std::fabs(value);
        int decimalExponent = (std::ilogb(magnitude) * 19728) >> 16; // arithmetic shift: floor
        Real whole = std::nearbyint(scale(magnitude, 17 - decimalExponent));
        if (whole >= 1e18L) {
            whole = std::nearbyint(whole / 10);
            ++decimalExponent;
        } else if (whole < 1e17L) {
            --decimalExponent;
            whole = std::nearbyint(scale(magnitude, 17 - decimalExponent));
        }
        std::string digits = std::to_string(static_cast<std::uint64_t>(whole)).substr(0, 16);
        const char sixteenth = digits.back();
        digits.pop_back();
        if (sixteenth > '5' || (sixteenth == '5' && (digits.back() - '0') % 2 == 1)) {
            // Decimal carry through the string.
            std::size_t position = digits.size();
            while (position > 0 && digits[position - 1] == '9') {
                digits[--position] = '0';
            }
            if (position == 0) {
                digits.assign(1, '1').append(14, '0');
                ++decimalExponent;
            } else {
                ++digits[position - 1];
            }
        }
        while (digits.back() == '0') {
            digits.pop_back();
        }
        std::string text(1, value < 0 ? '-' : ' ');
        text.append(layOut(digits, decimalExponent + 1)).append(1, ' ');
        return text;
    }

private:
    Real scale(Real magnitude, int power) const
    {
        if (power < 0) {
            return magnitude / powerOfTen(-power);
        }
        if (power > 4932) {
            return magnitude * powerOfTen(power - 4096) * powerOfTen(4096);
        }
        return magnitude * powerOfTen(power);
    }

    // 0.digits * 10^beforePoint
    static std::string layOut(const std::string& digits, int beforePoint)
    {
        const int count = static_cast<int>(digits.size());
        const auto exponentForm = [&](int exponent) {
            std::string text = digits.substr(0, 1);
            if (count > 1) {
                text.append(1, '.').append(digits, 1);
            }
            return text.append(exponent < 0 ? "E-" : "E+").append(std::to_string(std::abs(exponent)));
        };
        if (beforePoint >= count) {
            if (beforePoint > 15) {
                return exponentForm(beforePoint - 1);
            }
            return std::string(digits).append(static_cast<std::size_t>(beforePoint - count), '0');
        }
        if (count - beforePoint > 15) {
            return exponentForm(beforePoint - 1);
        }
        if (beforePoint > 0) {
            const auto whole = static_cast<std::size_t>(beforePoint);
            return std::string(digits).insert(whole, 1, '.');
        }
        return std::string(1, '.').append(static_cast<std::size_t>(-beforePoint), '0').append(digits);
    }

    ReferencePowers powers_ = makeReferencePowers();
};

// Runs both sides over one value and keeps the first few disagreements.
class Comparison {
public:
    void rounded(const char* what, const Extended& ours, Real reference)
    {
        const Extended expected = fromReal(reference);
        if (!sameBits(ours, expected)) {
            note(std::string(what) + ": " + extendedBits(ours) + " instead of " + extendedBits(expected));
        }
    }

    void text(const char* what, const Extended& ours, Real reference)
    {
        const std::string ourText = formatNumber(ours);
        const std::string expected = reference_.format(reference);
        if (ourText != expected) {
            note(std::string(what) + " of " + extendedBits(ours) + ": \"" + ourText + "\" instead of \"" +
                 expected + "\"");
        }
    }

    // The value itself, its text, and the value rounded to places and its text.
    void value(const char* what, const Extended& ours, Real reference, int places)
    {
        rounded(what, ours, reference);
        text(what, ours, reference);
        const Extended ourRounded = roundToPlaces(ours, places);
        const Real referenceRounded = reference_.roundToPlaces(reference, places);
        rounded("rounded", ourRounded, referenceRounded);
        text("rounded", ourRounded, referenceRounded);
    }

    const Reference& reference() const { return reference_; }
    long failures() const { return failures_; }
    std::string examples() const { return examples_; }

private:
    static bool sameBits(const Extended& a, const Extended& b)
    {
        if (a.kind != b.kind) {
            return false;
        }
        if (a.kind == Extended::Kind::NaN) {
            return true;
        }
        return a.negative == b.negative &&
               (a.kind != Extended::Kind::Finite || (a.significand == b.significand && a.exponent == b.exponent));
    }

    void note(const std::string& message)
    {
        if (++failures_ <= 10) {
            examples_ += message + "\n";
        }
    }

    Reference reference_;
    long failures_ = 0;
    std::string examples_;
};

constexpr int perGroup = 250'000;

// The groups below: counts, durations (two values each), doubles, extended
// values, and boundaries (nine values per step).
static_assert(perGroup + perGroup / 2 * 2 + perGroup + perGroup / 2 + perGroup / 9 * 9 >= 1'000'000,
              "at least a million values");

class NumberTextAgainstX87 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!realIsX87Extended()) {
            GTEST_SKIP() << "long double is not the 80-bit x87 format here";
        }
    }

    void expectAgreement() const { EXPECT_EQ(comparison_.failures(), 0) << comparison_.examples(); }

    // A 32-bit integer of random bit length and sign, so that small counts
    // are as common as large ones.
    std::int32_t randomInt32()
    {
        const int bits = static_cast<int>(random_() % 32);
        auto magnitude = static_cast<std::int32_t>(random_() & ((std::uint64_t{1} << bits) - 1));
        return random_() % 2 == 0 ? magnitude : -magnitude;
    }

    int randomPlaces()
    {
        // Mostly the report's 0 and 2, sometimes any count including out of range.
        switch (random_() % 4) {
        case 0:
            return 0;
        case 1:
            return 2;
        default:
            return static_cast<int>(random_() % 24) - 3;
        }
    }

    Real randomExtended()
    {
        const std::uint64_t significand = random_() | (std::uint64_t{1} << 63);
        const int exponent = static_cast<int>(random_() % (16383 + 16446)) - 16445;
        const Real value = std::ldexp(static_cast<Real>(significand), exponent - 63);
        return random_() % 2 == 0 ? value : -value;
    }

    std::mt19937_64 random_{20240611};
    Comparison comparison_;
};

TEST_F(NumberTextAgainstX87, QuotientsOfCounts)
{
    for (int index = 0; index < perGroup; ++index) {
        const std::int32_t numerator = randomInt32();
        const std::int32_t denominator = randomInt32();
        const Real reference = static_cast<Real>(numerator) / static_cast<Real>(denominator);
        comparison_.value("quotient", divide(extendedFromInt32(numerator), extendedFromInt32(denominator)),
                          reference, randomPlaces());
    }
    expectAgreement();
}

TEST_F(NumberTextAgainstX87, DurationsAndEventsPerSecond)
{
    constexpr std::array<double, 3> sampleRates = {44100.0, 88200.0, 176400.0};
    for (int index = 0; index < perGroup / 2; ++index) {
        const std::int32_t samples = std::abs(randomInt32());
        const double duration = samples / sampleRates[random_() % 3];
        const std::int32_t events = std::abs(randomInt32()) % (samples / 2 + 1);
        comparison_.value("duration", extendedFromDouble(duration), static_cast<Real>(duration), 2);
        comparison_.value("events per second", divide(extendedFromInt32(events), extendedFromDouble(duration)),
                          static_cast<Real>(events) / static_cast<Real>(duration), 2);
    }
    expectAgreement();
}

TEST_F(NumberTextAgainstX87, DoublesOfEveryExponent)
{
    for (int index = 0; index < perGroup; ++index) {
        const double value = std::bit_cast<double>(random_());
        comparison_.value("double", extendedFromDouble(value), static_cast<Real>(value), randomPlaces());
    }
    expectAgreement();
}

TEST_F(NumberTextAgainstX87, ValuesOfTheWholeExtendedRange)
{
    for (int index = 0; index < perGroup / 2; ++index) {
        const Real a = randomExtended();
        const Real b = randomExtended();
        comparison_.value("extended", fromReal(a), a, randomPlaces());
        // Products and quotients over the whole range reach overflow and the denormals.
        comparison_.rounded("product", multiply(fromReal(a), fromReal(b)), a * b);
        comparison_.rounded("quotient", divide(fromReal(a), fromReal(b)), a / b);
    }
    expectAgreement();
}

TEST_F(NumberTextAgainstX87, NextToRoundingBoundaries)
{
    const auto withNeighbours = [this](const char* what, Real value, int places) {
        comparison_.value(what, fromReal(value), value, places);
        comparison_.value(what, fromReal(std::nextafter(value, -INFINITY)), std::nextafter(value, -INFINITY),
                          places);
        comparison_.value(what, fromReal(std::nextafter(value, INFINITY)), std::nextafter(value, INFINITY),
                          places);
    };
    for (int index = 0; index < perGroup / 9; ++index) {
        // k + 1/2, exact while k stays below 2^62.
        const auto whole = static_cast<std::int64_t>(random_() >> (2 + random_() % 62));
        withNeighbours("half", static_cast<Real>(whole) + 0.5L, 0);
        // x.xx5, the nearest extended value to a tie in the second place.
        const auto thousandths = static_cast<std::int64_t>(random_() >> (12 + random_() % 52)) * 10 + 5;
        withNeighbours("x.xx5", static_cast<Real>(thousandths) / 1000, 2);
        // Eighths of whole numbers put exact ties at the second place.
        withNeighbours("eighth", static_cast<Real>(randomInt32()) / 8, 2);
    }
    expectAgreement();
}

} // namespace
} // namespace tarvelle
