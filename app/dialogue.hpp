// What the user sees and types. On a terminal, the full-screen dialogue; with
// input from a pipe or a file, the same dialogue as plain lines.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace tarvelle {

enum class DialogueMode {
    Terminal, // colours, cursor, boxes, keys one at a time
    Lines,    // names read line by line from standard input, plain text out, errors to standard error
};

constexpr std::size_t maxFileNameCharacters = 10000;

void setUpConsole(DialogueMode mode, void* moduleInstance);
void showBanner(DialogueMode mode);
// The entry exactly as typed; nullopt only at the end of input in line mode.
std::optional<std::string> readInputFileName(DialogueMode mode);
// A box on the terminal; in line mode the line plainErrorLine gives, on standard error.
void showInputError(DialogueMode mode, std::string_view inputFileName, std::string_view messageText);
// A line of plain text, flushed at once so that it keeps its place among the
// other stream's lines.
void printLine(std::FILE* stream, std::string_view text);
// "tarvelle: NAME: " and the box text on one line.
std::string plainErrorLine(std::string_view inputFileName, std::string_view messageText);
void showWorking(DialogueMode mode);
// failedOutputCount of the twelve outputs could not be written.
void showCompletion(DialogueMode mode, int failedOutputCount);
void waitForKey(DialogueMode mode);
// Hands the console back.
void closeDialogue(DialogueMode mode);

} // namespace tarvelle
