// Tarvelle: shows what hard clipping at 3 to 18 dB below the peak would do to
// a 16-bit stereo WAV file.
#include "app/batch.hpp"
#include "app/command_line.hpp"
#include "app/dialogue.hpp"
#include "app/driver.hpp"
#include "app/plain_text.hpp"
#include "console/console.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <variant>

// Output lost on the way to standard output (a full disk, a closed pipe)
// is an error, not a success.
int checkStandardOutput(int exitStatus)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = tarvelle::firstStandardOutputError() != 0 ? tarvelle::firstStandardOutputError() : errno;
    if (!flushed || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "tarvelle: standard output: %s\n",
                     error != 0 ? std::strerror(error) : "could not be written");
        return exitStatus == 0 ? 1 : exitStatus;
    }
    return exitStatus;
}

int runProgram(int argumentCount, char** arguments)
{
    using namespace tarvelle;

    CommandLine line;
    if (const std::optional<int> exitStatus = readCommandLine(argumentCount, arguments, line)) {
        return *exitStatus;
    }
    if (line.delivery.any()) {
        std::variant<DeliveryProfile, DeliveryRefusal> profile = requestedProfile(line.delivery);
        if (const DeliveryRefusal* refusal = std::get_if<DeliveryRefusal>(&profile)) {
            if (!refusal->usage) {
                printText(stderr, "tarvelle: " + refusal->message + "\n");
                return 2;
            }
            return usageError(refusal->message);
        }
        line.options.job.delivery = std::get<DeliveryProfile>(std::move(profile));
        line.options.job.check = line.options.job.loudness = line.anyOption = true;
    }
    if (const std::optional<std::string> message = commandLineError(line)) {
        return usageError(*message);
    }
    line.options.job.keepEvents = line.options.json && (line.events || line.options.job.check);
    if (!line.inputFileNames.empty()) {
        return runBatch(line.inputFileNames, line.options);
    }
    DialogueOutcome outcome;
    {
        const std::unique_ptr<Dialogue> dialogue =
            console::isInteractive() ? makeScreenDialogue() : makeLineDialogue();
        outcome = runDialogue(*dialogue);
    } // the terminal is handed back before the outputs not written are named on it
    reportOutputsNotWritten(outcome.outputsNotWritten);
    return outcome.exitStatus;
}

int main(int argumentCount, char** arguments)
{
    int exitStatus = 1;
    try {
        exitStatus = runProgram(argumentCount, arguments);
    } catch (const std::bad_alloc&) {
        std::fputs("tarvelle: not enough memory\n", stderr);
    }
    return checkStandardOutput(exitStatus);
}
