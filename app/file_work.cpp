#include "app/file_work.hpp"

#include "app/batch_table.hpp"
#include "app/output_names.hpp"
#include "app/plain_text.hpp"
#include "app/standard_input.hpp"
#include "clip/peak_clip.hpp"
#include "console/console.hpp"
#include "console/text_layout.hpp"
#include "engine/clip_job.hpp"
#include "loudness/gating.hpp"
#include "report/json_result.hpp"
#include "report/labels.hpp"
#include "source/stream_input.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>
#include <stdexcept>
#include <variant>

namespace tarvelle {

namespace {

std::string jsonLine(const FileResult& result)
{
    std::string line = fileResultJson(result);
    line.pop_back(); // the line end comes with the printing
    return line;
}

// Batch mode's words for a file not worked on: the text and the details it names.
std::string batchMessage(const JobError& error)
{
    const std::string_view text = jobErrorText(error.kind);
    switch (error.kind) {
    case JobError::Kind::Unopenable:
        return error.reason;
    case JobError::Kind::Refused:
        return error.refusal ? error.refusal->message : std::string();
    case JobError::Kind::ReadError:
        return console::messageOnOneLine(text) + ": " +
               (error.reason.empty() ? "it ended before its data did" : error.reason);
    case JobError::Kind::NotANumber:
        return std::string(text) + " " + std::to_string(error.frame);
    default:
        return std::string(text);
    }
}

FileResult refusedResult(const std::string& inputFileName, std::string_view message)
{
    FileResult result;
    result.inputName = inputFileName;
    result.status = FileStatus::Refused;
    result.refusalMessage = console::messageOnOneLine(message);
    return result;
}

LevelRecord levelRecord(const LevelResult& level)
{
    LevelRecord record;
    record.stats = level.stats;
    record.events = &level.events;
    if (level.report.written) {
        record.reportName = level.names.report;
    }
    if (level.clippedWavWanted && level.clippedWav.written) {
        record.wavName = level.names.clippedWav;
    }
    record.written = level.failedOutputCount() == 0;
    return record;
}

void addNotWritten(FileWork& work, const OutputResult& output)
{
    if (!output.written) {
        work.lines.push_back({stderr, plainErrorLine(output.fileName, output.failure)});
    }
}

} // namespace

void printWorkLine(const Line& line)
{
    if (!line.spilled) {
        printLine(line.stream, line.text);
        return;
    }
    const bool read = line.spilled->readAll([&line](std::span<const std::uint8_t> piece) {
        printText(line.stream, std::string_view(reinterpret_cast<const char*>(piece.data()), piece.size()));
    });
    if (!read) {
        throw std::runtime_error("a temporary file could not be read back: " + lastFileErrorText());
    }
    printLine(line.stream, "");
}

FileWork refusal(const std::string& inputFileName, std::string_view message, const BatchOptions& options)
{
    FileWork work;
    work.lines.push_back({stderr, plainErrorLine(inputFileName, message)});
    const FileResult result = refusedResult(inputFileName, message);
    if (options.json) {
        work.lines.push_back({stdout, jsonLine(result)});
    }
    if (options.csv) {
        work.lines.push_back({stdout, csvRowLine({inputFileName, "refused", result.refusalMessage},
                                                 options.job.delivery.has_value())});
    }
    return work;
}

FileWork notProcessed(const std::string& inputFileName, bool skipped, const std::string& other,
                      const BatchOptions& options)
{
    const std::string reason =
        skipped ? "skipped, an output of " : "not processed, its outputs would replace those of ";
    FileWork work;
    work.outcome = skipped ? FileOutcome::Skipped : FileOutcome::NotDone;
    // A rerun in a folder of earlier outputs skips many: they are counted in
    // one line for the batch instead. Both names whole: they are names, not
    // box text to be joined.
    if (!skipped) {
        work.lines.push_back(
            {stderr, "tarvelle: " + terminalSafeName(inputFileName) + ": " + reason + terminalSafeName(other)});
    }
    if (options.json) {
        FileResult result;
        result.inputName = inputFileName;
        result.status = skipped ? FileStatus::Skipped : FileStatus::Refused;
        result.refusalMessage = reason + other;
        result.outputOf = other;
        work.lines.push_back({stdout, jsonLine(result)});
    }
    if (options.csv) {
        work.lines.push_back({stdout, csvRowLine({inputFileName, skipped ? "skipped" : "refused", reason + other},
                                                 options.job.delivery.has_value())});
    }
    return work;
}

namespace {

JobProgress jobProgress(ProgressLine& line)
{
    JobProgress progress;
    progress.accepted = [&line] { line.start(); };
    progress.reading = [&line](std::uint64_t done, std::uint64_t total) { line.reading(done, total); };
    return progress;
}

// The levels put in place, each told; the count of outputs not written, or
// none when memory ran out before any was.
std::optional<int> runJob(ClipJob& job, FileWork& work, FileResult& result)
{
    int writtenOutputCount = 0;
    LevelListener listener;
    listener.levelDone = [&](const LevelResult& level) {
        result.levels.at(static_cast<std::size_t>(level.stats.clipLevel)) = levelRecord(level);
        writtenOutputCount += level.writtenOutputCount();
        if (level.reportWanted) {
            addNotWritten(work, level.report);
        }
        if (level.labelsWanted) {
            addNotWritten(work, level.labels);
        }
        if (level.clippedWavWanted) {
            addNotWritten(work, level.clippedWav);
        }
    };
    try {
        return job.run(listener);
    } catch (const std::bad_alloc&) {
        if (writtenOutputCount == 0) {
            return std::nullopt;
        }
        // Outputs already written stay, each complete: the file is one with errors.
        work.lines.push_back(
            {stderr, plainErrorLine(job.result().inputFileName, jobErrorText(JobError::Kind::NotEnoughMemory))});
        return job.outputCount() - writtenOutputCount;
    }
}

// The check's lines and, where it found clipping in a file whose outputs are
// all written, the outcome that says so.
void addCheck(const JobResult& found, const BatchOptions& options, const std::string& shownName, FileWork& work)
{
    const std::optional<CheckResult>& check = found.check;
    if (check->labelsWanted) {
        addNotWritten(work, check->labels);
    }
    std::optional<TruePeakLimit> truePeakLimit;
    if (options.truePeakLimitDbtp && found.loudness) {
        truePeakLimit = TruePeakLimit{*options.truePeakLimitDbtp, found.loudness->truePeakDbtp};
    }
    const bool failed = found.delivery ? !found.delivery->pass : clippingFound(check->clipping, truePeakLimit);
    if (failed && work.outcome == FileOutcome::AllWritten) {
        work.outcome = FileOutcome::Clipped;
    }
    if (options.json || options.csv || options.quiet) {
        return;
    }
    if (found.delivery) {
        work.lines.push_back({stdout, deliveryLine(shownName, *found.delivery, found)});
        return;
    }
    for (const std::string& line : checkLines(shownName, check->clipping, fullScale(found.format),
                                              found.format.sampleRate, truePeakLimit, found.format.channelMask)) {
        work.lines.push_back({stdout, line});
    }
    if (found.loudness) {
        work.lines.push_back({stdout, shownName + ": " + loudnessText(*found.loudness).substr(2)});
    }
}

Line resultJson(const JobResult& found, const BatchOptions& options, int failedOutputCount, FileResult& result)
{
    const std::optional<CheckResult>& check = found.check;
    result.inputName = found.inputFileName;
    result.status = failedOutputCount == 0 ? FileStatus::Written : FileStatus::Errors;
    result.warning = found.warning;
    result.format = found.format;
    result.samplesPerChannel = found.frameCount;
    result.durationSeconds = found.durationSeconds();
    result.peak = found.peak;
    if (check) {
        result.clipping = &check->clipping;
        result.clipRuns = &check->runs;
        result.minRunLength = options.job.minRunLength;
    }
    result.loudness = found.loudness ? &*found.loudness : nullptr;
    result.delivery = found.delivery ? &*found.delivery : nullptr;
    result.channelStats = found.channelStats ? &*found.channelStats : nullptr;
    result.truePeakLimitDbtp = options.truePeakLimitDbtp;
    result.withEvents = options.job.keepEvents;
    if (found.plot.written) {
        result.plotName = found.plot.fileName;
    }
    if (check && result.status == FileStatus::Written) {
        result.status = FileStatus::Checked;
    }
    auto spilled = std::make_shared<SpillFile>();
    writeFileResultJson(result, [&spilled](std::string_view piece) {
        if (piece != "\n") { // the line end comes with the printing
            spilled->append(std::span(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()));
        }
    });
    return Line{stdout, std::move(spilled)};
}

// The files a check leaves out where they would replace another's: counted
// as not written, and said.
int clashedOutputs(const JobOptions& asked, const std::string& shownName, const std::string& clashWith,
                   FileWork& work)
{
    const int count = (asked.labels ? 1 : 0) + (asked.plot ? 1 : 0);
    const std::string left = asked.labels && asked.plot ? "label track and picture"
                             : asked.labels             ? "label track"
                                                        : "picture";
    work.lines.push_back({stderr, "tarvelle: " + shownName + ": " + left + " not written: " +
                                      (count == 1 ? "it would replace that" : "they would replace those") +
                                      " of " + terminalSafeName(clashWith)});
    return count;
}

// The file's own line: its JSON, its row of the table, or its summary.
void addResultLine(const std::string& inputFileName, bool standardInput, const BatchOptions& options,
                   const ClipJob& job, int failedOutputCount, FileResult& result, FileWork& work)
{
    const JobResult& found = job.result();
    if (options.json) {
        work.lines.push_back(resultJson(found, options, failedOutputCount, result));
    } else if (options.csv) {
        const std::string_view status = failedOutputCount > 0 ? "errors" : found.check ? "checked" : "written";
        work.lines.push_back(
            {stdout, csvRowLine({inputFileName, status, {}, &found}, options.job.delivery.has_value())});
    } else if (!found.check && (!options.quiet || failedOutputCount > 0)) {
        // Quiet or not, a failure is told; quiet moves it off standard output.
        // A check's lines are its result.
        work.lines.push_back(
            {options.quiet ? stderr : stdout,
             summaryLine(standardInput ? options.standardInputName + extensionOf(found.levels[0].names.clippedWav)
                                       : inputFileName,
                         found.peak, found.format, options.job, job.outputCount(), failedOutputCount,
                         found.loudness)});
    }
}

// Standard input, read once where the run reads once and it is a WAV or
// opens through libsndfile from its first bytes; else kept in a temporary
// file, read as a file is, and removed with spooled.
std::variant<ClipJob, JobError> openStandardInput(const JobOptions& options, const JobProgress& progress,
                                                  std::optional<SpooledInput>& spooled)
{
    StreamInput stream(
        [](std::span<std::uint8_t> buffer) { return readStandardInput(buffer.data(), buffer.size()); });
    if (ClipJob::readsOnce(options)) {
        std::variant<ClipJob, JobError> opened = ClipJob::openStream(stream, options, progress);
        const JobError* error = std::get_if<JobError>(&opened);
        const bool notWave = error != nullptr && error->refusal && error->refusal->reason == BatchRefusal::NotWave;
        if (!notWave && !stream.keptTooMuch()) {
            return opened;
        }
    }
    if (console::standardErrorIsTerminal()) {
        printLine(stderr, "tarvelle: keeping standard input in a temporary file in " + SpooledInput::folder());
    }
    std::variant<SpooledInput, std::string> kept = SpooledInput::spool(stream);
    if (const std::string* failure = std::get_if<std::string>(&kept)) {
        return JobError(JobError::Kind::Unopenable,
                        "Standard input could not be kept in a temporary file: " + *failure);
    }
    spooled.emplace(std::move(std::get<SpooledInput>(kept)));
    return ClipJob::openAnyFormat(spooled->fileName(), options, progress);
}

} // namespace

FileWork processFile(const std::string& inputFileName, const BatchOptions& askedOptions, ProgressLines& progress,
                     const std::string* clashWith)
{
    const std::string shownName =
        terminalSafeName(inputFileName == standardInputName ? askedOptions.standardInputName : inputFileName);
    BatchOptions options = askedOptions;
    if (clashWith != nullptr) {
        options.job.labels = options.job.plot = false;
    }
    ProgressLine progressLine(progress, shownName);
    std::optional<SpooledInput> spooled;
    if (inputFileName == standardInputName) {
        options.job.inputName = options.standardInputName;
    }
    std::variant<ClipJob, JobError> opened =
        inputFileName == standardInputName
            ? openStandardInput(options.job, jobProgress(progressLine), spooled)
            : ClipJob::openAnyFormat(inputFileName, options.job, jobProgress(progressLine));
    if (const JobError* error = std::get_if<JobError>(&opened)) {
        return refusal(inputFileName, batchMessage(*error), options);
    }
    ClipJob& job = std::get<ClipJob>(opened);
    const JobResult& found = job.result();
    FileWork work;
    work.accepted = true;
    if (!found.warning.empty()) {
        work.lines.push_back({stderr, "tarvelle: " + shownName + ": warning: " + found.warning});
    }
    FileResult result;
    const int clashed = clashWith != nullptr ? clashedOutputs(askedOptions.job, shownName, *clashWith, work) : 0;
    std::optional<int> failedOutputCount = runJob(job, work, result);
    if (!failedOutputCount) {
        return refusal(inputFileName, jobErrorText(JobError::Kind::NotEnoughMemory), options);
    }
    *failedOutputCount += clashed;
    work.outcome = *failedOutputCount == 0 ? FileOutcome::AllWritten : FileOutcome::NotDone;
    if (options.job.plot) {
        addNotWritten(work, found.plot);
    }
    if (found.check) {
        addCheck(found, options, shownName, work);
    }
    if (found.loudness) {
        work.loudness = FileLoudness{inputFileName, found.loudness->integratedLufs,
                                     gatingBlocks(found.loudness->blockEnergies)};
    }
    addResultLine(inputFileName, inputFileName == standardInputName, options, job, *failedOutputCount, result,
                  work);
    return work;
}

bool clippingFound(const ExistingClipResult& clipping, const std::optional<TruePeakLimit>& truePeakLimit)
{
    if (clipping.longest) {
        return true;
    }
    return truePeakLimit && std::any_of(truePeakLimit->truePeakDbtp.begin(), truePeakLimit->truePeakDbtp.end(),
                                        [&](double peak) { return peak > truePeakLimit->limitDbtp; });
}

} // namespace tarvelle
