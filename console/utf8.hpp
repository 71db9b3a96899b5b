// Counting characters in UTF-8 text, where one character may take several bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <utility>

namespace tarvelle::console {

// A byte that continues a character begun by an earlier byte.
constexpr bool isUtf8Continuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// The cells one character (its UTF-8 bytes) takes on a terminal: two for the
// East Asian wide and fullwidth ones (CJK, Hangul, fullwidth forms, most
// emoji), one for the rest.
inline int characterCells(std::string_view character)
{
    if (character.empty() || static_cast<unsigned char>(character[0]) < 0xE0) {
        return 1; // ASCII and two-byte characters are all narrow
    }
    const bool fourBytes = static_cast<unsigned char>(character[0]) >= 0xF0;
    char32_t point = static_cast<unsigned char>(character[0]) & (fourBytes ? 0x07U : 0x0FU);
    for (std::size_t index = 1; index < character.size(); ++index) {
        point = point << 6 | (static_cast<unsigned char>(character[index]) & 0x3FU);
    }
    constexpr std::pair<char32_t, char32_t> wide[] = {
        {0x1100, 0x115F}, {0x2329, 0x232A},   {0x2E80, 0x303E},   {0x3041, 0x33FF},
        {0x3400, 0x4DBF}, {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},
        {0xF900, 0xFAFF}, {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},
        {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}};
    return std::any_of(std::begin(wide), std::end(wide),
                       [&](const auto& range) { return point >= range.first && point <= range.second; })
               ? 2
               : 1;
}

// The cell, counted from 0 across wrapped rows of columns cells, where a
// character of cells cells is put when the cursor stands at cell: a wide
// character does not fit in a row's last column and starts the next row.
constexpr int placedCell(int cell, int cells, int columns)
{
    return cells == 2 && columns > 1 && cell % columns == columns - 1 ? cell + 1 : cell;
}

inline std::size_t characterCount(std::string_view text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char byte) { return !isUtf8Continuation(byte); }));
}

} // namespace tarvelle::console
