// Screens laid out as cells before they are drawn, so that what a screen
// shows is decided without a console and can be compared as text.
#pragma once

#include "console/console.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvelle::console {

struct Colours {
    Colour foreground;
    Colour background;
    bool operator==(const Colours&) const = default;
};

constexpr Colours normalColours{Colour::Black, Colour::BrightWhite};
constexpr Colours hintColours{Colour::DarkGrey, Colour::BrightWhite};
constexpr Colours boxColours{Colour::BrightWhite, Colour::DarkGrey};

struct Cell {
    std::string character; // one character, as its UTF-8 bytes
    Colours colours;
};

// A rectangle of cells, counted from row 1, column 1. A cell never written
// leaves the screen under it as it was when the buffer is drawn.
class CellBuffer {
public:
    CellBuffer(int rows, int columns);

    int rows() const { return rows_; }
    int columns() const { return columns_; }
    // One character per cell from (row, column); what passes the row's end is dropped.
    void write(int row, int column, std::string_view text, Colours colours);
    const std::optional<Cell>& at(int row, int column) const;

private:
    int rows_;
    int columns_;
    std::vector<std::optional<Cell>> cells_;
};

// Draws the written cells of one row of the buffer onto a row of the screen.
// Leaves the colours of the last cell drawn set.
void drawRow(const CellBuffer& cells, int row, int screenRow);
// Every row onto the screen row of the same number.
void drawCells(const CellBuffer& cells);

// The framed error box, centred on a screen of the given size, with its OK
// button; the frame in box-drawing characters or, without them, + - |.
CellBuffer layOutErrorBox(std::string_view title, std::string_view text, int screenRows, int screenColumns,
                          bool boxDrawingCharacters);

// The prompt, then from nameStartColumn the name as typed, wrapping at the
// right edge; one row more than the text fills when it ends at a row's end,
// the row the cursor then stands on.
CellBuffer layOutPromptLine(std::string_view prompt, int nameStartColumn, std::string_view name, int columns);

} // namespace tarvelle::console
