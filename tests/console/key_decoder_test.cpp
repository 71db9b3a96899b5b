#include "console/key_decoder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvelle::console {
namespace {

std::vector<std::uint8_t> toBytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

struct DecodeCase {
    const char* name;
    std::string input;
    bool inputPaused;
    KeyKind kind;
    std::size_t bytesUsed;
};

// Whole keys: what they decode to and how many bytes they take.
const DecodeCase wholeKeys[] = {
    {"Letter", "a", false, KeyKind::Character, 1},
    {"LetterBeforeMore", "ab", false, KeyKind::Character, 1},
    {"Blank", " ", false, KeyKind::Character, 1},
    {"Tilde", "~", false, KeyKind::Character, 1},
    {"CarriageReturn", "\r", false, KeyKind::Enter, 1},
    {"LineFeed", "\n", false, KeyKind::Enter, 1},
    {"CarriageReturnLineFeedIsOneEnter", "\r\nx", false, KeyKind::Enter, 2},
    {"LineFeedCarriageReturnIsTwo", "\n\r", false, KeyKind::Enter, 1},
    {"Delete", "\x7f", false, KeyKind::Backspace, 1},
    {"ControlH", "\b", false, KeyKind::Backspace, 1},
    {"Tab", "\t", false, KeyKind::Ignored, 1},
    {"ControlC", "\x03", false, KeyKind::Ignored, 1},
    {"ControlD", "\x04", false, KeyKind::Ignored, 1},
    {"ControlZ", "\x1a", false, KeyKind::Ignored, 1},
    {"Nul", std::string(1, '\0'), false, KeyKind::Ignored, 1},
    {"CursorUp", "\x1b[A", false, KeyKind::Ignored, 3},
    {"CursorLeftThenLetter", "\x1b[Dq", false, KeyKind::Ignored, 3},
    {"ShiftCursorRight", "\x1b[1;2C", false, KeyKind::Ignored, 6},
    {"Home", "\x1b[H", false, KeyKind::Ignored, 3},
    {"HomeVt", "\x1b[1~", false, KeyKind::Ignored, 4},
    {"Insert", "\x1b[2~", false, KeyKind::Ignored, 4},
    {"DeleteKey", "\x1b[3~", false, KeyKind::Ignored, 4},
    {"PageDown", "\x1b[6~", false, KeyKind::Ignored, 4},
    {"F5", "\x1b[15~", false, KeyKind::Ignored, 5},
    {"F12", "\x1b[24~", false, KeyKind::Ignored, 5},
    {"ControlF12", "\x1b[24;5~", false, KeyKind::Ignored, 7},
    {"LinuxConsoleF1", "\x1b[[A", false, KeyKind::Ignored, 4},
    {"Ss3CursorUp", "\x1bOA", false, KeyKind::Ignored, 3},
    {"Ss3F1", "\x1bOP", false, KeyKind::Ignored, 3},
    {"Ss3End", "\x1bOF", false, KeyKind::Ignored, 3},
    {"Ss3WithModifier", "\x1bO5P", false, KeyKind::Ignored, 4},
    {"AltLetter", "\x1bx", false, KeyKind::Ignored, 2},
    {"AltBackspace", "\x1b\x7f", false, KeyKind::Ignored, 2},
    {"AltEnter", "\x1b\r", false, KeyKind::Ignored, 2},
    {"EscBeforeSequence", "\x1b\x1b[A", false, KeyKind::Ignored, 1},
    {"AltTwoByteCharacter", "\x1b\xc3\xa9", false, KeyKind::Ignored, 3},
    {"BrokenSequenceKeepsOddByte", "\x1b[1\x03", false, KeyKind::Ignored, 3},
    {"LoneEscPaused", "\x1b", true, KeyKind::Ignored, 1},
    {"AltOPaused", "\x1bO", true, KeyKind::Ignored, 2},
    {"CutSequencePaused", "\x1b[1;", true, KeyKind::Ignored, 4},
    {"Utf8TwoBytes", "\xc3\xa9", false, KeyKind::Character, 2},
    {"Utf8ThreeBytes", "\xe2\x82\xac", false, KeyKind::Character, 3},
    {"Utf8FourBytes", "\xf0\x9f\x8e\xb5", false, KeyKind::Character, 4},
    {"Utf8BeforeAscii", "\xc3\xa9x", false, KeyKind::Character, 2},
    {"Utf8LowestTwoByte", "\xc2\xa0", false, KeyKind::Character, 2},
    {"Utf8HighestCodePoint", "\xf4\x8f\xbf\xbf", false, KeyKind::Character, 4},
    {"C1ControlNotEchoed", "\xc2\x9b", false, KeyKind::Ignored, 2},
    {"StrayContinuationByte", "\x80", false, KeyKind::Ignored, 1},
    {"OverlongLeadC0", "\xc0\xaf", false, KeyKind::Ignored, 1},
    {"LeadF5", "\xf5\x80\x80\x80", false, KeyKind::Ignored, 1},
    {"ByteFF", "\xff", false, KeyKind::Ignored, 1},
    {"OverlongThreeByte", "\xe0\x80\xaf", false, KeyKind::Ignored, 1},
    {"Surrogate", "\xed\xa0\x80", false, KeyKind::Ignored, 1},
    {"AboveUnicode", "\xf4\x90\x80\x80", false, KeyKind::Ignored, 1},
    {"LeadThenAscii", "\xc3x", false, KeyKind::Ignored, 1},
    {"ThreeByteBrokenAtThird", "\xe2\x82x", false, KeyKind::Ignored, 2},
    {"CutCharacterPaused", "\xe2\x82", true, KeyKind::Ignored, 2},
};

class DecodeKeyTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeKeyTest, DecodesKindAndBytesUsed)
{
    const DecodeCase& testCase = GetParam();
    const std::vector<std::uint8_t> bytes = toBytes(testCase.input);
    const std::optional<DecodedKey> decoded = decodeKey(bytes, testCase.inputPaused);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->key.kind, testCase.kind);
    EXPECT_EQ(decoded->bytesUsed, testCase.bytesUsed);
    // The key carries exactly the bytes it was made of: a character is echoed
    // and stored from them, and Esc is told from other ignored keys by them.
    EXPECT_EQ(decoded->key.bytes, testCase.input.substr(0, testCase.bytesUsed));
}

