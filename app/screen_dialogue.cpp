// The full-screen dialogue on a terminal: colours, cursor, boxes, keys one at a time.
#include "app/dialogue.hpp"
#include "app/dialogue_texts.hpp"
#include "console/console.hpp"
#include "console/screen_layout.hpp"
#include "console/utf8.hpp"

namespace tarvelle {

namespace {

using console::isUtf8Continuation;

constexpr std::string_view windowTitle = "Tarvelle";
constexpr int windowColumns = 80;
constexpr int windowRows = 15;
constexpr std::string_view errorTitle = " ERROR";

// The typed name starts here on the prompt row, after the prompt and four blanks.
constexpr int nameStartColumn = 24;

void useColours(console::Colours colours)
{
    console::setColours(colours.foreground, colours.background);
}

void writeLine(std::string_view text)
{
    console::writeText(text);
    console::endLine();
}

// Where the cursor stands, counted in cells from column 1 of the prompt row,
// once characterCount characters of the name have been echoed.
int cursorCell(std::size_t characterCount)
{
    return nameStartColumn - 1 + static_cast<int>(characterCount);
}

void removeLastCharacter(std::string& entry)
{
    while (!entry.empty() && isUtf8Continuation(entry.back())) {
        entry.pop_back();
    }
    if (!entry.empty()) {
        entry.pop_back();
    }
}

// Takes back the last character: the cursor steps back (to the last column
// of the row above from column 1), a blank is written, the cursor steps back again.
void eraseLastCharacter(std::string& entry, std::size_t& characterCount)
{
    const int columns = console::screenColumns();
    const bool atRowStart = cursorCell(characterCount) % columns == 0;
    removeLastCharacter(entry);
    --characterCount;
    int row = console::cursorRow() - (atRowStart ? 1 : 0);
    const int column = cursorCell(characterCount) % columns + 1;
    if (row < 1) {
        // The row above has scrolled off the top while a long name was typed:
        // draw it again on row 1, so the step back has something to step onto.
        const console::CellBuffer line =
            console::layOutPromptLine(dialogue_text::prompt, nameStartColumn, entry, columns);
        console::drawRow(line, line.rows(), 1);
        useColours(console::normalColours);
        row = 1;
    }
    console::moveCursor(row, column);
    console::writeText(" ");
    console::moveCursor(row, column);
}

std::string readNameFromKeys()
{
    std::string entry;
    std::size_t characterCount = 0;
    for (;;) {
        const console::Key key = console::readKey();
        switch (key.kind) {
        case console::KeyKind::Enter:
            console::endLine();
            return entry;
        case console::KeyKind::Backspace:
            if (characterCount > 0) {
                eraseLastCharacter(entry, characterCount);
            }
            break;
        case console::KeyKind::Character:
            if (characterCount < maxFileNameCharacters) {
                entry += key.bytes;
                ++characterCount;
                console::writeText(key.bytes);
            }
            break;
        case console::KeyKind::Ignored:
            break;
        }
    }
}

class ScreenDialogue final : public Dialogue {
public:
    ScreenDialogue()
    {
        console::openConsole();
        useColours(console::normalColours);
        console::clearScreen();
        console::styleWindow(windowTitle, windowColumns, windowRows);
    }

    ~ScreenDialogue() override { console::closeConsole(); }

    void showBanner() override
    {
        console::clearScreen();
        useColours(console::normalColours);
        console::endLine();
        writeLine(dialogue_text::title);
        writeLine(dialogue_text::notice);
        writeLine(dialogue_text::webAddress);
        console::endLine();
        console::endLine();
    }

    std::optional<std::string> readInputFileName() override
    {
        const int promptRow = console::cursorRow();
        useColours(console::hintColours);
        writeLine(dialogue_text::prompt);
        console::moveCursor(promptRow, nameStartColumn);
        useColours(console::normalColours);
        console::setCursorVisible(true);
        std::string entry = readNameFromKeys();
        console::setCursorVisible(false);
        return entry;
    }

    void showInputError(std::string_view /*inputFileName*/, std::string_view messageText) override
    {
        console::showErrorBox(errorTitle, messageText);
    }

    void showWorking() override
    {
        console::endLine();
        useColours(console::hintColours);
        writeLine(dialogue_text::working);
    }

    void showCompletion(int failedOutputCount, int outputFileCount) override
    {
        console::endLine();
        console::endLine();
        useColours(console::normalColours);
        writeLine(failedOutputCount == 0 ? dialogue_text::completed : dialogue_text::completedWithErrors);
        useColours(console::hintColours);
        if (failedOutputCount > 0) {
            writeLine(dialogue_text::failedOutputs(failedOutputCount, outputFileCount));
        }
        writeLine(dialogue_text::pressAnyKey);
    }

    void waitForKey() override
    {
        // A key typed during the work is still waiting to be read and ends the wait at once.
        console::readKey();
    }
};

} // namespace

std::unique_ptr<Dialogue> makeScreenDialogue()
{
    return std::make_unique<ScreenDialogue>();
}

} // namespace tarvelle
