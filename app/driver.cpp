#include "app/driver.hpp"

#include "app/clip_job.hpp"
#include "app/input_checks.hpp"

#include <string>
#include <variant>

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

        int failedOutputCount = 0;
        {
            std::variant<ClipJob, InputError> opened =
                ClipJob::open(inputFileName, JobOptions{}, [mode] { showWorking(mode); });
            if (const InputError* error = std::get_if<InputError>(&opened)) {
                showInputError(mode, inputFileName, inputErrorText(*error));
                continue;
            }
            failedOutputCount = std::get<ClipJob>(opened).run();
        } // the samples are let go before the completion screen

        showCompletion(mode, failedOutputCount);
        waitForKey(mode);
        closeDialogue(mode);
        return failedOutputCount == 0 ? 0 : 1;
    }
}

} // namespace tarvelle
