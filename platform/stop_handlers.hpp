// What runs when the program is stopped from outside or crashes: one owner
// per platform (stop_handlers_posix.cpp, stop_handlers_windows.cpp) installs
// the handlers once, runs the actions the other modules set in the fixed
// order of StopStep, and then ends the process as the stop would have. So no
// module's cleanup depends on who installed a handler first or last.
//
// POSIX: every signal whose default action ends the process and is no crash
// (TERM, INT, HUP, QUIT, PIPE, XCPU, USR1, USR2, ALRM, VTALRM, PROF, SYS,
// TRAP; on Linux also POLL, PWR, STKFLT and the real-time signals) runs all
// steps, then the signal ends the process with its default action, or, where
// it cannot (the first process of a PID namespace), _exit(128 + signal). A
// signal found ignored (nohup) or with a handler of someone else's stays as it
// was. XFSZ is ignored, so that a write past a file-size limit fails with
// EFBIG and the output is reported as not written. The crash signals (SEGV,
// BUS, FPE, ILL, ABRT) run only the steps that hold after a crash.
// Windows: Ctrl+C, Ctrl+Break, closing the console, logoff and shutdown run
// all steps; an unhandled exception only the steps that hold after a crash.
#pragma once

#include <cstddef>

namespace tarvelle {

// In the order they run.
enum class StopStep : std::size_t {
    // First: what a stop leaves on disk matters more than the screen.
    RemoveTemporaryFiles,
    RestoreTerminal,
};
constexpr std::size_t stopStepCount = 2;

// After a crash memory may be damaged: only the terminal is handed back, and
// no file is removed by a name that may no longer be the one written.
constexpr bool runsAfterCrash(StopStep step)
{
    return step == StopStep::RestoreTerminal;
}

// On POSIX it runs in a signal handler, so it may only use
// async-signal-safe calls; it must be safe to run while its module is in use.
using StopAction = void (*)();

// Sets the action of a step, in place of any set before; the first call
// installs the handlers (for the crash signals, the first call for a step
// that runs after a crash). Safe to call from any thread.
void setStopAction(StopStep step, StopAction action);

} // namespace tarvelle
