#include "app/batch.hpp"

#include "app/clip_job.hpp"
#include "app/input_checks.hpp"
#include "app/plain_text.hpp"
#include "console/console.hpp"
#include "wav/output_names.hpp"

#include <cstdio>
#include <string_view>

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

std::string writtenFilesPattern(const std::string& inputFileName)
{
    const std::string prefix = outputFileName(inputFileName, OutputKind::Report, 0);
    return prefix.substr(0, prefix.size() - outputSuffix(OutputKind::Report, 0).size()) +
           " {3,6,9,12,15,18}dB clipping.{txt,wav}";
}

// True when the file was accepted and all twelve outputs written.
bool processFile(const std::string& inputFileName, ProgressLine& progress)
{
    InputCheck check = checkInputFile(inputFileName);
    if (check.error) {
        reportRejection(inputFileName, *check.error);
        return false;
    }
    progress.show("tarvelle: " + inputFileName + ": loading");
    RunSamples run;
    if (std::optional<InputError> error = prepareRun(inputFileName, check.header, run)) {
        progress.clear();
        reportRejection(inputFileName, *error);
        return false;
    }
    int failedOutputCount = 0;
    for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
        progress.show("tarvelle: " + inputFileName + ": writing the " + std::to_string(3 * (clipLevel + 1)) +
                      " dB level (" + std::to_string(clipLevel + 1) + " of " + std::to_string(clipLevelCount) +
                      ")");
        failedOutputCount += runClipLevel(inputFileName, check.header, clipLevel, run);
    }
    progress.clear();

    const std::string summary = inputFileName + ": peak " + std::to_string(run.peakLevel) + "; ";
    if (failedOutputCount == 0) {
        printLine(stdout, summary + std::to_string(outputFileCount) +
                              " files written: " + writtenFilesPattern(inputFileName));
    } else {
        printLine(stdout, summary + std::to_string(failedOutputCount) + " of " + std::to_string(outputFileCount) +
                              " files could not be written: " + writtenFilesPattern(inputFileName));
    }
    return failedOutputCount == 0;
}

} // namespace

int runBatch(const std::vector<std::string>& inputFileNames)
{
    ProgressLine progress(console::standardErrorIsTerminal());
    bool allDone = true;
    for (const std::string& inputFileName : inputFileNames) {
        allDone = processFile(inputFileName, progress) && allDone;
    }
    return allDone ? 0 : 1;
}

} // namespace tarvelle
