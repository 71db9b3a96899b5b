// The console the dialogue writes through: one backend source file per
// platform (console_posix.cpp with termios and VT sequences,
// console_windows.cpp with the Windows console functions).
//
// Only the current colours and the cursor's visibility are kept between calls.
#pragma once

#include "console/key_decoder.hpp"

#include <cstdint>
#include <string_view>

namespace tarvelle::console {

enum class Colour : std::uint8_t { Black = 0, DarkGrey = 8, BrightWhite = 15 };

// Takes the console for the dialogue: keys one at a time, unechoed, Ctrl+C an
// ordinary key. The state found is restored by closeConsole, at exit, on
// SIGTERM, SIGHUP and SIGINT, and on a fatal error. False when there is no
// console to take (input or output is not a terminal).
bool openConsole();
// Whether standard input and output are both terminals, so the dialogue can
// run full screen.
bool isInteractive();
// Whether standard error is a terminal, so a progress line can be drawn there.
bool standardErrorIsTerminal();
// Hands the console back as it was found; safe to call more than once.
void closeConsole();

// Blanks in the current colours over the whole screen; cursor to row 1, column 1.
void clearScreen();
void setColours(Colour foreground, Colour background);
// Rows and columns count from 1.
int cursorRow();
int screenRows();
int screenColumns();
void moveCursor(int row, int column);
// At the cursor in the current colours, wrapping at the right edge.
void writeText(std::string_view text);
// Column 1 of the next row; on the last row the screen scrolls up one row.
void endLine();
void setCursorVisible(bool visible);

// Blocks until the next key and decodes it.
Key readKey();
// Whether a key press is waiting, without taking it.
bool keyWaiting();

// USER32's beep; the terminal bell on POSIX.
void MessageBeep(unsigned type);

// The console-window library calls, made in the same order with the same
// values on every platform; where a platform has no counterpart, no action.
void InitConsoleTools(void* moduleInstance, int a, int b, int c, std::int32_t* state, int d);
void ConsoleToolBar(int a, int b);
void ConsoleTitle(const char* title);
void ConsoleIcon(int iconId);
void DeleteWindowMenuItem(int menuItem);
void Console80x(int rows);
void ConsoleMove(int x, int y);
// A framed box with the title in its frame, the text and an OK button;
// returns when the user has closed it.
int ConsoleMessageBox(const char* text, int a, const char* title, int b, int c);

} // namespace tarvelle::console
