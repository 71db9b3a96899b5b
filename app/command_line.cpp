// The command line: the options and files it names, read and checked
// together before anything runs.
#include "app/command_line.hpp"

#include "app/plain_text.hpp"
#include "platform/file_access.hpp"
#include "source/other_input.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace tarvelle {

namespace {

constexpr std::string_view usageText =
    "Usage: tarvelle [OPTION...] [FILE...]\n"
    "\n"
    "Shows what hard clipping would do to a WAV recording. The file's peak is\n"
    "found and clipping is simulated at 3, 6, 9, 12, 15 and 18 dB below it. For\n"
    "each level two files are written beside the input, named after it less its\n"
    "last four characters:\n"
    "  NAME 3dB clipping.wav ... NAME 18dB clipping.wav   the clipped audio\n"
    "  NAME 3dB clipping.txt ... NAME 18dB clipping.txt   clipping events per\n"
    "                                                     channel, by duration\n"
    "To measure without writing anything, use --check (clipping already in the\n"
    "file), with --loudness for true peak and loudness:\n"
    "  tarvelle --check --loudness FILE...\n"
    "With FILE..., every file in turn, one line each. Any uncompressed WAV is\n"
    "read: 8-bit to 32-bit integer or 32- and 64-bit float samples, 1 to 64\n"
    "channels, 8 to 768 kHz. A FILE that is one of the outputs of another FILE\n"
    "named with it is skipped (so tarvelle *.wav can be run again in the same\n"
    "folder).\n"
    "\n"
    "Without FILE, asks in the terminal for a 16-bit stereo WAV file of 44.1,\n"
    "88.2 or 176.4 kHz. When standard input is not a terminal, reads names as\n"
    "the dialogue would: the first accepted name is processed and the program\n"
    "ends. For many files use tarvelle FILE... or xargs, for example:\n"
    "  find . -name '*.wav' -print0 | xargs -0 tarvelle\n"
    "\n"
    "Options (with FILE only):\n"
    "  -o, --output-dir DIR  write the outputs into the folder DIR, which must exist\n"
    "  --reports-only        write the six reports only, no WAV files\n"
    "  --json                a JSON object per file on standard output, a line each\n"
    "  -q, --quiet           no line per file on standard output (JSON lines and\n"
    "                        CSV rows stay); no progress lines\n"
    "  --csv                 a table on standard output instead of the lines: a\n"
    "                        heading row, then a row per file; checks each file\n"
    "                        and measures its loudness, as --check --loudness\n"
    "  --check               find the clipping already in each file: a line per\n"
    "                        file, and exit status 3 if any is clipped; the six\n"
    "                        levels are not written\n"
    "  --min-run N           with --check, runs of at least N samples (default 3)\n"
    "  --true-peak-limit DB  with --check, a true peak above DB dBTP is clipping too\n"
    "  --labels              an Audacity label track of each level's clipping\n"
    "                        events, or of the clipping --check finds\n"
    "  --loudness            measure true peak and loudness (EBU R 128)\n"
    "  --plot                a picture of where and how the levels clip,\n"
    "                        NAME clipping.svg\n"
    "  --events              with --json, every level's events as [frame, length]\n"
    "  -j, --jobs N          work on N files at once; lines still come in the order\n"
    "                        the files were named\n"
    "  --deliver NAME        pass or fail each file against a delivery profile:\n"
    "                        ebu-r128, ebu-r128-s1, atsc-a85, streaming, podcast;\n"
    "                        a line per file, and exit status 3 if any fails\n"
    "  --spec FILE           a house delivery profile, lines of KEY = VALUE\n"
    "  --target LUFS, --tolerance LU, --max-true-peak DB, --max-short-term LUFS,\n"
    "  --max-lra LU, --min-plr LU, --max-silence SECONDS, --max-dc-offset DB\n"
    "                        a delivery profile's limits, over the named one's,\n"
    "                        or alone a profile of their own\n"
    "  --summary             end with a line of counts on standard error: files,\n"
    "                        written or checked, clipped, refused (the default for\n"
    "                        more than one file when standard error is a terminal);\n"
    "                        with loudness, the loudest and quietest file and the\n"
    "                        loudness of all as one; with --json, as a last JSON line\n"
    "  --name NAME           name standard input (FILE '-') NAME in reports and outputs\n"
    "  --                    what follows is a FILE, even if it begins with -\n"
    "  -h, --help            show this text and exit\n"
    "  --version             show the version and exit\n"
    "\n"
    "Exit status: 0 when every file was accepted and all its outputs written,\n"
    "1 when a file was rejected or an output could not be written, 2 for a\n"
    "wrong option or a missing output folder, 3 when --check found clipping\n"
    "or a file failed its delivery profile (and nothing else went wrong).\n";

constexpr int maxJobs = 64;

// A whole number from least to most, digits only.
std::optional<int> parseWholeNumber(std::string_view text, int least, int most)
{
    int number = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9' || number > most) {
            return std::nullopt;
        }
        number = number * 10 + (digit - '0');
    }
    if (text.empty() || number < least || number > most) {
        return std::nullopt;
    }
    return number;
}

