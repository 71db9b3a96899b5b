// Extended values as text, so that tests compare them bit for bit and a
// failure shows both sides readably.
#pragma once

#include "numbers/extended.hpp"

#include <cstdio>
#include <string>

namespace tarvelle {

// "NaN" whatever its sign bit; "-0", "+inf"; finite values as
// "+0x8000000000000000p-3" (significand, then the exponent of its top bit).
inline std::string extendedBits(const Extended& value)
{
    const char sign = value.negative ? '-' : '+';
    switch (value.kind) {
    case Extended::Kind::NaN:
        return "NaN";
    case Extended::Kind::Zero:
        return std::string(1, sign) + "0";
    case Extended::Kind::Infinite:
        return std::string(1, sign) + "inf";
    case Extended::Kind::Finite:
        break;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%c0x%016llXp%ld", sign, static_cast<unsigned long long>(value.significand),
                  static_cast<long>(value.exponent));
    return text;
}

inline Extended finiteExtended(bool negative, std::uint64_t significand, std::int32_t exponent)
{
    return Extended{Extended::Kind::Finite, negative, significand, exponent};
}

} // namespace tarvelle
