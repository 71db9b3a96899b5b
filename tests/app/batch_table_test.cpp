#include "app/batch_table.hpp"

#include <gtest/gtest.h>

namespace tarvelle {
namespace {

TEST(CsvField, QuotedOnlyWhereRfc4180AsksItsQuotesDoubled)
{
    const struct {
        std::string_view text, field;
    } cases[] = {
        {"take.wav", "take.wav"},
        {"", ""},
        {"a, b.wav", "\"a, b.wav\""},
        {"say \"hi\".wav", "\"say \"\"hi\"\".wav\""},
        {"two\nlines\r.wav", "\"two\nlines\r.wav\""},
        {"x;y\t'z'.wav", "x;y\t'z'.wav"},
    };
    for (const auto& fieldCase : cases) {
        EXPECT_EQ(csvField(fieldCase.text), fieldCase.field);
    }
}

} // namespace
} // namespace tarvelle
