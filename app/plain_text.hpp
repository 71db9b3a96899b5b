// Plain text on the standard streams, for line mode, batch mode and the
// command line alike.
#pragma once

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

namespace tarvelle {

// Why standard output first failed (errno), 0 while it has not: the stream
// drops what it could not write, so the reason would be lost by the end.
inline int& firstStandardOutputError()
{
    static int error = 0;
    return error;
}

inline void printText(std::FILE* stream, std::string_view text)
{
    // An empty view may hold no pointer at all, which fwrite must not be given.
    if (!text.empty()) {
        std::fwrite(text.data(), 1, text.size(), stream);
    }
}

// A line of plain text, flushed at once so that it keeps its place among the
// other stream's lines.
inline void printLine(std::FILE* stream, std::string_view text)
{
    printText(stream, text);
    std::fputc('\n', stream);
    if (std::fflush(stream) != 0 && stream == stdout && firstStandardOutputError() == 0) {
        firstStandardOutputError() = errno;
    }
}

// A file name as it may go to a terminal: each control byte (below 0x20, and
// 0x7F) as a backslash escape, \a \b \t \n \v \f \r or else three octal
// digits (ESC is \033), as ls and git show them; every other byte as it is.
std::string terminalSafeName(std::string_view fileName);

// "tarvelle: NAME: " (NAME made safe for the terminal) and the box text on one line.
std::string plainErrorLine(std::string_view inputFileName, std::string_view messageText);

} // namespace tarvelle
