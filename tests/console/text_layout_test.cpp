#include "console/text_layout.hpp"

#include <gtest/gtest.h>

namespace tarvelle::console {
namespace {

// The box text for a file that cannot be opened: backslash and n are two
// ordinary characters in it, laid out as a line break.
constexpr std::string_view notFoundText = "            File not found.\\n Please enter a valid filename  ";

struct LayoutCase {
    const char* name;
    std::string_view text;
    std::vector<std::string> lines;
    std::string oneLine;
    std::string withLineBreaks;
};

const LayoutCase layoutCases[] = {
    {"NotFound",
     notFoundText,
     {"            File not found.", " Please enter a valid filename  "},
     "File not found. Please enter a valid filename",
     "            File not found.\n Please enter a valid filename  "},
    {"NotStereo",
     "This is not a stereo Wave file  ",
     {"This is not a stereo Wave file  "},
     "This is not a stereo Wave file",
     "This is not a stereo Wave file  "},
    {"Empty", "", {""}, "", ""},
    {"OnlyBreak", "\\n", {"", ""}, "", "\n"},
    {"BreakAtEnd", "a\\n", {"a", ""}, "a", "a\n"},
    {"EmptyLineBetween", "a\\n\\nb", {"a", "", "b"}, "a b", "a\n\nb"},
    {"RealLineFeedIsNotABreak", "a\nb", {"a\nb"}, "a\nb", "a\nb"},
    {"LoneBackslash", "C:\\temp", {"C:\\temp"}, "C:\\temp", "C:\\temp"},
    {"BackslashBeforeBreak", "a\\\\nb", {"a\\", "b"}, "a\\ b", "a\\\nb"},
    {"InnerBlanksKept", "  a  b  \\n  c  ", {"  a  b  ", "  c  "}, "a  b c", "  a  b  \n  c  "},
    {"TabsTrimmed", "\ta\t\\n\tb", {"\ta\t", "\tb"}, "a b", "\ta\t\n\tb"},
};

class TextLayoutTest : public testing::TestWithParam<LayoutCase> {};

TEST_P(TextLayoutTest, SplitsOnBackslashN)
{
    EXPECT_EQ(messageLines(GetParam().text), GetParam().lines);
}

TEST_P(TextLayoutTest, JoinsTrimmedLinesWithOneBlank)
{
    EXPECT_EQ(messageOnOneLine(GetParam().text), GetParam().oneLine);
}

TEST_P(TextLayoutTest, BreaksLinesWithLineFeeds)
{
    EXPECT_EQ(messageWithLineBreaks(GetParam().text), GetParam().withLineBreaks);
}

INSTANTIATE_TEST_SUITE_P(Texts, TextLayoutTest, testing::ValuesIn(layoutCases),
                         [](const testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

TEST(TextLayout, NotFoundLinesKeepEveryCharacterButTheBreak)
{
    std::size_t total = 0;
    for (const std::string& line : messageLines(notFoundText)) {
        total += line.size();
    }
    EXPECT_EQ(notFoundText.size(), 61U);
    EXPECT_EQ(total, notFoundText.size() - 2);
}

} // namespace
} // namespace tarvelle::console
