// Reading the fields of a RIFF file: four-character tags and little-endian
// numbers, for the readers of both modes.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tarvelle {

constexpr std::uint16_t pcmFormatTag = 1;
constexpr std::uint16_t floatFormatTag = 3;
constexpr std::uint16_t extensibleFormatTag = 0xFFFE;
// What follows the format tag in every sub-format GUID of the formats read
// and written.
constexpr std::array<std::uint8_t, 14> subFormatTail{0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Whether tag stands at offset, all of it inside bytes.
inline bool hasTag(std::span<const std::uint8_t> bytes, std::size_t offset, std::string_view tag)
{
    return bytes.size() >= offset + tag.size() &&
           std::equal(
               tag.begin(), tag.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset),
               [](char expected, std::uint8_t actual) { return static_cast<std::uint8_t>(expected) == actual; });
}

// The little-endian number of length bytes at offset.
inline std::uint64_t readUint(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t length)
{
    std::uint64_t value = 0;
    for (std::size_t index = length; index-- > 0;) {
        value = value << 8 | bytes[offset + index];
    }
    return value;
}

} // namespace tarvelle
