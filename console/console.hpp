// The console the dialogue writes through: one backend source file per
// platform (console_posix.cpp with termios and VT sequences,
// console_windows.cpp with the Windows console functions).
//
// Only the current colours and the cursor's visibility are kept between calls.
#pragma once

#include "console/key_decoder.hpp"

#include <string_view>

namespace tarvelle::console {

enum class Colour : std::uint8_t { Black = 0, DarkGrey = 8, BrightWhite = 15 };

// Takes the console for the dialogue: keys one at a time, unechoed, Ctrl+C an
// ordinary key. The state found is restored by closeConsole, at exit, and on
// every stop and crash that platform/stop_handlers.hpp handles. False when there is no
// console to take (input or output is not a terminal).
bool openConsole();
// Whether standard input and output are both terminals, so the dialogue can
// run full screen.
bool isInteractive();
// Whether standard error is a terminal, so a progress line can be drawn there.
bool standardErrorIsTerminal();
// Lines of progress at the foot of standard error, drawn there with VT
// sequences: whether it is a terminal that takes them (on Windows, where
// they are turned on for it). From then on a stop clears the lines marked
// shown, from the cursor down; endStatusLines hands the terminal back.
bool startStatusLines();
void setStatusLinesShown(bool shown);
void endStatusLines();
// Standard error's width in columns; 80 where it has none.
int standardErrorColumns();
// Hands the console back as it was found; safe to call more than once.
void closeConsole();

// Blanks in the current colours over the whole screen; cursor to row 1, column 1.
void clearScreen();
void setColours(Colour foreground, Colour background);
// Rows and columns count from 1.
int cursorRow();
int screenColumns();
void moveCursor(int row, int column);
// At the cursor in the current colours, wrapping at the right edge.
void writeText(std::string_view text);
// Column 1 of the next row; on the last row the screen scrolls up one row.
void endLine();
void setCursorVisible(bool visible);

// Blocks until the next key and decodes it.
Key readKey();

// Dresses the dialogue's window: the title, a fixed text area of columns by
// rows, centred, with no way to resize or maximise it. A terminal keeps only
// what it can (title, and size where it allows).
void styleWindow(std::string_view title, int columns, int rows);
// Beeps, then shows a modal box with the title in its frame, the text
// (backslash and n break its lines) and an OK button; returns once the user
// has closed it.
void showErrorBox(std::string_view title, std::string_view text);

} // namespace tarvelle::console
