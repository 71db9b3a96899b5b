// The dialogue as plain lines, for input from a pipe or a file.
#include "app/dialogue.hpp"
#include "app/dialogue_texts.hpp"
#include "app/plain_text.hpp"
#include "console/utf8.hpp"

#include <cstdio>

namespace tarvelle {

namespace {

// One line of standard input without its line end (LF, and a CR before it);
// characters past the limit are dropped. nullopt at the end of input.
std::optional<std::string> readNameFromLine()
{
    std::string entry;
    std::size_t characterCount = 0;
    bool storing = true;
    bool anyByte = false;
    bool lastStoredIsCarriageReturn = false;
    for (int byte = std::getc(stdin); byte != EOF; byte = std::getc(stdin)) {
        anyByte = true;
        if (byte == '\n') {
            if (lastStoredIsCarriageReturn) {
                entry.pop_back();
            }
            return entry;
        }
        const char character = static_cast<char>(byte);
        if (!console::isUtf8Continuation(character)) {
            storing = characterCount < maxFileNameCharacters;
            if (storing) {
                ++characterCount;
            }
        }
        lastStoredIsCarriageReturn = storing && byte == '\r';
        if (storing) {
            entry += character;
        }
    }
    if (!anyByte) {
        return std::nullopt;
    }
    return entry;
}

class LineDialogue final : public Dialogue {
public:
    ~LineDialogue() override { std::fflush(stdout); }

    void showBanner() override
    {
        for (std::string_view line :
             {dialogue_text::title, dialogue_text::notice, dialogue_text::webAddress, std::string_view{}}) {
            printLine(stdout, line);
        }
    }

    std::optional<std::string> readInputFileName() override
    {
        printLine(stdout, dialogue_text::prompt);
        return readNameFromLine();
    }

    void showInputError(std::string_view inputFileName, std::string_view messageText) override
    {
        std::fflush(stdout);
        printLine(stderr, plainErrorLine(inputFileName, messageText));
    }

    void showWorking() override { printLine(stdout, dialogue_text::working); }

    void showCompletion(int failedOutputCount, int outputFileCount) override
    {
        // No key is awaited here, so there is no "press any key" line.
        printLine(stdout, failedOutputCount == 0 ? dialogue_text::completed : dialogue_text::completedWithErrors);
        if (failedOutputCount > 0) {
            printLine(stdout, dialogue_text::failedOutputs(failedOutputCount, outputFileCount));
        }
    }

    void waitForKey() override {}
};

} // namespace

std::unique_ptr<Dialogue> makeLineDialogue()
{
    return std::make_unique<LineDialogue>();
}

} // namespace tarvelle
