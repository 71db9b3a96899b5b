// Tarvelle: shows what hard clipping at 3 to 18 dB below the peak would do to
// a 16-bit stereo WAV file.
#include "app/batch.hpp"
#include "app/dialogue.hpp"
#include "app/driver.hpp"
#include "app/plain_text.hpp"
#include "console/console.hpp"
#include "platform/file_access.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view usageText =
    "Usage: tarvelle [OPTION...] [FILE...]\n"
    "\n"
    "Shows what hard clipping would do to a 16-bit stereo WAV file (44.1, 88.2\n"
    "or 176.4 kHz). The file's peak is found and clipping is simulated at 3, 6,\n"
    "9, 12, 15 and 18 dB below it. For each level two files are written beside\n"
    "the input, named after it less its last four characters:\n"
    "  NAME 3dB clipping.wav ... NAME 18dB clipping.wav   the clipped audio\n"
    "  NAME 3dB clipping.txt ... NAME 18dB clipping.txt   clipping events per\n"
    "                                                     channel, by duration\n"
    "With FILE..., every file in turn, one line each. A FILE that is one of the\n"
    "outputs of another FILE named with it is skipped (so tarvelle *.wav can be\n"
    "run again in the same folder).\n"
    "\n"
    "Without FILE, asks for a file name in the terminal. When standard input is\n"
    "not a terminal, reads names as the dialogue would: the first accepted name\n"
    "is processed and the program ends. For many files use tarvelle FILE... or\n"
    "xargs, for example: find . -name '*.wav' -print0 | xargs -0 tarvelle\n"
    "\n"
    "Options (with FILE only):\n"
    "  -o, --output-dir DIR  write the outputs into the folder DIR, which must exist\n"
    "  --reports-only        write the six reports only, no WAV files\n"
    "  --json                a JSON object per file on standard output, a line each\n"
    "  -q, --quiet           no line per file on standard output (JSON lines stay)\n"
    "  --                    what follows is a FILE, even if it begins with -\n"
    "  -h, --help            show this text and exit\n"
    "  --version             show the version and exit\n"
    "\n"
    "Exit status: 0 when every file was accepted and all its outputs written,\n"
    "1 when a file was rejected or an output could not be written, 2 for a\n"
    "wrong option or a missing output folder.\n";

int usageError(const std::string& message)
{
    using namespace tarvelle;
    printText(stderr, "tarvelle: " + message + "\n\n");
    printText(stderr, usageText);
    return 2;
}

// For -o DIR when DIR is no folder: a name that leads to something else is
// told from one that leads nowhere.
std::string notAFolderMessage(const std::string& folderName)
{
    using namespace tarvelle;
    const bool exists = fileIdentity(folderName).has_value();
    std::string message = exists ? "'" : "no folder named '";
    message += terminalSafeName(folderName);
    message += exists ? "' is not a folder" : "'";
    return message;
}

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
    BatchOptions options;
    bool anyOption = false;
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
        } else if (argument == "-o" || argument == "--output-dir") {
            if (index + 1 == argumentCount || std::string_view(arguments[index + 1]).empty()) {
                return usageError("option '" + terminalSafeName(argument) + "' needs a folder name");
            }
            options.job.outputFolder = arguments[++index];
            anyOption = true;
        } else if (argument.starts_with("--output-dir=") && argument.size() > 13) {
            options.job.outputFolder = argument.substr(13);
            anyOption = true;
        } else if (argument == "--reports-only") {
            options.job.reportsOnly = anyOption = true;
        } else if (argument == "--json") {
            options.json = anyOption = true;
        } else if (argument == "-q" || argument == "--quiet") {
            options.quiet = anyOption = true;
        } else {
            return usageError("unknown option '" + terminalSafeName(argument) + "'");
        }
    }

    if (optionsEnded && inputFileNames.empty()) {
        printText(stderr, usageText);
        return 2;
    }
    if (anyOption && inputFileNames.empty()) {
        return usageError("the options are for FILE..., and no FILE was named");
    }
    if (!options.job.outputFolder.empty() && !isFolder(options.job.outputFolder)) {
        return usageError(notAFolderMessage(options.job.outputFolder));
    }
    if (!inputFileNames.empty()) {
        return runBatch(inputFileNames, options);
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
