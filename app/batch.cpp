#include "app/batch.hpp"

#include "app/batch_table.hpp"
#include "app/file_work.hpp"

#include "app/output_names.hpp"
#include "app/plain_text.hpp"
#include "console/console.hpp"
#include "engine/clip_job.hpp"
#include "engine/thread_pool.hpp"
#include "loudness/gating.hpp"
#include "report/json_result.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace tarvelle {

namespace {

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
        BatchSummary summary;
        summary.check = options_.job.check;
        summary.deliver = options_.job.delivery.has_value();
        if (options_.csv) {
            printLine(stdout, csvHeadingLine(options_.job.delivery.has_value()));
        }
        {
            ProgressLines progress(!options_.quiet && console::standardErrorIsTerminal());
            std::size_t submitted = 0;
            for (std::size_t index = 0; index < names_.size(); ++index) {
                // Files are taken in order, so a file never waits for one taken after it.
                for (; submitted < names_.size() && submitted <= index + aheadCount; ++submitted) {
                    pool.submit(
                        [this, submitted, &progress] { store(submitted, guardedWork(submitted, progress)); });
                }
                FileWork& work = waitFor(index);
                if (work.error) {
                    std::rethrow_exception(work.error);
                }
                progress.printAbove([&work] {
                    for (const Line& line : work.lines) {
                        printWorkLine(line);
                    }
                });
                outcomes.push_back(work.outcome);
                summary.counts.add(work.outcome, work.accepted);
                if (work.loudness) {
                    summary.add(std::move(*work.loudness));
                    work.loudness.reset();
                }
            }
        }
        pool.finish();
        if (summary.counts.skipped > 0 && !options_.quiet) {
            printLine(stderr, skippedOutputsLine(summary.counts.skipped));
        }
        // With --json the summary is the last object on standard output instead.
        if (options_.summary || (names_.size() > 1 && !options_.quiet && console::standardErrorIsTerminal())) {
            printLine(options_.json ? stdout : stderr,
                      options_.json ? batchSummaryJson(summary) : batchSummaryLine(summary));
        }
        return batchExitStatus(outcomes);
    }

