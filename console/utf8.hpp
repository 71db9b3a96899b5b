// Counting characters in UTF-8 text, where one character may take several bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace tarvelle::console {

// A byte that continues a character begun by an earlier byte.
constexpr bool isUtf8Continuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

inline std::size_t characterCount(std::string_view text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char byte) { return !isUtf8Continuation(byte); }));
}

} // namespace tarvelle::console
