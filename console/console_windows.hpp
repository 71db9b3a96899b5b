// Windows only: the part of the console backend that decides what a console
// key event means, apart so that it is tested without a console.
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

} // namespace tarvelle::console
