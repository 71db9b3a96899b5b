// Windows only: between the two halves of the console backend, the console
// held and its keys (terminal_windows.cpp) and the screen drawn on it
// (console_windows.cpp). What a key event means is here so that it is tested
// without a console.
#pragma once

#include "console/key_decoder.hpp"

#include <windows.h>

#include <optional>

namespace tarvelle::console {

// nullopt for events that are no key press at all (releases, a modifier or
// lock key alone): they neither count as a key nor end the final wait.
// Keys that are pressed but mean nothing at the prompt (Esc, Tab, control
// characters, cursor and function keys, Alt with a letter) are Ignored.
std::optional<Key> keyFromEvent(const KEY_EVENT_RECORD& event);

// The screen buffer drawn on: the dialogue's own while the console is held,
// standard output's otherwise.
HANDLE outputHandle();

} // namespace tarvelle::console