INSTANTIATE_TEST_SUITE_P(Keys, DecodeKeyTest, testing::ValuesIn(wholeKeys),
                         [](const testing::TestParamInfo<DecodeCase>& info) { return info.param.name; });

struct PrefixCase {
    const char* name;
    std::string input;
};

// Beginnings of longer keys: without a pause the decoder waits for more.
const PrefixCase incompletePrefixes[] = {
    {"Esc", "\x1b"},
    {"EscBracket", "\x1b["},
    {"CsiParameters", "\x1b[1;5"},
    {"CsiTilde", "\x1b[24"},
    {"LinuxConsoleF1", "\x1b[["},
    {"EscO", "\x1bO"},
    {"Ss3Modifier", "\x1bO5"},
    {"Utf8TwoOfThree", "\xe2\x82"},
    {"Utf8LeadOfFour", "\xf0"},
    {"Utf8ThreeOfFour", "\xf0\x9f\x8e"},
    {"AltCutCharacter", "\x1b\xc3"},
};

class IncompletePrefixTest : public testing::TestWithParam<PrefixCase> {};

TEST_P(IncompletePrefixTest, WaitsWithoutPauseAndIsIgnoredWholeAfterPause)
{
    const std::vector<std::uint8_t> bytes = toBytes(GetParam().input);
    EXPECT_FALSE(decodeKey(bytes, false).has_value());

    const std::optional<DecodedKey> paused = decodeKey(bytes, true);
    ASSERT_TRUE(paused.has_value());
    EXPECT_EQ(paused->key.kind, KeyKind::Ignored);
    EXPECT_EQ(paused->bytesUsed, bytes.size());
}

INSTANTIATE_TEST_SUITE_P(Prefixes, IncompletePrefixTest, testing::ValuesIn(incompletePrefixes),
                         [](const testing::TestParamInfo<PrefixCase>& info) { return info.param.name; });

TEST(DecodeKey, NothingToDecode)
{
    EXPECT_FALSE(decodeKey({}, false).has_value());
    EXPECT_FALSE(decodeKey({}, true).has_value());
}

// Fed a stream piece by piece as a terminal delivers it, the decoder yields
// the keys a user typed: only the characters survive, all bytes consumed.
TEST(DecodeKey, StreamOfMixedKeys)
{
    const std::string typed = "a\x1b[A\xc3\xa9\x1b[15~\t\x1bOPb\x7f\xe2\x82\xac\r\n";
    const std::vector<std::uint8_t> bytes = toBytes(typed);
    std::vector<KeyKind> kinds;
    std::string characters;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const std::span<const std::uint8_t> rest(bytes.data() + offset, bytes.size() - offset);
        const std::optional<DecodedKey> decoded = decodeKey(rest, false);
        ASSERT_TRUE(decoded.has_value()) << "stuck at byte " << offset;
        ASSERT_GT(decoded->bytesUsed, 0U);
        kinds.push_back(decoded->key.kind);
        if (decoded->key.kind == KeyKind::Character) {
            characters += decoded->key.bytes;
        }
        offset += decoded->bytesUsed;
    }
    EXPECT_EQ(characters, "a\xc3\xa9"
                          "b\xe2\x82\xac");
    const std::vector<KeyKind> expected = {
        KeyKind::Character, KeyKind::Ignored,   KeyKind::Character, KeyKind::Ignored,   KeyKind::Ignored,
        KeyKind::Ignored,   KeyKind::Character, KeyKind::Backspace, KeyKind::Character, KeyKind::Enter,
    };
    EXPECT_EQ(kinds, expected);
}

// Every byte string, however malformed, is consumed a little at a time: the
// reading loop can never stall or run past the end.
TEST(DecodeKey, EveryTwoBytePrefixMakesProgressWhenPaused)
{
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            const std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(first),
                                                     static_cast<std::uint8_t>(second)};
            const std::optional<DecodedKey> decoded = decodeKey(bytes, true);
            ASSERT_TRUE(decoded.has_value()) << first << ' ' << second;
            ASSERT_GE(decoded->bytesUsed, 1U) << first << ' ' << second;
            ASSERT_LE(decoded->bytesUsed, 2U) << first << ' ' << second;
        }
    }
}

} // namespace
} // namespace tarvelle::console
