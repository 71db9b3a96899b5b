#include "app/dialogue.hpp"

#include "app/clip_job.hpp"
#include "console/console.hpp"
#include "console/text_layout.hpp"

#include <cstdint>
#include <cstdio>
#include <string>

namespace tarvelle {

namespace {

using console::Colour;

constexpr std::string_view titleLine = "   Tarvelle";
constexpr std::string_view noticeLine = "   Hard-clipping preview for 16-bit stereo WAV files";
constexpr std::string_view webAddressLine = "   tarvelle.example";
constexpr std::string_view promptText = "   Input Wave file?";
constexpr std::string_view workingLine = "   Working...";
constexpr std::string_view completedLine = "   Job completed";
constexpr std::string_view completedWithErrorsLine = "   Job completed with errors";
constexpr std::string_view pressAnyKeyLine = "   press any key to quit";
constexpr std::string_view errorTitle = " ERROR";

// The typed name starts here on the prompt row, after the prompt and four blanks.
constexpr int nameStartColumn = 24;

void setNormalColours()
{
    console::setColours(Colour::Black, Colour::BrightWhite);
}

void setHintColours()
{
    console::setColours(Colour::DarkGrey, Colour::BrightWhite);
}

void writeLine(std::string_view text)
{
    console::writeText(text);
    console::endLine();
}

bool isUtf8Continuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Where the cursor stands, counted in cells from column 1 of the prompt row,
// once characterCount characters of the name have been echoed.
int cursorCell(std::size_t characterCount)
{
    return nameStartColumn - 1 + static_cast<int>(characterCount);
}

// The last count characters of text.
std::string_view lastCharacters(std::string_view text, int count)
{
    std::size_t start = text.size();
    while (count > 0 && start > 0) {
        --start;
        if (!isUtf8Continuation(text[start])) {
            --count;
        }
    }
    return text.substr(start);
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

// The row above the cursor has scrolled off the top while a long name was
// typed: write it again on row 1, up to the cursor, so the step back has
// something to step onto.
void redrawRowOnTop(std::string_view entry, std::size_t characterCount)
{
    const int columns = console::screenColumns();
    const int cell = cursorCell(characterCount);
    console::moveCursor(1, 1);
    if (cell / columns == 0) {
        setHintColours();
        console::writeText(promptText);
        setNormalColours();
        console::moveCursor(1, nameStartColumn);
        console::writeText(entry);
    } else {
        console::writeText(lastCharacters(entry, cell % columns));
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
        redrawRowOnTop(entry, characterCount);
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
        if (!isUtf8Continuation(character)) {
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

std::string failedOutputsLine(int failedOutputCount)
{
    return "   " + std::to_string(failedOutputCount) + " of " + std::to_string(outputFileCount) +
           " output files could not be written";
}

void showCompletionOnScreen(int failedOutputCount)
{
    console::endLine();
    console::endLine();
    setNormalColours();
    if (failedOutputCount == 0) {
        writeLine(completedLine);
    } else {
        writeLine(completedWithErrorsLine);
    }
    setHintColours();
    if (failedOutputCount > 0) {
        writeLine(failedOutputsLine(failedOutputCount));
    }
    writeLine(pressAnyKeyLine);
}

} // namespace

void setUpConsole(DialogueMode mode, void* moduleInstance)
{
    if (mode == DialogueMode::Lines) {
        return;
    }
    // Without a console to take the dialogue still runs, only unstyled.
    console::openConsole();
    std::int32_t toolsState = 0;
    console::InitConsoleTools(moduleInstance, 0, 0, 0, &toolsState, 0);
    console::ConsoleToolBar(0, 5);
    console::ConsoleTitle("Tarvelle");
    console::ConsoleIcon(32512);          // IDI_APPLICATION
    console::DeleteWindowMenuItem(61728); // SC_RESTORE
    console::DeleteWindowMenuItem(0);
    console::DeleteWindowMenuItem(61440); // SC_SIZE
    console::DeleteWindowMenuItem(-2);
    console::DeleteWindowMenuItem(-1);
    console::DeleteWindowMenuItem(61488); // SC_MAXIMIZE
    setNormalColours();
    console::clearScreen();
    console::Console80x(15);
    console::ConsoleMove(32767, 32767);
}

void showBanner(DialogueMode mode)
{
    if (mode == DialogueMode::Lines) {
        for (std::string_view line : {titleLine, noticeLine, webAddressLine, std::string_view{}}) {
            printLine(stdout, line);
        }
        return;
    }
    console::clearScreen();
    setNormalColours();
    console::endLine();
    writeLine(titleLine);
    writeLine(noticeLine);
    writeLine(webAddressLine);
    console::endLine();
    console::endLine();
}

std::optional<std::string> readInputFileName(DialogueMode mode)
{
    if (mode == DialogueMode::Lines) {
        printLine(stdout, promptText);
        return readNameFromLine();
    }
    const int promptRow = console::cursorRow();
    setHintColours();
    writeLine(promptText);
    console::moveCursor(promptRow, nameStartColumn);
    setNormalColours();
    console::setCursorVisible(true);
    std::string entry = readNameFromKeys();
    console::setCursorVisible(false);
    return entry;
}

void printLine(std::FILE* stream, std::string_view text)
{
    // An empty view may hold no pointer at all, which fwrite must not be given.
    if (!text.empty()) {
        std::fwrite(text.data(), 1, text.size(), stream);
    }
    std::fputc('\n', stream);
    std::fflush(stream);
}

std::string plainErrorLine(std::string_view inputFileName, std::string_view messageText)
{
    std::string line = "tarvelle: ";
    line += inputFileName;
    line += ": ";
    line += console::messageOnOneLine(messageText);
    return line;
}

void showInputError(DialogueMode mode, std::string_view inputFileName, std::string_view messageText)
{
    if (mode == DialogueMode::Lines) {
        std::fflush(stdout);
        printLine(stderr, plainErrorLine(inputFileName, messageText));
        return;
    }
    console::MessageBeep(0);
    const std::string text(messageText);
    const std::string title(errorTitle);
    console::ConsoleMessageBox(text.c_str(), 0, title.c_str(), 0, 0);
}

void showWorking(DialogueMode mode)
{
    if (mode == DialogueMode::Lines) {
        printLine(stdout, workingLine);
        return;
    }
    console::endLine();
    setHintColours();
    writeLine(workingLine);
}

void showCompletion(DialogueMode mode, int failedOutputCount)
{
    if (mode == DialogueMode::Lines) {
        // No key is awaited here, so there is no "press any key" line.
        printLine(stdout, failedOutputCount == 0 ? completedLine : completedWithErrorsLine);
        if (failedOutputCount > 0) {
            printLine(stdout, failedOutputsLine(failedOutputCount));
        }
        return;
    }
    showCompletionOnScreen(failedOutputCount);
}

void waitForKey(DialogueMode mode)
{
    if (mode == DialogueMode::Lines) {
        return;
    }
    // A key typed during the work is still waiting to be read and ends the wait at once.
    console::readKey();
}

void closeDialogue(DialogueMode mode)
{
    if (mode == DialogueMode::Lines) {
        std::fflush(stdout);
        return;
    }
    console::closeConsole();
}

} // namespace tarvelle
