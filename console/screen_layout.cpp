#include "console/screen_layout.hpp"

#include "console/text_layout.hpp"
#include "console/utf8.hpp"

#include <algorithm>
#include <cstddef>

namespace tarvelle::console {

namespace {

// The characters of text, each as its bytes.
std::vector<std::string_view> characters(std::string_view text)
{
    std::vector<std::string_view> result;
    std::size_t start = 0;
    for (std::size_t index = 1; index <= text.size(); ++index) {
        if (index == text.size() || !isUtf8Continuation(text[index])) {
            result.push_back(text.substr(start, index - start));
            start = index;
        }
    }
    return result;
}

// Pieces of at most width characters.
std::vector<std::string> wrapLine(std::string_view line, std::size_t width)
{
    std::vector<std::string> pieces(1);
    std::size_t pieceCharacters = 0;
    for (std::string_view character : characters(line)) {
        if (pieceCharacters == width) {
            pieces.emplace_back();
            pieceCharacters = 0;
        }
        pieces.back() += character;
        ++pieceCharacters;
    }
    return pieces;
}

struct FrameCharacters {
    std::string_view topLeft, topRight, bottomLeft, bottomRight, horizontal, vertical;
};

std::string repeated(std::string_view piece, std::size_t count)
{
    std::string result;
    for (std::size_t index = 0; index < count; ++index) {
        result += piece;
    }
    return result;
}

} // namespace

CellBuffer::CellBuffer(int rows, int columns)
    : rows_(std::max(rows, 0)), columns_(std::max(columns, 0)),
      cells_(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(columns_))
{
}

void CellBuffer::write(int row, int column, std::string_view text, Colours colours)
{
    if (row < 1 || row > rows_) {
        return;
    }
    for (std::string_view character : characters(text)) {
        if (column > columns_) {
            return;
        }
        if (column >= 1) {
            cells_[static_cast<std::size_t>((row - 1) * columns_ + column - 1)] =
                Cell{std::string(character), colours};
        }
        ++column;
    }
}

const std::optional<Cell>& CellBuffer::at(int row, int column) const
{
    return cells_[static_cast<std::size_t>((row - 1) * columns_ + column - 1)];
}

void drawRow(const CellBuffer& cells, int row, int screenRow)
{
    // Runs of written cells in one colour go out as one piece of text.
    std::optional<Colours> current;
    std::string run;
    int runColumn = 0;
    auto flush = [&] {
        if (!run.empty()) {
            moveCursor(screenRow, runColumn);
            setColours(current->foreground, current->background);
            writeText(run);
            run.clear();
        }
    };
    for (int column = 1; column <= cells.columns(); ++column) {
        const std::optional<Cell>& cell = cells.at(row, column);
        if (!cell || (!run.empty() && cell->colours != *current)) {
            flush();
        }
        if (cell) {
            if (run.empty()) {
                runColumn = column;
                current = cell->colours;
            }
            run += cell->character;
        }
    }
    flush();
}

void drawCells(const CellBuffer& cells)
{
    for (int row = 1; row <= cells.rows(); ++row) {
        drawRow(cells, row, row);
    }
}

CellBuffer layOutErrorBox(std::string_view title, std::string_view text, int screenRows, int screenColumns,
                          bool boxDrawingCharacters)
{
    const FrameCharacters frame = boxDrawingCharacters
                                      ? FrameCharacters{"\u250c", "\u2510", "\u2514", "\u2518", "\u2500", "\u2502"}
                                      : FrameCharacters{"+", "+", "+", "+", "-", "|"};
    constexpr std::string_view okButton = "[ OK ]";
    // Two blanks of margin inside the frame, and the box clear of the screen's
    // edges so that drawing its last column never wraps.
    const std::size_t widest = static_cast<std::size_t>(std::max(screenColumns - 8, 10));
    const std::size_t tallest = static_cast<std::size_t>(std::max(screenRows - 4, 1));

    std::vector<std::string> lines;
    for (const std::string& line : messageLines(text)) {
        for (std::string& piece : wrapLine(line, widest)) {
            lines.push_back(std::move(piece));
        }
    }
    if (lines.size() > tallest) {
        lines.resize(tallest);
    }
    std::size_t contentWidth = std::max(characterCount(title) + 2, okButton.size());
    for (const std::string& line : lines) {
        contentWidth = std::max(contentWidth, characterCount(line));
    }
    contentWidth = std::min(contentWidth, widest);
    const int boxWidth = static_cast<int>(contentWidth) + 6;
    const int boxHeight = static_cast<int>(lines.size()) + 4;
    const int left = std::max((screenColumns - boxWidth) / 2 + 1, 1);
    const int top = std::max((screenRows - boxHeight) / 2 + 1, 1);

    CellBuffer box(screenRows, screenColumns);
    const std::size_t titleWidth = std::min(characterCount(title), contentWidth + 2);
    box.write(top, left,
              std::string(frame.topLeft) + std::string(frame.horizontal) + std::string(title) + " " +
                  repeated(frame.horizontal, contentWidth + 2 - titleWidth) + std::string(frame.topRight),
              boxColours);
    int row = top + 1;
    auto writeBodyRow = [&](std::string_view content) {
        const std::size_t padding = contentWidth - std::min(characterCount(content), contentWidth);
        box.write(row++, left,
                  std::string(frame.vertical) + "  " + std::string(content) + std::string(padding, ' ') + "  " +
                      std::string(frame.vertical),
                  boxColours);
    };
    for (const std::string& line : lines) {
        writeBodyRow(line);
    }
    writeBodyRow("");
    writeBodyRow("");
    // The button, centred, in the dialogue's own colours.
    const std::size_t buttonIndent = (contentWidth - okButton.size()) / 2;
    box.write(row - 1, left + 3 + static_cast<int>(buttonIndent), okButton, normalColours);
    box.write(row, left,
              std::string(frame.bottomLeft) + repeated(frame.horizontal, contentWidth + 4) +
                  std::string(frame.bottomRight),
              boxColours);
    return box;
}

CellBuffer layOutPromptLine(std::string_view prompt, int nameStartColumn, std::string_view name, int columns)
{
    const int width = std::max(columns, 1);
    // Where each character starts, in cells from the row's start, as the
    // terminal puts them: a wide one takes two cells and never a row's last alone.
    std::vector<int> starts;
    int endCell = nameStartColumn - 1;
    for (std::string_view character : characters(name)) {
        const int cells = characterCells(character);
        starts.push_back(placedCell(endCell, cells, width));
        endCell = starts.back() + cells;
    }
    CellBuffer line(endCell / width + 1, width);
    line.write(1, 1, prompt, hintColours);
    std::size_t index = 0;
    for (std::string_view character : characters(name)) {
        const int cell = starts[index++];
        line.write(cell / width + 1, cell % width + 1, character, normalColours);
    }
    return line;
}

} // namespace tarvelle::console
