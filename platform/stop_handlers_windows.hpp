// Windows only, for the console backend: what the stop handler of
// stop_handlers_windows.cpp does with Ctrl+C.
#pragma once

namespace tarvelle {

// While the dialogue holds the console, Ctrl+C is an ordinary key, also where
// a console still raises it as a control event (Wine on a terminal does): the
// handler then takes the event and runs no step. Otherwise Ctrl+C stops the
// program like the other events.
void setControlCIsKey(bool isKey);

} // namespace tarvelle
