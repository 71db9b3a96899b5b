#include "platform/stop_handlers_windows.hpp"
#include "platform/stop_handlers.hpp"

#include <windows.h>

#include <array>
#include <atomic>
#include <mutex>

namespace tarvelle {

namespace {

std::array<std::atomic<StopAction>, stopStepCount> stopActions{};
std::atomic<bool> controlCIsKey{false};
LPTOP_LEVEL_EXCEPTION_FILTER previousExceptionFilter = nullptr;

void runStopSteps(bool crashed)
{
    for (std::size_t index = 0; index < stopStepCount; ++index) {
        const StopAction action = stopActions[index].load();
        if (action != nullptr && (!crashed || runsAfterCrash(static_cast<StopStep>(index)))) {
            action();
        }
    }
}

// Runs on a thread of its own. FALSE: the next handler, in the end the
// system's, still ends the program, as it would have without us.
BOOL WINAPI onControlEvent(DWORD event)
{
    if (event == CTRL_C_EVENT && controlCIsKey.load()) {
        return TRUE;
    }
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        runStopSteps(false);
        break;
    default:
        break;
    }
    return FALSE;
}

LONG WINAPI onCrash(EXCEPTION_POINTERS* exception)
{
    runStopSteps(true);
    return previousExceptionFilter != nullptr ? previousExceptionFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

// Without a console there are no events, and nothing to do when the
// registration fails.
void installHandlers()
{
    ::SetConsoleCtrlHandler(onControlEvent, TRUE);
    previousExceptionFilter = ::SetUnhandledExceptionFilter(onCrash);
}

} // namespace

void setStopAction(StopStep step, StopAction action)
{
    stopActions[static_cast<std::size_t>(step)].store(action);
    static std::once_flag installed;
    std::call_once(installed, installHandlers);
}

void setControlCIsKey(bool isKey)
{
    controlCIsKey.store(isKey);
}

} // namespace tarvelle
