#include "app/driver.hpp"

#include "app/clip_job.hpp"
#include "app/input_checks.hpp"
#include "wav/output_names.hpp"

#include <string>

namespace tarvelle {

int runDialogue(Dialogue& dialogue)
{
    for (;;) {
        dialogue.showBanner();
        std::optional<std::string> entry = dialogue.readInputFileName();
        if (!entry) {
            return 1;
        }
        const std::string inputFileName = std::move(*entry);

        InputCheck check = checkInputFile(inputFileName);
        if (check.error) {
            dialogue.showInputError(inputFileName, inputErrorText(*check.error));
            continue;
        }

        dialogue.showWorking();
        RunSamples run;
        if (std::optional<InputError> error = prepareRun(inputFileName, check.header, run)) {
            dialogue.showInputError(inputFileName, inputErrorText(*error));
            continue;
        }
        int failedOutputCount = 0;
        for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
            failedOutputCount += runClipLevel(inputFileName, check.header, clipLevel, run);
        }
        run = RunSamples{};

        dialogue.showCompletion(failedOutputCount, outputFileCount);
        dialogue.waitForKey();
        return failedOutputCount == 0 ? 0 : 1;
    }
}

} // namespace tarvelle
