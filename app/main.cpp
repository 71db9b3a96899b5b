// Tarvelle: shows what hard clipping at 3 to 18 dB below the peak would do to
// a 16-bit stereo WAV file.
#include "app/batch.hpp"
#include "app/dialogue.hpp"
#include "app/driver.hpp"
#include "app/plain_text.hpp"
#include "console/console.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view usageText =
    "Usage: tarvelle [FILE...]\n"
    "\n"
    "Shows what hard clipping would do to a 16-bit stereo WAV file (44.1, 88.2\n"
    "or 176.4 kHz). The file's peak is found and clipping is simulated at 3, 6,\n"
    "9, 12, 15 and 18 dB below it. For each level two files are written beside\n"
    "the input, named after it less its last four characters:\n"
    "  NAME 3dB clipping.wav ... NAME 18dB clipping.wav   the clipped audio\n"
    "  NAME 3dB clipping.txt ... NAME 18dB clipping.txt   clipping events per\n"
    "                                                     channel, by duration\n"
    "\n"
    "Without FILE, asks for a file name in the terminal (or reads names line by\n"
    "line when standard input is not a terminal).\n"
    "\n"
    "Options:\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Exit status: 0 when every file was accepted and all its outputs written,\n"
    "1 when a file was rejected or an output could not be written, 2 for a\n"
    "wrong option.\n";

} // namespace

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

    std::vector<std::string> inputFileNames;
    bool optionsEnded = false;
    for (int index = 1; index < argumentCount; ++index) {
        const std::string_view argument = arguments[index];
        if (optionsEnded || argument.size() < 2 || argument.front() != '-') {
            inputFileNames.emplace_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            printText(stdout, usageText);
            return 0;
        } else if (argument == "--version") {
            printText(stdout, "tarvelle " TARVELLE_VERSION "\n");
            return 0;
        } else {
            std::fprintf(stderr, "tarvelle: unknown option '%s'\n\n", arguments[index]);
            printText(stderr, usageText);
            return 2;
        }
    }

    if (optionsEnded && inputFileNames.empty()) {
        printText(stderr, usageText);
        return 2;
    }
    if (!inputFileNames.empty()) {
        return runBatch(inputFileNames);
    }
    const std::unique_ptr<Dialogue> dialogue =
        console::isInteractive() ? makeScreenDialogue() : makeLineDialogue();
    return runDialogue(*dialogue);
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
