// One file of a batch: its work, and the lines and outcome it comes to, kept
// until the files named before it are told.
#pragma once

#include "app/batch.hpp"
#include "app/progress_lines.hpp"
#include "platform/spill_file.hpp"
#include "report/labels.hpp"

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvelle {

// A line for one of the standard streams.
struct Line {
    Line() = default;
    Line(std::FILE* lineStream, std::string lineText) : stream(lineStream), text(std::move(lineText)) {}
    Line(std::FILE* lineStream, std::shared_ptr<const SpillFile> lineSpilled)
        : stream(lineStream), spilled(std::move(lineSpilled))
    {
    }

    std::FILE* stream = stdout;
    std::string text;
    // A line too long to hold, such as a JSON line with every event: kept
    // here instead of in text until it is printed.
    std::shared_ptr<const SpillFile> spilled;
};

void printWorkLine(const Line& line);

struct FileWork {
    FileOutcome outcome = FileOutcome::NotDone;
    bool accepted = false; // read and counted: its outputs are its own from now on
    std::vector<Line> lines;
    std::exception_ptr error;             // what ended its work unforeseen
    std::optional<FileLoudness> loudness; // where measured, for the summary
};

// The file read, measured and written, and told. clashWith: a file named
// before it whose label track and picture this check's would replace; the
// check is still done, those files are not written.
FileWork processFile(const std::string& inputFileName, const BatchOptions& askedOptions, ProgressLines& progress,
                     const std::string* clashWith = nullptr);

// Refused before or, short of memory, during the run: one line on standard
// error, and the refused object for a script.
FileWork refusal(const std::string& inputFileName, std::string_view message, const BatchOptions& options);

// A name not worked on: its object for a script and, unless skipped, a line
// on standard error.
FileWork notProcessed(const std::string& inputFileName, bool skipped, const std::string& other,
                      const BatchOptions& options);

// Whether a check found clipping: runs of it, or a true peak over the limit.
bool clippingFound(const ExistingClipResult& clipping, const std::optional<TruePeakLimit>& truePeakLimit);

} // namespace tarvelle
