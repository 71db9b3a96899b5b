#include "app/batch.hpp"

#include "app/file_work.hpp"

#include "app/output_names.hpp"
#include "app/plain_text.hpp"
#include "console/console.hpp"
#include "engine/clip_job.hpp"
#include "engine/thread_pool.hpp"

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
        BatchCounts counts;
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
                    printWorkLine(line);
                }
                outcomes.push_back(work.outcome);
                counts.add(work.outcome, work.accepted);
            }
        }
        pool.finish();
        if (counts.skipped > 0 && !options_.quiet) {
            printLine(stderr, skippedOutputsLine(counts.skipped));
        }
        if (options_.summary || (names_.size() > 1 && !options_.quiet && console::standardErrorIsTerminal())) {
            printLine(stderr, batchSummaryLine(counts, options_.job.check));
        }
        return batchExitStatus(outcomes);
    }

private:
    FileWork guardedWork(std::size_t index, ProgressLine& progress)
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

std::string batchSummaryLine(const BatchCounts& counts, bool check)
{
    const auto counted = [](int count, std::string_view what) {
        return std::to_string(count) + " " + std::string(what);
    };
    std::string line = "tarvelle: " + counted(counts.files, counts.files == 1 ? "file" : "files") + ": " +
                       counted(counts.done, check ? "checked" : "written");
    if (check) {
        line += ", " + counted(counts.clipped, "clipped");
    }
    if (counts.withErrors > 0) {
        line += ", " + counted(counts.withErrors, "with errors");
    }
    line += ", " + counted(counts.refused, "refused");
    if (counts.skipped > 0) {
        line += ", " + counted(counts.skipped, "skipped");
    }
    return line;
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
