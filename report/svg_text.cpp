#include "report/plot_parts.hpp"

#include "report/byte_escape.hpp"

#include <algorithm>
#include <charconv>

namespace tarvelle::plot {

std::string number(double value, int places)
{
    char text[64];
    const auto result = std::to_chars(std::begin(text), std::end(text), value, std::chars_format::fixed, places);
    std::string formatted(text, result.ptr);
    // "-0.0" would read as a value below zero.
    if (formatted.find_first_not_of("-0.") == std::string::npos) {
        formatted = places > 0 ? "0." + std::string(static_cast<std::size_t>(places), '0') : "0";
    }
    return formatted;
}

namespace {

// Bytes of a well-formed UTF-8 character at the start of text that XML 1.0
// allows; 0 where there is none.
std::size_t xmlCharacterLength(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(0);
    if (lead < 0x80) {
        return lead >= 0x20 && lead != 0x7F ? 1 : 0;
    }
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    // U+FFFE and U+FFFF are not XML characters either.
    if (lead == 0xEF && byte(1) == 0xBF && byte(2) >= 0xBE) {
        return 0;
    }
    return length;
}

} // namespace

// Markup characters as entities; a byte XML cannot hold (a control byte, or
// one that is not part of valid UTF-8) as a backslash escape, as the program
// prints such names elsewhere (\t, \033, \377).
void appendXmlText(std::string& out, std::string_view text)
{
    while (!text.empty()) {
        const char character = text.front();
        const std::size_t length = xmlCharacterLength(text);
        if (length > 1) {
            out.append(text.substr(0, length));
        } else if (length == 1) {
            switch (character) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += character;
            }
        } else {
            appendByteEscape(out, static_cast<unsigned char>(character));
        }
        text.remove_prefix(std::max<std::size_t>(length, 1));
    }
}

std::uint64_t frameMilliseconds(std::uint64_t frame, std::uint64_t rate, bool roundUp)
{
    const std::uint64_t part = frame % rate * 1000;
    return frame / rate * 1000 + part / rate + (roundUp && part % rate != 0 ? 1 : 0);
}

std::string timeText(std::uint64_t milliseconds, int decimals)
{
    std::string text = std::to_string(milliseconds / 60000) + ':';
    const std::uint64_t seconds = milliseconds / 1000 % 60;
    text += static_cast<char>('0' + seconds / 10);
    text += static_cast<char>('0' + seconds % 10);
    if (decimals > 0) {
        const std::string fraction = std::to_string(1000 + milliseconds % 1000);
        text += '.';
        text += fraction.substr(1, static_cast<std::size_t>(decimals));
    }
    return text;
}

std::string countText(std::uint64_t count, std::string_view unit)
{
    std::string text = std::to_string(count) + ' ';
    text += unit;
    if (count != 1) {
        text += 's';
    }
    return text;
}

void appendText(std::string& out, double x, double y, std::string_view text, std::string_view attributes)
{
    out += "<text x=\"" + number(x) + "\" y=\"" + number(y) + '"';
    if (!attributes.empty()) {
        out += ' ';
        out += attributes;
    }
    out += '>';
    appendXmlText(out, text);
    out += "</text>\n";
}

void appendRect(std::string& out, double x, double y, double width, double height, std::string_view attributes)
{
    out += "<rect x=\"" + number(x) + "\" y=\"" + number(y) + "\" width=\"" + number(width) + "\" height=\"" +
           number(height) + "\" " + std::string(attributes) + "/>\n";
}

void appendLine(std::string& out, double x1, double y1, double x2, double y2, std::string_view attributes)
{
    out += "<line x1=\"" + number(x1) + "\" y1=\"" + number(y1) + "\" x2=\"" + number(x2) + "\" y2=\"" +
           number(y2) + "\" " + std::string(attributes) + "/>\n";
}

} // namespace tarvelle::plot
