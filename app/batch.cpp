#include "app/batch.hpp"

#include "app/clip_job.hpp"
#include "app/input_checks.hpp"
#include "app/output_names.hpp"
#include "app/plain_text.hpp"
#include "clip/peak_clip.hpp"
#include "console/console.hpp"

#include <cstdio>
#include <new>
#include <string_view>
#include <variant>

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

void reportNotWritten(const OutputResult& output)
{
    if (!output.written) {
        printLine(stderr, plainErrorLine(output.fileName, output.failure));
    }
}

// True when the file was accepted and all twelve outputs written.
bool processFile(const std::string& inputFileName, ProgressLine& progress)
{
    const std::string shownName = terminalSafeName(inputFileName);
    std::variant<ClipJob, InputError> opened = ClipJob::open(
        inputFileName, JobOptions{}, [&] { progress.show("tarvelle: " + shownName + ": loading"); });
    if (const InputError* error = std::get_if<InputError>(&opened)) {
        progress.clear();
        reportRejection(inputFileName, *error);
        return false;
    }
    ClipJob& job = std::get<ClipJob>(opened);
    LevelListener listener;
    listener.levelStarting = [&](int clipLevel) {
        progress.show("tarvelle: " + shownName + ": writing the " + std::to_string(decibelsBelowPeak(clipLevel)) +
                      " dB level (" + std::to_string(clipLevel + 1) + " of " + std::to_string(clipLevelCount) +
                      ")");
    };
    listener.levelDone = [&](const LevelResult& level) {
        if (level.failedOutputCount() > 0) {
            progress.clear();
            reportNotWritten(level.report);
            reportNotWritten(level.clippedWav);
        }
    };
    int failedOutputCount = 0;
    try {
        failedOutputCount = job.run(listener);
    } catch (const std::bad_alloc&) {
        progress.clear();
        reportRejection(inputFileName, InputError::NotEnoughMemory);
        return false;
    }
    progress.clear();

    const std::string summary = shownName + ": peak " + std::to_string(job.peakLevel()) + "; ";
    const std::string pattern =
        terminalSafeName(outputStem(inputFileName)) + " {3,6,9,12,15,18}dB clipping.{txt,wav}";
    if (failedOutputCount == 0) {
        printLine(stdout, summary + std::to_string(outputFileCount) + " files written: " + pattern);
    } else {
        printLine(stdout, summary + std::to_string(failedOutputCount) + " of " + std::to_string(outputFileCount) +
                              " files could not be written: " + pattern);
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
