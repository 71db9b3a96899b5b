#include "app/driver.hpp"

#include "app/clip_job.hpp"
#include "app/input_checks.hpp"

#include <new>
#include <string>
#include <variant>

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

        int failedOutputCount = 0;
        {
            std::variant<ClipJob, InputError> opened =
                ClipJob::open(inputFileName, JobOptions{}, JobProgress{[&dialogue] { dialogue.showWorking(); }, {}});
            if (const InputError* error = std::get_if<InputError>(&opened)) {
                dialogue.showInputError(inputFileName, inputErrorText(*error));
                continue;
            }
            try {
                failedOutputCount = std::get<ClipJob>(opened).run();
            } catch (const std::bad_alloc&) {
                dialogue.showInputError(inputFileName, inputErrorText(InputError::NotEnoughMemory));
                continue;
            }
        } // the samples are let go before the completion screen

        dialogue.showCompletion(failedOutputCount, outputFileCount);
        dialogue.waitForKey();
        return failedOutputCount == 0 ? 0 : 1;
    }
}

} // namespace tarvelle
