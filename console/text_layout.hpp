// How message texts are laid out, shared by the box and the plain-text modes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvelle::console {

// The lines of a message text: the two characters backslash and n separate lines.
std::vector<std::string> messageLines(std::string_view text);

// The text with its lines separated by line feeds, for boxes that break lines there.
std::string messageWithLineBreaks(std::string_view text);

// The text on one line: its lines, blanks trimmed at both ends, joined by one blank.
std::string messageOnOneLine(std::string_view text);

} // namespace tarvelle::console
