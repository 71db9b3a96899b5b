#include "app/driver.hpp"

#include "app/clip_job.hpp"
#include "app/input_checks.hpp"
#include "wav/output_names.hpp"

#include <string>

namespace tarvelle {

int runDialogue(DialogueMode mode, void* moduleInstance)
{
    setUpConsole(mode, moduleInstance);
    for (;;) {
        showBanner(mode);
        std::optional<std::string> entry = readInputFileName(mode);
        if (!entry) {
            closeDialogue(mode);
            return 1;
        }
        const std::string inputFileName = std::move(*entry);

        InputCheck check = checkInputFile(inputFileName);
        if (check.error) {
            showInputError(mode, inputFileName, inputErrorText(*check.error));
            continue;
        }

        showWorking(mode);
        RunSamples run;
        if (std::optional<InputError> error = prepareRun(inputFileName, check.header, run)) {
            showInputError(mode, inputFileName, inputErrorText(*error));
            continue;
        }
        int failedOutputCount = 0;
        for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
            failedOutputCount += runClipLevel(inputFileName, check.header, clipLevel, run);
        }
        run = RunSamples{};

        showCompletion(mode, failedOutputCount);
        waitForKey(mode);
        closeDialogue(mode);
        return failedOutputCount == 0 ? 0 : 1;
    }
}

} // namespace tarvelle
