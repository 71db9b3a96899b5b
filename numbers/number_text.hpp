// The text form of the report's numbers.
#pragma once

#include "numbers/extended.hpp"

#include <cstdint>
#include <string>

namespace tarvelle {

constexpr int significantDigits = 15;

// value rounded to the nearest multiple of 10^-places, ties to even; a count
// above 18 or below 0 counts as 18.
Extended roundToPlaces(Extended value, std::int32_t places);

// A sign position, at most 15 significant digits, one trailing space.
std::string formatNumber(Extended value);

// 10^exponent as formatNumber scales with it: exact up to 10^27, beyond that a
// product of the rounded constants 10^8, 10^16, 10^32, ... An exponent above
// 4932, or a negative one, gives an infinity.
Extended powerOfTen(std::int32_t exponent);

} // namespace tarvelle
