// Between the two halves of the POSIX console: the terminal held in raw mode
// (terminal_posix.cpp) and the screen drawn on it (console_posix.cpp).
#pragma once

#include <string_view>

namespace tarvelle::console::posix {

// All of bytes to standard output, unless the terminal is gone.
// Async-signal-safe: only write is used.
void writeAll(std::string_view bytes);
// Pushes the title found onto the terminal's title stack, once while the
// console is held, so that handing the console back restores it.
void pushTitleOnce();
// A fresh screen once the console is taken: its size read, the cursor on
// row 1, column 1, and shown.
void startScreen();

} // namespace tarvelle::console::posix
