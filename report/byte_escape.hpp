// A byte that must not reach a terminal or an XML file as it is, written the
// way ls and git show one: \a \b \t \n \v \f \r, else three octal digits.
#pragma once

#include <string>
#include <string_view>

namespace tarvelle {

inline void appendByteEscape(std::string& out, unsigned char byte)
{
    constexpr std::string_view namedEscapes = "abtnvfr"; // bytes 7 to 13
    out += '\\';
    if (byte >= 7 && byte <= 13) {
        out += namedEscapes[byte - 7];
    } else {
        out += static_cast<char>('0' + (byte >> 6));
        out += static_cast<char>('0' + ((byte >> 3) & 7));
        out += static_cast<char>('0' + (byte & 7));
    }
}

} // namespace tarvelle
