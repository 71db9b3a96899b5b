#include "app/driver.hpp"

#include "app/input_checks.hpp"
#include "app/plain_text.hpp"
#include "engine/clip_job.hpp"

#include <cstdio>
#include <new>
#include <string>
#include <variant>

namespace tarvelle {

namespace {

// The files of the level that were wanted and could not be written.
void noteOutputsNotWritten(const LevelResult& level, std::vector<OutputResult>& outputsNotWritten)
{
    if (!level.report.written) {
        outputsNotWritten.push_back(level.report);
    }
    if (level.clippedWavWanted && !level.clippedWav.written) {
        outputsNotWritten.push_back(level.clippedWav);
    }
}

} // namespace

DialogueOutcome runDialogue(Dialogue& dialogue)
{
    for (;;) {
        dialogue.showBanner();
        std::optional<std::string> entry = dialogue.readInputFileName();
        if (!entry) {
            return DialogueOutcome{};
        }
        const std::string inputFileName = std::move(*entry);

        DialogueOutcome outcome;
        int failedOutputCount = 0;
        {
            std::variant<ClipJob, JobError> opened = ClipJob::open(
                inputFileName, JobOptions{}, JobProgress{[&dialogue] { dialogue.showWorking(); }, {}});
            if (const JobError* error = std::get_if<JobError>(&opened)) {
                dialogue.showInputError(inputFileName, jobErrorText(error->kind));
                continue;
            }
            const LevelListener listener{{}, [&outcome](const LevelResult& level) {
                                             noteOutputsNotWritten(level, outcome.outputsNotWritten);
                                         }};
            try {
                failedOutputCount = std::get<ClipJob>(opened).run(listener);
            } catch (const std::bad_alloc&) {
                dialogue.showInputError(inputFileName, jobErrorText(JobError::Kind::NotEnoughMemory));
                continue;
            }
        } // the samples are let go before the completion screen

        dialogue.showCompletion(failedOutputCount, outputFileCount);
        dialogue.waitForKey();
        outcome.exitStatus = failedOutputCount == 0 ? 0 : 1;
        return outcome;
    }
}

void reportOutputsNotWritten(const std::vector<OutputResult>& outputsNotWritten)
{
    for (const OutputResult& output : outputsNotWritten) {
        printLine(stderr, plainErrorLine(output.fileName, output.failure));
    }
}

} // namespace tarvelle
