// The stop steps in a child process: their order whoever set them first,
// what a crash runs, and how the process ends.
#include "platform/stop_handlers.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvelle {
namespace {

int stepPipe = -1; // where the child's steps say that they ran

TEST(StopHandlers, EachSignalRunsItsStepsInOrderAndEndsTheProcess)
{
    const struct {
        int signalNumber;
        const char* steps; // F: files removed, T: terminal restored
    } cases[] = {{SIGTERM, "FT"}, {SIGINT, "FT"}, {SIGPIPE, "FT"},
                 {SIGUSR1, "FT"}, {SIGSEGV, "T"}, {SIGABRT, "T"}};
    for (const auto& stopCase : cases) {
        SCOPED_TRACE(stopCase.signalNumber);
        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            stepPipe = pipeEnds[1];
            const struct rlimit noCoreFile = {0, 0};
            ::setrlimit(RLIMIT_CORE, &noCoreFile);
            // Set in the order opposite to the one they run in.
            setStopAction(StopStep::RestoreTerminal, [] { (void)!::write(stepPipe, "T", 1); });
            setStopAction(StopStep::RemoveTemporaryFiles, [] { (void)!::write(stepPipe, "F", 1); });
            ::raise(stopCase.signalNumber);
            ::_exit(0);
        }
        ::close(pipeEnds[1]);
        std::string steps;
        for (char step = 0; ::read(pipeEnds[0], &step, 1) == 1;) {
            steps += step;
        }
        ::close(pipeEnds[0]);
        int waitStatus = 0;
        ::waitpid(child, &waitStatus, 0);
        EXPECT_EQ(steps, stopCase.steps);
        ASSERT_TRUE(WIFSIGNALED(waitStatus));
        EXPECT_EQ(WTERMSIG(waitStatus), stopCase.signalNumber);
    }
}

} // namespace
} // namespace tarvelle
