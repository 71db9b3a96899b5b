#include "console/screen_layout.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace tarvelle::console {
namespace {

// One row as drawn: from its first written cell to its last, "." for a cell
// left alone, and per cell n (normal), h (hint) or b (box) for its colours.
struct DrawnRow {
    int column = 0;
    std::string text;
    std::string colours;
    bool operator==(const DrawnRow&) const = default;
};

void PrintTo(const DrawnRow& row, std::ostream* stream)
{
    *stream << row.column << " \"" << row.text << "\" \"" << row.colours << '"';
}

char colourCode(const Colours& colours)
{
    return colours == normalColours ? 'n' : colours == hintColours ? 'h' : colours == boxColours ? 'b' : '?';
}

std::vector<DrawnRow> drawnRows(const CellBuffer& cells)
{
    std::vector<DrawnRow> rows;
    for (int row = 1; row <= cells.rows(); ++row) {
        DrawnRow drawn;
        int last = 0;
        for (int column = 1; column <= cells.columns(); ++column) {
            if (cells.at(row, column)) {
                drawn.column = drawn.column == 0 ? column : drawn.column;
                last = column;
            }
        }
        for (int column = drawn.column; column >= 1 && column <= last; ++column) {
            const std::optional<Cell>& cell = cells.at(row, column);
            drawn.text += cell ? cell->character : ".";
            drawn.colours += cell ? colourCode(cell->colours) : '.';
        }
        rows.push_back(drawn);
    }
    return rows;
}

TEST(ErrorBox, IsCentredWithItsLinesAndTheButton)
{
    const std::string box(38, 'b');
    const std::string buttonRow = std::string(16, 'b') + "nnnnnn" + std::string(16, 'b');
    // clang-format off
    const std::vector<DrawnRow> expected = {
        {}, {}, {}, {},
        {22, "+- ERROR ----------------------------+", box},
        {22, "|              File not found.       |", box},
        {22, "|   Please enter a valid filename    |", box},
        {22, "|                                    |", box},
        {22, "|               [ OK ]               |", buttonRow},
        {22, "+------------------------------------+", box},
        {}, {}, {}, {}, {},
    };
    // clang-format on
    EXPECT_EQ(drawnRows(layOutErrorBox(" ERROR", "            File not found.\\n Please enter a valid filename  ",
                                       15, 80, false)),
              expected);
}

struct PromptCase {
    const char* name;
    int columns;
    std::string_view entry;
    std::vector<DrawnRow> expected;
};

const PromptCase promptCases[] = {
    {"NameWrapsAtTheRightEdge",
     40,
     "abcdefghijklmnopqrstuvwxyz0123456789",
     {{1, "   Input Wave file?....abcdefghijklmnopq", std::string(19, 'h') + "...." + std::string(17, 'n')},
      {1, "rstuvwxyz0123456789", std::string(19, 'n')}}},
    // The cursor stands on the next row, with nothing on it yet.
    {"NameEndsAtTheRightEdge",
     40,
     "abcdefghijklmnopq",
     {{1, "   Input Wave file?....abcdefghijklmnopq", std::string(19, 'h') + "...." + std::string(17, 'n')}, {}}},
    {"NameInUtf8TakesOneCellPerCharacter",
     30,
     "M\u00fcsik\u20ac.wav",
     {{1, "   Input Wave file?....M\u00fcsik\u20ac.", std::string(19, 'h') + "...." + std::string(7, 'n')},
      {1, "wav", "nnn"}}},
    // A wide character takes two cells and is never split at the row's end.
    {"WideCharactersTakeTwoCells",
     30,
     "ab日本語x",
     {{1, "   Input Wave file?....ab日.本", std::string(19, 'h') + "....nnn.n"}, {1, "語.x", "n.n"}}},
};

class PromptLineTest : public testing::TestWithParam<PromptCase> {};

TEST_P(PromptLineTest, LaysOutThePromptAndTheName)
{
    EXPECT_EQ(drawnRows(layOutPromptLine("   Input Wave file?", 24, GetParam().entry, GetParam().columns)),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Prompts, PromptLineTest, testing::ValuesIn(promptCases),
                         [](const testing::TestParamInfo<PromptCase>& info) { return info.param.name; });

} // namespace
} // namespace tarvelle::console