private:
    FileWork guardedWork(std::size_t index, ProgressLines& progress)
    {
        try {
            return workOnFile(index, progress);
        } catch (const std::bad_alloc&) {
            return refusal(names_[index], jobErrorText(JobError::Kind::NotEnoughMemory), options_);
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

    FileWork& waitFor(std::size_t index)
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return works_[index].has_value(); });
        return *works_[index];
    }

    FileWork workOnFile(std::size_t index, ProgressLines& progress)
    {
        const std::string& inputFileName = names_[index];
        if (owners_[index] != nullptr) {
            return notProcessed(inputFileName, true, *owners_[index], options_);
        }
        // The same outputs as a file accepted before it: the earlier one's stay.
        // A check writes none of the twelve, so only its label track and
        // picture can meet another's, and only they are left out.
        for (std::size_t earlier = 0; writesFiles(options_.job) && earlier < index; ++earlier) {
            if (places_[earlier] == places_[index] && owners_[earlier] == nullptr && waitFor(earlier).accepted &&
                !sameFile(names_[earlier], inputFileName)) {
                if (options_.job.check) {
                    return processFile(inputFileName, options_, progress, &names_[earlier]);
                }
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

bool writesFiles(const JobOptions& job)
{
    return !job.check || job.labels || job.plot;
}

void BatchCounts::add(FileOutcome outcome, bool accepted)
{
    ++files;
    switch (outcome) {
    case FileOutcome::Skipped:
        ++skipped;
        break;
    case FileOutcome::NotDone:
        ++(accepted ? withErrors : refused);
        break;
    case FileOutcome::Clipped:
        ++clipped;
        [[fallthrough]];
    case FileOutcome::AllWritten:
        ++done;
        break;
    }
}

std::string skippedOutputsLine(int count)
{
    return "tarvelle: skipped " + std::to_string(count) +
           (count == 1 ? " file that is an output of another named"
                       : " files that are outputs of the others named");
}

namespace {

// The counts in the order the line and the JSON give them; errors and
// skipped files only where there are any.
std::vector<std::pair<std::string, int>> countsInOrder(const BatchSummary& summary, bool forJson)
{
    const BatchCounts& counts = summary.counts;
    std::vector<std::pair<std::string, int>> ordered{{"files", counts.files}};
    if (summary.deliver) {
        ordered.emplace_back("passed", counts.done - counts.clipped);
        ordered.emplace_back("failed", counts.clipped);
    } else {
        ordered.emplace_back(summary.check ? "checked" : "written", counts.done);
        if (summary.check) {
            ordered.emplace_back("clipped", counts.clipped);
        }
    }
    if (counts.withErrors > 0 || forJson) {
        ordered.emplace_back(forJson ? "withErrors" : "with errors", counts.withErrors);
    }
    ordered.emplace_back("refused", counts.refused);
    if (counts.skipped > 0 || forJson) {
        ordered.emplace_back("skipped", counts.skipped);
    }
    return ordered;
}

std::string lufsText(double lufs)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f LUFS", lufs);
    return text;
}

} // namespace

void BatchSummary::add(FileLoudness loudness)
{
    loudnessMeasured = true;
    gatingBlocks.insert(gatingBlocks.end(), loudness.gatingBlocks.begin(), loudness.gatingBlocks.end());
    loudness.gatingBlocks = {};
    if (!loudness.integratedLufs) {
        return;
    }
    // The first named wins a tie.
    if (!loudest || *loudness.integratedLufs > *loudest->integratedLufs) {
        loudest = loudness;
    }
    if (!quietest || *loudness.integratedLufs < *quietest->integratedLufs) {
        quietest = std::move(loudness);
    }
}

std::optional<double> BatchSummary::integratedLufs() const
{
    return gatedLoudness(gatingBlocks);
}

std::string batchSummaryLine(const BatchSummary& summary)
{
    const std::vector<std::pair<std::string, int>> counts = countsInOrder(summary, false);
    std::string line = "tarvelle: ";
    for (const auto& [what, count] : counts) {
        line += std::to_string(count) + " " + (what == "files" && count == 1 ? "file" : what);
        line += &what == &counts.front().first ? ": " : ", ";
    }
    line.resize(line.size() - 2);
    if (!summary.loudnessMeasured) {
        return line;
    }
    if (!summary.loudest) {
        return line + "; no file loud enough to measure";
    }
    return line + "; loudest " + terminalSafeName(summary.loudest->name) + " " +
           lufsText(*summary.loudest->integratedLufs) + ", quietest " + terminalSafeName(summary.quietest->name) +
           " " + lufsText(*summary.quietest->integratedLufs) + ", all as one " +
           lufsText(*summary.integratedLufs());
}

std::string batchSummaryJson(const BatchSummary& summary)
{
    SummaryRecord record;
    record.counts = countsInOrder(summary, true);
    record.loudnessMeasured = summary.loudnessMeasured;
    const auto named = [](const std::optional<FileLoudness>& file) {
        return file ? std::optional(SummaryRecord::Named{file->name, *file->integratedLufs}) : std::nullopt;
    };
    record.loudest = named(summary.loudest);
    record.quietest = named(summary.quietest);
    record.integratedLufs = summary.integratedLufs();
    return summaryJson(record);
}

int batchExitStatus(std::span<const FileOutcome> outcomes)
{
    const auto any = [&](FileOutcome wanted) {
        return std::find(outcomes.begin(), outcomes.end(), wanted) != outcomes.end();
    };
    return any(FileOutcome::NotDone) ? 1 : any(FileOutcome::Clipped) ? 3 : 0;
}

int runBatch(const std::vector<std::string>& inputFileNames, const BatchOptions& options)
{
    return Batch(inputFileNames, options).run();
}

} // namespace tarvelle