// An option that would change nothing in the mode chosen is refused, so that
// no one believes it did something.
std::optional<std::string> optionWithoutEffect(const tarvelle::BatchOptions& options, bool events,
                                               bool minRunGiven)
{
    const tarvelle::JobOptions& job = options.job;
    if (options.csv && options.json) {
        return "option '--csv' does not go with --json: both are written on standard output";
    }
    if (options.csv && job.reportsOnly) {
        return "option '--reports-only' does not go with --csv, which writes no reports";
    }
    if (events && !options.json) {
        return "option '--events' goes with --json";
    }
    if (options.truePeakLimitDbtp && !job.check) {
        return "option '--true-peak-limit' goes with --check";
    }
    if (options.truePeakLimitDbtp && job.delivery) {
        return "option '--true-peak-limit' does not go with a delivery profile, which sets its own "
               "(--max-true-peak)";
    }
    if (minRunGiven && !job.check) {
        return "option '--min-run' goes with --check";
    }
    if (job.check && job.reportsOnly) {
        return "option '--reports-only' does not go with --check, which writes no reports";
    }
    if (job.check && events) {
        return "option '--events' does not go with --check, whose runs are in the JSON already";
    }
    if (job.check && !job.outputFolder.empty() && !job.labels && !job.plot) {
        return std::string("option '-o' places the files written, and ") + (options.csv ? "--csv" : "--check") +
               " writes none without --labels or --plot";
    }
    return std::nullopt;
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

// The arguments, read one at a time; an option's value may take the next one.
struct Arguments {
    int count = 0;
    char** values = nullptr;
    int index = 1;

    // The value of option name as "NAME VALUE", "NAME=VALUE" or, for -j,
    // "-jVALUE"; empty when missing.
    std::string_view valueOf(std::string_view argument, std::string_view name)
    {
        if (argument == name) {
            return index + 1 < count ? std::string_view(values[++index]) : std::string_view();
        }
        const std::string_view rest = argument.substr(name.size());
        return rest.starts_with('=') ? rest.substr(1) : rest;
    }
};

bool isOption(std::string_view argument, std::string_view name)
{
    return argument == name || (argument.starts_with(name) && argument[name.size()] == '=');
}

// An option without a value; false when argument is none of them.
bool readFlag(std::string_view argument, CommandLine& line)
{
    tarvelle::JobOptions& job = line.options.job;
    bool* flag = nullptr;
    if (argument == "--reports-only") {
        flag = &job.reportsOnly;
    } else if (argument == "--check") {
        flag = &job.check;
    } else if (argument == "--plot") {
        flag = &job.plot;
    } else if (argument == "--labels") {
        flag = &job.labels;
    } else if (argument == "--events") {
        flag = &line.events;
    } else if (argument == "--loudness") {
        flag = &job.loudness;
    } else if (argument == "--summary") {
        flag = &line.options.summary;
    } else if (argument == "--json") {
        flag = &line.options.json;
    } else if (argument == "-q" || argument == "--quiet") {
        flag = &line.options.quiet;
    } else if (argument == "--csv") {
        // The table's columns are the check's, the loudness's and the channels'.
        flag = &line.options.csv;
        job.check = job.loudness = job.channelStats = true;
    }
    if (flag == nullptr) {
        return false;
    }
    *flag = line.anyOption = true;
    return true;
}

std::optional<int> readTruePeakLimit(std::string_view argument, Arguments& arguments, CommandLine& line)
{
    const std::string value(arguments.valueOf(argument, "--true-peak-limit"));
    char* end = nullptr;
    const double limit = value.empty() ? 0.0 : std::strtod(value.c_str(), &end);
    if (value.empty() || end != value.c_str() + value.size() || !std::isfinite(limit) || limit < -100.0 ||
        limit > 20.0) {
        return usageError("option '--true-peak-limit' takes a level in dBTP from -100 to 20, as -1");
    }
    line.options.truePeakLimitDbtp = limit;
    line.options.job.loudness = line.anyOption = true;
    return std::nullopt;
}

// An option with a value, or one not known. Returns the exit status when the
// program ends here.
std::optional<int> readValuedOption(std::string_view argument, Arguments& arguments, CommandLine& line)
{
    using namespace tarvelle;
    if (argument == "-o" || argument == "--output-dir") {
        if (arguments.index + 1 == arguments.count ||
            std::string_view(arguments.values[arguments.index + 1]).empty()) {
            return usageError("option '" + terminalSafeName(argument) + "' needs a folder name");
        }
        line.options.job.outputFolder = arguments.values[++arguments.index];
    } else if (argument.starts_with("--output-dir=") && argument.size() > 13) {
        line.options.job.outputFolder = argument.substr(13);
    } else if (argument.starts_with("-j") || isOption(argument, "--jobs")) {
        const std::optional<int> jobs = parseWholeNumber(
            arguments.valueOf(argument, argument.starts_with("-j") ? "-j" : "--jobs"), 1, maxJobs);
        if (!jobs) {
            return usageError("option '-j' takes a number of files from 1 to " + std::to_string(maxJobs));
        }
        line.options.jobs = *jobs;
    } else if (isOption(argument, "--min-run")) {
        const std::optional<int> length = parseWholeNumber(arguments.valueOf(argument, "--min-run"), 1, 1000000);
        if (!length) {
            return usageError("option '--min-run' takes a number of samples from 1 to 1000000");
        }
        line.options.job.minRunLength = *length;
        line.minRunGiven = true;
    } else if (isOption(argument, "--name")) {
        line.options.standardInputName = arguments.valueOf(argument, "--name");
        if (line.options.standardInputName.empty()) {
            return usageError("option '--name' needs a name for standard input's outputs");
        }
    } else if (isOption(argument, "--true-peak-limit")) {
        return readTruePeakLimit(argument, arguments, line);
    } else if (const std::optional<std::string_view> key = deliveryOptionKey(argument)) {
        const std::string value(arguments.valueOf(argument, "--" + std::string(*key)));
        if (value.empty()) {
            return usageError("option '--" + std::string(*key) + "' needs a value");
        }
        DeliveryRequest& delivery = line.delivery;
        (*key == "deliver" ? delivery.profileName
         : *key == "spec"  ? delivery.profileFile
                           : delivery.values.emplace_back(*key, "").second) = value;
    } else {
        return usageError("unknown option '" + terminalSafeName(argument) + "'");
    }
    line.anyOption = true;
    return std::nullopt;
}

} // namespace

