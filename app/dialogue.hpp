// What the user sees and types when no file is named on the command line.
// Chosen once: on a terminal, the full-screen dialogue; with input from a
// pipe or a file, the same dialogue as plain lines.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvelle {

constexpr std::size_t maxFileNameCharacters = 10000;

class Dialogue {
public:
    Dialogue() = default;
    Dialogue(const Dialogue&) = delete;
    Dialogue& operator=(const Dialogue&) = delete;
    // Hands the console back, or flushes what was printed.
    virtual ~Dialogue() = default;

    virtual void showBanner() = 0;
    // The entry exactly as typed; nullopt only at the end of input in line mode.
    virtual std::optional<std::string> readInputFileName() = 0;
    // A box on the terminal; in line mode the line plainErrorLine gives, on standard error.
    virtual void showInputError(std::string_view inputFileName, std::string_view messageText) = 0;
    virtual void showWorking() = 0;
    // failedOutputCount of the outputFileCount outputs could not be written.
    virtual void showCompletion(int failedOutputCount, int outputFileCount) = 0;
    // Returns at once in line mode, where no key is awaited.
    virtual void waitForKey() = 0;
};

// Takes the console; without one to take it still runs, only unstyled.
std::unique_ptr<Dialogue> makeScreenDialogue();
// Names line by line from standard input, plain text out, errors to standard error.
std::unique_ptr<Dialogue> makeLineDialogue();

} // namespace tarvelle
