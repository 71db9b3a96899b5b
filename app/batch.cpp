#include "app/batch.hpp"

#include "app/clip_job.hpp"
#include "app/input_checks.hpp"
#include "app/output_names.hpp"
#include "app/plain_text.hpp"
#include "clip/peak_clip.hpp"
#include "console/console.hpp"
#include "console/text_layout.hpp"
#include "report/json_result.hpp"

#include <cstdint>
#include <cstdio>
#include <map>
#include <new>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>

namespace tarvelle {

namespace {

void reportRejection(const std::string& inputFileName, InputError error)
{
    printLine(stderr, plainErrorLine(inputFileName, inputErrorText(error)));
}

// A progress line on the terminal, overwritten in place and blanked again.
class ProgressLine {
public:
    explicit ProgressLine(bool shown) : shown_(shown) {}
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() { clear(); }

    void show(const std::string& text)
    {
        if (!shown_) {
            return;
        }
        clear();
        std::fprintf(stderr, "\r%s", text.c_str());
        std::fflush(stderr);
        width_ = text.size();
    }

    void clear()
    {
        if (width_ == 0) {
            return;
        }
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
        std::fflush(stderr);
        width_ = 0;
    }

private:
    bool shown_;
    std::size_t width_ = 0;
};

std::string peakText(std::int32_t peakLevel)
{
    const std::optional<double> decibels = levelDbfs(peakLevel);
    if (!decibels) {
        return "peak 0 (silent)";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", *decibels);
    return "peak " + std::to_string(peakLevel) + " (" + text + " dBFS)";
}

// One file's object as a line of standard output, flushed at once, as the
// summary lines are, so that a failed write is known by its reason.
void printJsonLine(const FileResult& result)
{
    const std::string line = fileResultJson(result);
    printLine(stdout, std::string_view(line).substr(0, line.size() - 1));
}

FileResult refusedResult(const std::string& inputFileName, InputError error)
{
    FileResult result;
    result.inputName = inputFileName;
    result.status = FileStatus::Refused;
    result.refusalMessage = console::messageOnOneLine(inputErrorText(error));
    return result;
}

LevelRecord levelRecord(const LevelResult& level)
{
    LevelRecord record;
    record.clipThreshold = level.clipThreshold;
    record.left = level.left;
    record.right = level.right;
    if (level.report.written) {
        record.reportName = level.names.report;
    }
    if (level.clippedWavWanted && level.clippedWav.written) {
        record.wavName = level.names.clippedWav;
    }
    record.written = level.failedOutputCount() == 0;
    return record;
}

void reportNotWritten(const OutputResult& output)
{
    if (!output.written) {
        printLine(stderr, plainErrorLine(output.fileName, output.failure));
    }
}

// Refused before or, short of memory, during the run: one line on standard
// error, and the refused object for a script.
void reportRefusal(const std::string& inputFileName, InputError error, const BatchOptions& options)
{
    reportRejection(inputFileName, error);
    if (options.json) {
        printJsonLine(refusedResult(inputFileName, error));
    }
}

struct FileOutcome {
    bool accepted = false;   // read and counted: its outputs are its own from now on
    bool allWritten = false; // and every one of them written
};

FileOutcome processFile(const std::string& inputFileName, const BatchOptions& options, ProgressLine& progress)
{
    const std::string shownName = terminalSafeName(inputFileName);
    std::variant<ClipJob, InputError> opened =
        ClipJob::open(inputFileName, options.job, [&] { progress.show("tarvelle: " + shownName + ": loading"); });
    if (const InputError* error = std::get_if<InputError>(&opened)) {
        progress.clear();
        reportRefusal(inputFileName, *error, options);
        return {};
    }
    ClipJob& job = std::get<ClipJob>(opened);
    FileResult result;
    LevelListener listener;
    listener.levelStarting = [&](int clipLevel) {
        progress.show("tarvelle: " + shownName + ": writing the " + std::to_string(decibelsBelowPeak(clipLevel)) +
                      " dB level (" + std::to_string(clipLevel + 1) + " of " + std::to_string(clipLevelCount) +
                      ")");
    };
    int writtenOutputCount = 0;
    listener.levelDone = [&](const LevelResult& level) {
        result.levels.at(static_cast<std::size_t>(level.clipLevel)) = levelRecord(level);
        writtenOutputCount += (level.report.written ? 1 : 0) + (level.clippedWav.written ? 1 : 0);
        if (level.failedOutputCount() > 0) {
            progress.clear();
            reportNotWritten(level.report);
            if (level.clippedWavWanted) {
                reportNotWritten(level.clippedWav);
            }
        }
    };
    int failedOutputCount = 0;
    try {
        failedOutputCount = job.run(listener);
    } catch (const std::bad_alloc&) {
        progress.clear();
        if (writtenOutputCount == 0) {
            reportRefusal(inputFileName, InputError::NotEnoughMemory, options);
            return {};
        }
        // Outputs already written stay, each complete: the file is one with errors.
        reportRejection(inputFileName, InputError::NotEnoughMemory);
        failedOutputCount = job.outputCount() - writtenOutputCount;
    }
    progress.clear();

    if (options.json) {
        result.inputName = inputFileName;
        result.status = failedOutputCount == 0 ? FileStatus::Written : FileStatus::Errors;
        result.sampleRate = job.header().sampleRate;
        result.samplesPerChannel = job.header().samplesPerChannel;
        result.durationSeconds = job.header().durationSeconds;
        result.peakLevel = job.peakLevel();
        printJsonLine(result);
    } else if (!options.quiet || failedOutputCount > 0) {
        const std::string summary = shownName + ": " + peakText(job.peakLevel()) + "; ";
        const std::string pattern = terminalSafeName(outputStem(inputFileName, options.job.outputFolder)) +
                                    " {3,6,9,12,15,18}dB clipping." +
                                    (options.job.reportsOnly ? "txt" : "{txt,wav}");
        const std::string outputCount = std::to_string(job.outputCount());
        if (failedOutputCount == 0) {
            printLine(stdout, summary + outputCount + " files written: " + pattern);
        } else {
            // Quiet or not, a failure is told; quiet moves it off standard output.
            printLine(options.quiet ? stderr : stdout, summary + std::to_string(failedOutputCount) + " of " +
                                                           outputCount +
                                                           " files could not be written: " + pattern);
        }
    }
    return {true, failedOutputCount == 0};
}

using IdentityKey = std::pair<std::uint64_t, std::uint64_t>;

IdentityKey identityKey(const FileIdentity& identity)
{
    return {identity.device, identity.fileIndex};
}

bool sameFile(const std::string& first, const std::string& second)
{
    if (first == second) {
        return true;
    }
    const std::optional<FileIdentity> firstIdentity = fileIdentity(first);
    return firstIdentity && firstIdentity == fileIdentity(second);
}

// For each name of the batch, the other name of the batch it is an output of,
// if any: a second run over *.wav must not work on the first run's outputs.
// Names are matched as given and, for outputs already on disk, by the file
// they lead to.
std::vector<const std::string*> outputOwners(const std::vector<std::string>& inputFileNames,
                                             const std::string& outputFolder)
{
    std::map<std::string, const std::string*> ownerOfName;
    std::map<IdentityKey, const std::string*> ownerOfFile;
    for (const std::string& inputFileName : inputFileNames) {
        const std::optional<FileIdentity> input = fileIdentity(inputFileName);
        for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
            const OutputNames names = outputNames(inputFileName, clipLevel, outputFolder);
            for (const std::string* name : {&names.report, &names.clippedWav}) {
                ownerOfName.emplace(*name, &inputFileName);
                const std::optional<FileIdentity> output = fileIdentity(*name);
                if (output && output != input) {
                    ownerOfFile.emplace(identityKey(*output), &inputFileName);
                }
            }
        }
    }
    std::vector<const std::string*> owners;
    for (const std::string& inputFileName : inputFileNames) {
        const auto byName = ownerOfName.find(inputFileName);
        const std::string* owner = byName == ownerOfName.end() ? nullptr : byName->second;
        if (owner == nullptr) {
            if (const std::optional<FileIdentity> input = fileIdentity(inputFileName)) {
                const auto byFile = ownerOfFile.find(identityKey(*input));
                owner = byFile == ownerOfFile.end() ? nullptr : byFile->second;
            }
        }
        owners.push_back(owner);
    }
    return owners;
}

// A line on standard error and, for a script, the file's object.
void reportNotProcessed(const std::string& inputFileName, bool skipped, const std::string& other,
                        const BatchOptions& options)
{
    const std::string reason =
        skipped ? "skipped, an output of " : "not processed, its outputs would replace those of ";
    // Both names whole: they are names, not box text to be joined.
    printLine(stderr, "tarvelle: " + terminalSafeName(inputFileName) + ": " + reason + terminalSafeName(other));
    if (options.json) {
        FileResult result;
        result.inputName = inputFileName;
        result.status = skipped ? FileStatus::Skipped : FileStatus::Refused;
        result.refusalMessage = reason + other;
        result.outputOf = other;
        printJsonLine(result);
    }
}

} // namespace

int runBatch(const std::vector<std::string>& inputFileNames, const BatchOptions& options)
{
    const std::vector<const std::string*> owners = outputOwners(inputFileNames, options.job.outputFolder);
    ProgressLine progress(console::standardErrorIsTerminal() && !options.quiet);
    // The outputs' stem of every file accepted so far: the same file name in
    // two folders, with -o, would have the second replace the first's outputs.
    std::map<std::string, const std::string*> acceptedStems;
    bool allDone = true;
    for (std::size_t index = 0; index < inputFileNames.size(); ++index) {
        const std::string& inputFileName = inputFileNames[index];
        if (owners[index] != nullptr) {
            // What the user asked for: the exit status stays as it is.
            reportNotProcessed(inputFileName, true, *owners[index], options);
            continue;
        }
        const std::string stem = outputStem(inputFileName, options.job.outputFolder);
        const auto earlier = acceptedStems.find(stem);
        if (earlier != acceptedStems.end() && !sameFile(*earlier->second, inputFileName)) {
            reportNotProcessed(inputFileName, false, *earlier->second, options);
            allDone = false;
            continue;
        }
        const FileOutcome outcome = processFile(inputFileName, options, progress);
        if (outcome.accepted) {
            acceptedStems.emplace(stem, &inputFileName);
        }
        allDone = outcome.allWritten && allDone;
    }
    return allDone ? 0 : 1;
}

} // namespace tarvelle