// One line and where to look, as other command-line tools do: the whole help
// would bury the line that says what was wrong.
int usageError(const std::string& message)
{
    printText(stderr, "tarvelle: " + message + "\nTry 'tarvelle --help' for more information.\n");
    return 2;
}

// Reads every argument; returns the exit status when the program ends here
// (help, version, a wrong option).
std::optional<int> readCommandLine(int argumentCount, char** argumentValues, CommandLine& line)
{
    Arguments arguments{argumentCount, argumentValues};
    for (; arguments.index < arguments.count; ++arguments.index) {
        const std::string_view argument = arguments.values[arguments.index];
        if (line.optionsEnded || argument.size() < 2 || argument.front() != '-') {
            line.inputFileNames.emplace_back(argument);
        } else if (argument == "--") {
            line.optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            tarvelle::printText(stdout, usageText);
            return 0;
        } else if (argument == "--version") {
            tarvelle::printText(stdout, "tarvelle " TARVELLE_VERSION "\n" + tarvelle::otherInputsLine() + "\n");
            return 0;
        } else if (!readFlag(argument, line)) {
            if (const std::optional<int> exitStatus = readValuedOption(argument, arguments, line)) {
                return exitStatus;
            }
        }
    }
    return std::nullopt;
}

// The options read together: what they miss or what they would do in vain.
std::optional<std::string> commandLineError(const CommandLine& line)
{
    if (std::optional<std::string> message = optionWithoutEffect(line.options, line.events, line.minRunGiven)) {
        return message;
    }
    if (line.optionsEnded && line.inputFileNames.empty()) {
        return "no FILE after '--'";
    }
    if (line.anyOption && line.inputFileNames.empty()) {
        return "the options are for FILE..., and no FILE was named";
    }
    const std::string& outputFolder = line.options.job.outputFolder;
    if (!outputFolder.empty() && !tarvelle::isFolder(outputFolder)) {
        return notAFolderMessage(outputFolder);
    }
    return std::nullopt;
}

} // namespace tarvelle
