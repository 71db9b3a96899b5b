// The full-screen dialogue on a terminal: colours, cursor, boxes, keys one at a time.
#include "app/dialogue.hpp"
#include "app/dialogue_texts.hpp"
#include "console/console.hpp"
#include "console/screen_layout.hpp"
#include "console/utf8.hpp"

#include <algorithm>
#include <string>
#include <vector>

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

void removeLastCharacter(std::string& entry)
{
    while (!entry.empty() && isUtf8Continuation(entry.back())) {
        entry.pop_back();
    }
    if (!entry.empty()) {
        entry.pop_back();
    }
}

// The name as typed and where its characters stand, in cells from column 1
// of the prompt row: a wide character takes two cells, and one that does not
// fit in a row's last column starts the next row, leaving that column blank.
struct EchoedName {
    struct Placed {
        int start = 0;
        int cells = 1;
    };
    std::string entry;
    std::vector<Placed> characters;

    int endCell() const
    {
        return characters.empty() ? nameStartColumn - 1 : characters.back().start + characters.back().cells;
    }
};

// Takes back the last character: the cells it took are blanked and the cursor
// steps back to where it was before the character was typed.
void eraseLastCharacter(EchoedName& name)
{
    const int columns = std::max(console::screenColumns(), 1);
    const int oldEnd = name.endCell();
    const EchoedName::Placed erased = name.characters.back();
    name.characters.pop_back();
    removeLastCharacter(name.entry);
    const int newEnd = name.endCell();
    // The cursor's row is that of the cell after the last character: the
    // console wraps as soon as a row is full.
    const int erasedRow = console::cursorRow() - (oldEnd / columns - erased.start / columns);
    int row = console::cursorRow() - (oldEnd / columns - newEnd / columns);
    if (erasedRow >= 1) {
        console::moveCursor(erasedRow, erased.start % columns + 1);
        console::writeText(std::string(static_cast<std::size_t>(erased.cells), ' '));
    }
    if (row < 1) {
        // The row above has scrolled off the top while a long name was typed:
        // draw it again on row 1, so the step back has something to step onto.
        const console::CellBuffer line =
            console::layOutPromptLine(dialogue_text::prompt, nameStartColumn, name.entry, columns);
        console::drawRow(line, line.rows(), 1);
        useColours(console::normalColours);
        row = 1;
    }
    console::moveCursor(row, newEnd % columns + 1);
}

std::string readNameFromKeys()
{
    EchoedName name;
    for (;;) {
        const console::Key key = console::readKey();
        switch (key.kind) {
        case console::KeyKind::Enter:
            console::endLine();
            return name.entry;
        case console::KeyKind::Backspace:
            if (!name.characters.empty()) {
                eraseLastCharacter(name);
            }
            break;
        case console::KeyKind::Character:
            if (name.characters.size() < maxFileNameCharacters) {
                const int cells = console::characterCells(key.bytes);
                const int start =
                    console::placedCell(name.endCell(), cells, std::max(console::screenColumns(), 1));
                name.characters.push_back({start, cells});
                name.entry += key.bytes;
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
