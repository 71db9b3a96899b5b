#include "console/text_layout.hpp"

namespace tarvelle::console {

namespace {

constexpr std::string_view lineBreak = "\\n";
constexpr std::string_view blanks = " \t";

std::string_view trimBlanks(std::string_view line)
{
    const std::size_t first = line.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = line.find_last_not_of(blanks);
    return line.substr(first, last - first + 1);
}

} // namespace

std::vector<std::string> messageLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t lineStart = 0;
    for (;;) {
        const std::size_t breakAt = text.find(lineBreak, lineStart);
        if (breakAt == std::string_view::npos) {
            lines.emplace_back(text.substr(lineStart));
            return lines;
        }
        lines.emplace_back(text.substr(lineStart, breakAt - lineStart));
        lineStart = breakAt + lineBreak.size();
    }
}

std::string messageWithLineBreaks(std::string_view text)
{
    const std::vector<std::string> lines = messageLines(text);
    std::string joined = lines.front();
    for (std::size_t index = 1; index < lines.size(); ++index) {
        joined += '\n';
        joined += lines[index];
    }
    return joined;
}

std::string messageOnOneLine(std::string_view text)
{
    std::string joined;
    for (const std::string& line : messageLines(text)) {
        const std::string_view trimmed = trimBlanks(line);
        if (trimmed.empty()) {
            continue; // an empty line would leave two blanks in a row
        }
        if (!joined.empty()) {
            joined += ' ';
        }
        joined += trimmed;
    }
    return joined;
}

} // namespace tarvelle::console
