#include "platform/stop_handlers.hpp"

#include <array>
#include <atomic>
#include <csignal>
#include <mutex>

#include <pthread.h>
#include <unistd.h>

namespace tarvelle {

namespace {

// Signals whose default action ends the process, crashes aside. SIGXFSZ is
// not among them: it is ignored instead (installEndingHandlers).
constexpr int endingSignals[] = {
    SIGTERM,
    SIGINT,
    SIGHUP,
    SIGQUIT,
    SIGPIPE,
    SIGXCPU,
    SIGUSR1,
    SIGUSR2,
    SIGALRM,
    SIGVTALRM,
    SIGPROF,
    SIGSYS,
    SIGTRAP,
#ifdef __linux__
    // Linux's own that end the process by default (SIGIO, which SIGPOLL is
    // here, is ignored by default on the BSDs).
    SIGPOLL,
    SIGPWR,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#endif
};

// A fault in the program: only the steps that hold after a crash run.
constexpr int crashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

std::array<std::atomic<StopAction>, stopStepCount> stopActions{};

// The first stop runs the steps; another arriving meanwhile on another thread
// waits for it to end the process.
std::atomic<bool> stopping{false};

bool isCrashSignal(int signalNumber)
{
    for (const int crashSignal : crashSignals) {
        if (crashSignal == signalNumber) {
            return true;
        }
    }
    return false;
}

// Async-signal-safe: sigaction, sigprocmask-like calls, raise and _exit only.
[[noreturn]] void endAsTheSignalWould(int signalNumber)
{
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signalNumber, &defaultAction, nullptr);
    sigset_t signalOnly;
    sigemptyset(&signalOnly);
    sigaddset(&signalOnly, signalNumber);
    ::pthread_sigmask(SIG_UNBLOCK, &signalOnly, nullptr);
    // Ends the process here, its status naming the signal...
    ::raise(signalNumber);
    // ...except for the first process of a PID namespace (a container's),
    // whose own signals with the default action are dropped.
    ::_exit(128 + signalNumber);
}

extern "C" void runStopStepsAndEnd(int signalNumber)
{
    if (stopping.exchange(true)) {
        for (;;) {
            ::pause();
        }
    }
    const bool crashed = isCrashSignal(signalNumber);
    for (std::size_t index = 0; index < stopStepCount; ++index) {
        const StopAction action = stopActions[index].load();
        if (action != nullptr && (!crashed || runsAfterCrash(static_cast<StopStep>(index)))) {
            action();
        }
    }
    endAsTheSignalWould(signalNumber);
}

struct sigaction stopAction()
{
    struct sigaction action {};
    action.sa_handler = runStopStepsAndEnd;
    sigfillset(&action.sa_mask); // one handler at a time on this thread
    return action;
}

// Taken over only from the default: one ignored (nohup, a background job's
// INT and QUIT) still ends nothing, and one handled by someone else (a
// profiler's PROF) stays theirs.
void takeOverFromTheDefault(int signalNumber, const struct sigaction& action)
{
    struct sigaction found {};
    if (::sigaction(signalNumber, nullptr, &found) == 0 && found.sa_handler == SIG_DFL &&
        (found.sa_flags & SA_SIGINFO) == 0) {
        ::sigaction(signalNumber, &action, nullptr);
    }
}

void installEndingHandlers()
{
    const struct sigaction action = stopAction();
    for (const int signalNumber : endingSignals) {
        takeOverFromTheDefault(signalNumber, action);
    }
#ifdef SIGRTMIN
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
        takeOverFromTheDefault(signalNumber, action);
    }
#endif
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
}

// A fatal error must hand the terminal back whoever watched for it before.
void installCrashHandlers()
{
    const struct sigaction action = stopAction();
    for (const int signalNumber : crashSignals) {
        ::sigaction(signalNumber, &action, nullptr);
    }
}

} // namespace

void setStopAction(StopStep step, StopAction action)
{
    stopActions[static_cast<std::size_t>(step)].store(action);
    static std::once_flag endingInstalled;
    std::call_once(endingInstalled, installEndingHandlers);
    if (runsAfterCrash(step)) {
        static std::once_flag crashInstalled;
        std::call_once(crashInstalled, installCrashHandlers);
    }
}

} // namespace tarvelle
