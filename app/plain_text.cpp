#include "app/plain_text.hpp"

#include "console/text_layout.hpp"

namespace tarvelle {

std::string plainErrorLine(std::string_view inputFileName, std::string_view messageText)
{
    std::string line = "tarvelle: ";
    line += inputFileName;
    line += ": ";
    line += console::messageOnOneLine(messageText);
    return line;
}

} // namespace tarvelle
