#include "app/plain_text.hpp"

#include "console/text_layout.hpp"
#include "report/byte_escape.hpp"

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
        appendByteEscape(safe, byte);
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
