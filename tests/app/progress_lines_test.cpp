#include "app/progress_lines.hpp"

#include <gtest/gtest.h>

namespace tarvelle {
namespace {

TEST(ProgressText, ShareReadTimeLeftAndWidth)
{
    const struct {
        std::uint64_t done, total;
        double elapsed;
        int columns;
        std::string text;
    } cases[] = {
        {0, 0, 3, 80, "tarvelle: t\xc3\xa4ke.wav: reading"},
        {42, 100, 0.2, 80, "tarvelle: t\xc3\xa4ke.wav: 42% read"},
        {42, 100, 10, 80, "tarvelle: t\xc3\xa4ke.wav: 42% read, 0:14 left"},
        {1, 400, 10, 80, "tarvelle: t\xc3\xa4ke.wav: 0% read, 1:06:30 left"},
        {120, 100, 10, 80, "tarvelle: t\xc3\xa4ke.wav: 100% read, 0:00 left"},
        // Cut one column short of the width, between characters.
        {42, 100, 10, 13, "tarvelle: t\xc3\xa4"},
    };
    for (const auto& textCase : cases) {
        EXPECT_EQ(progressText("t\xc3\xa4ke.wav", textCase.done, textCase.total,
                               std::chrono::duration<double>(textCase.elapsed), textCase.columns),
                  textCase.text);
    }
}

} // namespace
} // namespace tarvelle
