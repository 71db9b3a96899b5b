#include "app/plain_text.hpp"

#include "console/text_layout.hpp"

namespace tarvelle {

std::string terminalSafeName(std::string_view fileName)
{
    std::string safe;
    safe.reserve(fileName.size());
    for (const char character : fileName) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte >= 0x20 && byte != 0x7F) {
            safe += character;
            continue;
        }
        safe += '\\';
        constexpr std::string_view namedEscapes = "abtnvfr"; // bytes 7 to 13
        if (byte >= 7 && byte <= 13) {
            safe += namedEscapes[byte - 7];
        } else {
            safe += static_cast<char>('0' + (byte >> 6));
            safe += static_cast<char>('0' + ((byte >> 3) & 7));
            safe += static_cast<char>('0' + (byte & 7));
        }
    }
    return safe;
}

std::string plainErrorLine(std::string_view inputFileName, std::string_view messageText)
{
    std::string line = "tarvelle: ";
    line += terminalSafeName(inputFileName);
    line += ": ";
    line += console::messageOnOneLine(messageText);
    return line;
}

} // namespace tarvelle
