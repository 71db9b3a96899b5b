#include "app/batch.hpp"

#include "app/input_checks.hpp"
#include "app/output_names.hpp"
#include "app/plain_text.hpp"
#include "clip/peak_clip.hpp"
#include "console/console.hpp"
#include "console/text_layout.hpp"
#include "engine/clip_job.hpp"
#include "engine/thread_pool.hpp"
#include "report/json_result.hpp"
#include "report/labels.hpp"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>

namespace tarvelle {

namespace {

// A line for one of the standard streams.
struct Line {
    std::FILE* stream = stdout;
    std::string text;
};

// One file's lines and outcome, kept until the files named before it are told.
struct FileWork {
    FileOutcome outcome = FileOutcome::NotDone;
    bool accepted = false; // read and counted: its outputs are its own from now on
    std::vector<Line> lines;
    std::exception_ptr error; // what ended its work unforeseen
};

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

// "peak 32567 (-0.05 dBFS)"; a float peak with six significant digits.
std::string peakText(double peak, const SampleFormat& format)
{
    const std::optional<double> decibels = levelDbfs(peak, fullScale(format));
    if (!decibels) {
        return "peak 0 (silent)";
    }
    char text[64];
    if (isFloat(format.encoding)) {
        std::snprintf(text, sizeof text, "peak %.6g (%.2f dBFS)", peak, *decibels);
    } else {
        std::snprintf(text, sizeof text, "peak %.0f (%.2f dBFS)", peak, *decibels);
    }
    return text;
}

std::string jsonLine(const FileResult& result)
{
    std::string line = fileResultJson(result);
    line.pop_back(); // the line end comes with the printing
    return line;
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
    record.events = level.events;
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

// Refused before or, short of memory, during the run: one line on standard
// error, and the refused object for a script.
FileWork refusal(const std::string& inputFileName, std::string_view message, const BatchOptions& options)
{
    FileWork work;
    work.lines.push_back({stderr, plainErrorLine(inputFileName, message)});
    if (options.json) {
        work.lines.push_back({stdout, jsonLine(refusedResult(inputFileName, message))});
    }
    return work;
}

// A name not worked on: a line on standard error and, for a script, its object.
FileWork notProcessed(const std::string& inputFileName, bool skipped, const std::string& other,
                      const BatchOptions& options)
{
    const std::string reason =
        skipped ? "skipped, an output of " : "not processed, its outputs would replace those of ";
    FileWork work;
    work.outcome = skipped ? FileOutcome::Skipped : FileOutcome::NotDone;
    // Both names whole: they are names, not box text to be joined.
    work.lines.push_back(
        {stderr, "tarvelle: " + terminalSafeName(inputFileName) + ": " + reason + terminalSafeName(other)});
    if (options.json) {
        FileResult result;
        result.inputName = inputFileName;
        result.status = skipped ? FileStatus::Skipped : FileStatus::Refused;
        result.refusalMessage = reason + other;
        result.outputOf = other;
        work.lines.push_back({stdout, jsonLine(result)});
    }
    return work;
}

FileWork processFile(const std::string& inputFileName, const BatchOptions& options, ProgressLine& progress)
{
    const std::string shownName = terminalSafeName(inputFileName);
    std::variant<ClipJob, std::string> opened =
        ClipJob::openAnyFormat(inputFileName, options.job,
                               JobProgress{[&] { progress.show("tarvelle: " + shownName + ": finding the peak"); },
                                           [&] {
                                               progress.show("tarvelle: " + shownName +
                                                             (options.job.check         ? ": checking"
                                                              : options.job.reportsOnly ? ": counting"
                                                                                        : ": clipping"));
                                           }});
    if (const std::string* message = std::get_if<std::string>(&opened)) {
        return refusal(inputFileName, *message, options);
    }
    ClipJob& job = std::get<ClipJob>(opened);
    FileWork work;
    work.accepted = true;
    if (!job.warning().empty()) {
        work.lines.push_back({stderr, "tarvelle: " + shownName + ": warning: " + job.warning()});
    }
    FileResult result;
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
    int failedOutputCount = 0;
    try {
        failedOutputCount = job.run(listener);
    } catch (const std::bad_alloc&) {
        if (writtenOutputCount == 0) {
            return refusal(inputFileName, inputErrorText(InputError::NotEnoughMemory), options);
        }
        // Outputs already written stay, each complete: the file is one with errors.
        work.lines.push_back({stderr, plainErrorLine(inputFileName, inputErrorText(InputError::NotEnoughMemory))});
        failedOutputCount = job.outputCount() - writtenOutputCount;
    }
    work.outcome = failedOutputCount == 0 ? FileOutcome::AllWritten : FileOutcome::NotDone;
    if (options.job.plot) {
        addNotWritten(work, job.plot());
    }
    const std::optional<CheckResult>& check = job.check();
    std::optional<TruePeakLimit> truePeakLimit;
    if (options.truePeakLimitDbtp && job.loudness()) {
        truePeakLimit = TruePeakLimit{*options.truePeakLimitDbtp, job.loudness()->truePeakDbtp};
    }
    if (check) {
        if (check->labelsWanted) {
            addNotWritten(work, check->labels);
        }
        const std::vector<std::string> lines =
            checkLines(shownName, check->clipping, fullScale(job.sampleFormat()), job.sampleFormat().sampleRate,
                       truePeakLimit);
        const bool clipped = lines.front() != shownName + ": no clipping";
        if (clipped && work.outcome == FileOutcome::AllWritten) {
            work.outcome = FileOutcome::Clipped;
        }
        if (!options.json && !options.quiet) {
            for (const std::string& line : lines) {
                work.lines.push_back({stdout, line});
            }
            if (job.loudness()) {
                work.lines.push_back({stdout, shownName + ": " + loudnessText(*job.loudness()).substr(2)});
            }
        }
    }

    if (options.json) {
        result.inputName = inputFileName;
        result.status = failedOutputCount == 0 ? FileStatus::Written : FileStatus::Errors;
        result.warning = job.warning();
        result.format = job.sampleFormat();
        result.samplesPerChannel = job.frameCount();
        result.durationSeconds = job.durationSeconds();
        result.peak = job.peak();
        if (check) {
            result.clipping = &check->clipping;
            result.clipRuns = check->runs;
            result.minRunLength = options.job.minRunLength;
        }
        result.loudness = job.loudness() ? &*job.loudness() : nullptr;
        result.truePeakLimitDbtp = options.truePeakLimitDbtp;
        result.withEvents = options.job.keepEvents;
        if (job.plot().written) {
            result.plotName = job.plot().fileName;
        }
        if (check && result.status == FileStatus::Written) {
            result.status = FileStatus::Checked;
        }
        work.lines.push_back({stdout, jsonLine(result)});
    } else if (check) {
        // The check's lines are the file's result.
    } else if (!options.quiet || failedOutputCount > 0) {
        // Quiet or not, a failure is told; quiet moves it off standard output.
        work.lines.push_back({options.quiet ? stderr : stdout,
                              summaryLine(inputFileName, job.peak(), job.sampleFormat(), options.job,
                                          job.outputCount(), failedOutputCount, job.loudness())});
    }
    return work;
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

// Where a file's outputs go, told by the folder's identity rather than its
// spelling, so that "take.wav" and "./take.bwf" are seen to meet.
std::string outputPlace(const std::string& inputFileName, const std::string& outputFolder)
{
    const std::string stem = outputStem(inputFileName, outputFolder);
    const std::string folder = folderOf(stem);
    const std::optional<FileIdentity> identity = fileIdentity(folder.empty() ? "." : folder);
    if (!identity) {
        return stem;
    }
    return std::to_string(identity->device) + ":" + std::to_string(identity->fileIndex) + "/" +
           stem.substr(folder.size());
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

// The files of a batch, worked on by one or more threads and told in order.
class Batch {
public:
    Batch(const std::vector<std::string>& inputFileNames, const BatchOptions& options)
        : names_(inputFileNames), options_(options), owners_(outputOwners(names_, options.job.outputFolder)),
          works_(names_.size())
    {
        for (const std::string& inputFileName : names_) {
            places_.push_back(outputPlace(inputFileName, options.job.outputFolder));
        }
    }

    int run()
    {
        const std::size_t threadCount =
            options_.jobs > 1 ? std::min(static_cast<std::size_t>(options_.jobs), names_.size()) : 0;
        // Files done ahead of the one being told wait with their lines; a few
        // per thread keep the threads busy without holding the whole batch.
        const std::size_t aheadCount = 2 * threadCount;
        ThreadPool pool(threadCount, std::max<std::size_t>(aheadCount, 1));
        std::vector<FileOutcome> outcomes;
        {
            // Progress only where one file at a time is worked on.
            ProgressLine progress(pool.threadCount() == 0 && console::standardErrorIsTerminal() &&
                                  !options_.quiet);
            std::size_t submitted = 0;
            for (std::size_t index = 0; index < names_.size(); ++index) {
                // Files are taken in order, so a file never waits for one taken after it.
                for (; submitted < names_.size() && submitted <= index + aheadCount; ++submitted) {
                    pool.submit(
                        [this, submitted, &progress] { store(submitted, guardedWork(submitted, progress)); });
                }
                const FileWork& work = waitFor(index);
                progress.clear();
                if (work.error) {
                    std::rethrow_exception(work.error);
                }
                for (const Line& line : work.lines) {
                    printLine(line.stream, line.text);
                }
                outcomes.push_back(work.outcome);
            }
        }
        pool.finish();
        return batchExitStatus(outcomes);
    }

private:
    FileWork guardedWork(std::size_t index, ProgressLine& progress)
    {
        try {
            return workOnFile(index, progress);
        } catch (const std::bad_alloc&) {
            return refusal(names_[index], inputErrorText(InputError::NotEnoughMemory), options_);
        } catch (...) {
            // Passed on when the file's turn to be told comes.
            FileWork work;
            work.error = std::current_exception();
            return work;
        }
    }

    void store(std::size_t index, FileWork work)
    {
        {
            const std::lock_guard lock(mutex_);
            works_[index] = std::move(work);
        }
        done_.notify_all();
    }

    const FileWork& waitFor(std::size_t index)
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return works_[index].has_value(); });
        return *works_[index];
    }

    FileWork workOnFile(std::size_t index, ProgressLine& progress)
    {
        const std::string& inputFileName = names_[index];
        if (owners_[index] != nullptr) {
            return notProcessed(inputFileName, true, *owners_[index], options_);
        }
        // The same outputs as a file accepted before it: the earlier one's stay.
        for (std::size_t earlier = 0; earlier < index; ++earlier) {
            if (places_[earlier] == places_[index] && owners_[earlier] == nullptr && waitFor(earlier).accepted &&
                !sameFile(names_[earlier], inputFileName)) {
                return notProcessed(inputFileName, false, names_[earlier], options_);
            }
        }
        return processFile(inputFileName, options_, progress);
    }

    const std::vector<std::string>& names_;
    const BatchOptions& options_;
    std::vector<const std::string*> owners_;
    std::vector<std::string> places_;
    std::vector<std::optional<FileWork>> works_;
    std::mutex mutex_;
    std::condition_variable done_;
};

} // namespace

int batchExitStatus(std::span<const FileOutcome> outcomes)
{
    const auto any = [&](FileOutcome wanted) {
        return std::find(outcomes.begin(), outcomes.end(), wanted) != outcomes.end();
    };
    return any(FileOutcome::NotDone) ? 1 : any(FileOutcome::Clipped) ? 3 : 0;
}

std::string loudnessText(const LoudnessResult& loudness)
{
    char text[128];
    std::string line;
    std::snprintf(text, sizeof text, ", true peak %+.2f dBTP", loudness.truePeakDbtpOverall);
    line += std::isfinite(loudness.truePeakDbtpOverall) ? text : ", true peak -inf dBTP";
    if (loudness.integratedLufs) {
        std::snprintf(text, sizeof text, ", %.2f LUFS", *loudness.integratedLufs);
        line += text;
    }
    if (loudness.loudnessRange) {
        std::snprintf(text, sizeof text, ", LRA %.1f LU", *loudness.loudnessRange);
        line += text;
    }
    return line;
}

std::string summaryLine(const std::string& inputFileName, double peak, const SampleFormat& format,
                        const JobOptions& job, int outputCount, int failedOutputCount,
                        const std::optional<LoudnessResult>& loudness)
{
    std::string levels;
    for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
        levels += clipLevel == 0 ? '{' : ',';
        levels += std::to_string(decibelsBelowPeak(clipLevel));
    }
    const std::string kinds = job.reportsOnly ? (job.labels ? "{.txt, labels.txt}" : ".txt")
                                              : (job.labels ? "{.txt,.wav, labels.txt}" : ".{txt,wav}");
    const std::string stem = terminalSafeName(outputStem(inputFileName, job.outputFolder));
    const std::string pattern =
        stem + " " + levels + "}dB clipping" + kinds + (job.plot ? ", " + stem + " clipping.svg" : "");
    const std::string summary = terminalSafeName(inputFileName) + ": " + peakText(peak, format) +
                                (loudness ? loudnessText(*loudness) : "") + "; ";
    if (failedOutputCount == 0) {
        return summary + std::to_string(outputCount) + " files written: " + pattern;
    }
    return summary + std::to_string(failedOutputCount) + " of " + std::to_string(outputCount) +
           " files could not be written: " + pattern;
}

int runBatch(const std::vector<std::string>& inputFileNames, const BatchOptions& options)
{
    return Batch(inputFileNames, options).run();
}

} // namespace tarvelle
