// The screen of the POSIX console, drawn with VT/ANSI sequences. The
// cursor's place is tracked here rather than asked of the terminal, so
// nothing has to be read back.
//
// Sequences written (ESC = 0x1B, CSI = ESC [, BEL = 0x07):
//   CSI 2 J            erase the whole screen; terminals with background colour
//                      erase (xterm, tmux, the Linux console) fill it with the current background
//   CSI row ; col H    put the cursor at a row and column, counted from 1
//   CSI fg ; bg m      colours: 30 black, 90 dark grey (bright black), 97 bright
//                      white as foreground; 40, 100, 107 as background
//   CSI ? 25 h / l     show / hide the cursor
//   CSI 22 ; 0 t       push the window title (xterm title stack)
//   ESC ] 2 ; text BEL set the window title
//   CSI 8 ; rows ; cols t  resize the text area (xterm; many terminals ignore it)
//   CR LF              column 1 of the next row, scrolling on the last row
//                      (output processing is off, so LF alone would not return)
//   BEL                the bell
#include "console/console.hpp"
#include "console/screen_layout.hpp"
#include "console/terminal_posix.hpp"
#include "console/utf8.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include <sys/ioctl.h>
#include <unistd.h>

namespace tarvelle::console {

using posix::writeAll;

namespace {

struct ScreenState {
    int row = 1;
    int column = 1;
    int rows = 15;
    int columns = 80;
    Colour foreground = Colour::Black;
    Colour background = Colour::BrightWhite;
    bool cursorVisible = true;
};
ScreenState screen;

void readScreenSize()
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        screen.rows = size.ws_row;
        screen.columns = size.ws_col;
    }
}

int foregroundCode(Colour colour)
{
    switch (colour) {
    case Colour::Black:
        return 30;
    case Colour::DarkGrey:
        return 90;
    case Colour::BrightWhite:
        return 97;
    }
    return 39; // the terminal's default
}

int backgroundCode(Colour colour)
{
    return foregroundCode(colour) + 10;
}

std::string cursorPositionSequence(int row, int column)
{
    return "\x1b[" + std::to_string(row) + ';' + std::to_string(column) + 'H';
}

bool isControlByte(char byte)
{
    const auto value = static_cast<unsigned char>(byte);
    return value < 0x20 || value == 0x7F;
}

bool localeUsesUtf8()
{
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            std::string lowered(value);
            std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                           [](unsigned char byte) { return static_cast<char>(std::tolower(byte)); });
            return lowered.find("utf-8") != std::string::npos || lowered.find("utf8") != std::string::npos;
        }
    }
    return false;
}

bool closesMessageBox(const Key& key)
{
    return key.kind == KeyKind::Enter || (key.kind == KeyKind::Character && key.bytes == " ") ||
           (key.kind == KeyKind::Ignored && key.bytes == "\x1b");
}

} // namespace

namespace posix {

void startScreen()
{
    readScreenSize();
    screen.row = 1;
    screen.column = 1;
    screen.cursorVisible = true;
}

} // namespace posix

void clearScreen()
{
    readScreenSize();
    writeAll("\x1b[2J\x1b[H");
    screen.row = 1;
    screen.column = 1;
}

void setColours(Colour foreground, Colour background)
{
    screen.foreground = foreground;
    screen.background = background;
    writeAll("\x1b[" + std::to_string(foregroundCode(foreground)) + ';' +
             std::to_string(backgroundCode(background)) + 'm');
}

int cursorRow()
{
    return screen.row;
}

int screenColumns()
{
    return screen.columns;
}

void moveCursor(int row, int column)
{
    screen.row = std::clamp(row, 1, screen.rows);
    screen.column = std::clamp(column, 1, screen.columns);
    writeAll(cursorPositionSequence(screen.row, screen.column));
}

void writeText(std::string_view text)
{
    std::string output;
    std::size_t characterStart = 0;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const bool characterEnds = index + 1 == text.size() || !isUtf8Continuation(text[index + 1]);
        if (!characterEnds) {
            continue;
        }
        const std::string_view character = text.substr(characterStart, index + 1 - characterStart);
        characterStart = index + 1;
        const int cells = characterCells(character);
        if (placedCell(screen.column - 1, cells, screen.columns) != screen.column - 1) {
            // The terminal would put it on the next row itself: the tracking goes there first.
            output += "\r\n";
            screen.column = 1;
            screen.row = std::min(screen.row + 1, screen.rows);
        }
        // A control byte would move the cursor behind the tracking's back.
        for (const char characterByte : character) {
            output += isControlByte(characterByte) ? '?' : characterByte;
        }
        screen.column += cells;
        if (screen.column > screen.columns) {
            // Wrap at once, as the console does, rather than leaving the
            // terminal's pending wrap to the next character.
            output += "\r\n";
            screen.column = 1;
            screen.row = std::min(screen.row + 1, screen.rows);
        }
    }
    writeAll(output);
}

void endLine()
{
    writeAll("\r\n");
    screen.column = 1;
    screen.row = std::min(screen.row + 1, screen.rows);
}

void setCursorVisible(bool visible)
{
    screen.cursorVisible = visible;
    writeAll(visible ? "\x1b[?25h" : "\x1b[?25l");
}

// A terminal has no icon or window menu and cannot be told where its window
// stands: only the title and the size have a counterpart.
void styleWindow(std::string_view title, int columns, int rows)
{
    std::string visibleTitle(title);
    std::replace_if(visibleTitle.begin(), visibleTitle.end(), isControlByte, '?');
    posix::pushTitleOnce();
    writeAll("\x1b]2;" + visibleTitle + '\a');
    writeAll("\x1b[8;" + std::to_string(rows) + ';' + std::to_string(columns) + 't');
}

void showErrorBox(std::string_view title, std::string_view text)
{
    writeAll("\a");
    const ScreenState before = screen;
    setCursorVisible(false);
    drawCells(layOutErrorBox(title, text, screen.rows, screen.columns, localeUsesUtf8()));

    while (!closesMessageBox(readKey())) {
    }

    setColours(before.foreground, before.background);
    moveCursor(before.row, before.column);
    setCursorVisible(before.cursorVisible);
}

} // namespace tarvelle::console
