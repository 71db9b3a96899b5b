// Built for Windows only: what the console backend makes of console key events.
#include "console/console_windows.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace tarvelle::console {
namespace {

struct KeyEventCase {
    const char* name;
    bool keyDown;
    WORD virtualKeyCode;
    unsigned char character;
    DWORD controlKeyState;
    std::optional<KeyKind> expectedKind; // nullopt: no key press at all
};

KEY_EVENT_RECORD eventOf(const KeyEventCase& testCase)
{
    KEY_EVENT_RECORD event{};
    event.bKeyDown = testCase.keyDown ? TRUE : FALSE;
    event.wRepeatCount = 1;
    event.wVirtualKeyCode = testCase.virtualKeyCode;
    event.uChar.AsciiChar = static_cast<CHAR>(testCase.character);
    event.dwControlKeyState = testCase.controlKeyState;
    return event;
}

void PrintTo(const KeyEventCase& testCase, std::ostream* stream)
{
    *stream << testCase.name;
}

class KeyFromEventTest : public ::testing::TestWithParam<KeyEventCase> {};

TEST_P(KeyFromEventTest, GivesTheKeyTheEventStandsFor)
{
    const KeyEventCase& testCase = GetParam();
    const std::optional<Key> key = keyFromEvent(eventOf(testCase));
    ASSERT_EQ(key.has_value(), testCase.expectedKind.has_value());
    if (!key) {
        return;
    }
    EXPECT_EQ(key->kind, *testCase.expectedKind);
    const std::string expectedBytes =
        *testCase.expectedKind == KeyKind::Character ? std::string(1, static_cast<char>(testCase.character)) : "";
    EXPECT_EQ(key->bytes, expectedBytes);
}

constexpr DWORD leftAlt = LEFT_ALT_PRESSED;
constexpr DWORD altGr = RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED;

INSTANTIATE_TEST_SUITE_P(
    KeyEvents, KeyFromEventTest,
    ::testing::Values(KeyEventCase{"Letter", true, 'A', 'a', 0, KeyKind::Character},
                      KeyEventCase{"ShiftedLetter", true, 'A', 'A', SHIFT_PRESSED, KeyKind::Character},
                      KeyEventCase{"Blank", true, VK_SPACE, ' ', 0, KeyKind::Character},
                      KeyEventCase{"CodePageByteAbove127", true, 'E', 0xE9, 0, KeyKind::Character},
                      KeyEventCase{"NumericPadDigit", true, VK_NUMPAD1, '1', NUMLOCK_ON, KeyKind::Character},
                      KeyEventCase{"AltGrCharacter", true, 'Q', '@', altGr, KeyKind::Character},
                      KeyEventCase{"Enter", true, VK_RETURN, '\r', 0, KeyKind::Enter},
                      KeyEventCase{"NumericPadEnter", true, VK_RETURN, '\r', ENHANCED_KEY, KeyKind::Enter},
                      KeyEventCase{"Backspace", true, VK_BACK, '\b', 0, KeyKind::Backspace},
                      KeyEventCase{"CtrlBackspace", true, VK_BACK, 0x7F, LEFT_CTRL_PRESSED, KeyKind::Backspace},
                      KeyEventCase{"CtrlHIsNoBackspace", true, 'H', '\b', LEFT_CTRL_PRESSED, KeyKind::Ignored},
                      KeyEventCase{"CtrlMIsNoEnter", true, 'M', '\r', LEFT_CTRL_PRESSED, KeyKind::Ignored},
                      KeyEventCase{"CtrlC", true, 'C', 3, LEFT_CTRL_PRESSED, KeyKind::Ignored},
                      KeyEventCase{"Escape", true, VK_ESCAPE, 27, 0, KeyKind::Ignored},
                      KeyEventCase{"Tab", true, VK_TAB, '\t', 0, KeyKind::Ignored},
                      KeyEventCase{"CursorKey", true, VK_LEFT, 0, ENHANCED_KEY, KeyKind::Ignored},
                      KeyEventCase{"FunctionKey", true, VK_F1, 0, 0, KeyKind::Ignored},
                      KeyEventCase{"Delete", true, VK_DELETE, 0, ENHANCED_KEY, KeyKind::Ignored},
                      KeyEventCase{"AltWithLetter", true, 'X', 'x', leftAlt, KeyKind::Ignored},
                      KeyEventCase{"LetterReleased", false, 'A', 'a', 0, std::nullopt},
                      KeyEventCase{"EnterReleased", false, VK_RETURN, '\r', 0, std::nullopt},
                      KeyEventCase{"ShiftAlone", true, VK_SHIFT, 0, SHIFT_PRESSED, std::nullopt},
                      KeyEventCase{"CtrlAlone", true, VK_CONTROL, 0, LEFT_CTRL_PRESSED, std::nullopt},
                      KeyEventCase{"AltAlone", true, VK_MENU, 0, leftAlt, std::nullopt},
                      KeyEventCase{"CapsLock", true, VK_CAPITAL, 0, CAPSLOCK_ON, std::nullopt},
                      KeyEventCase{"NumLock", true, VK_NUMLOCK, 0, NUMLOCK_ON, std::nullopt},
                      KeyEventCase{"ScrollLock", true, VK_SCROLL, 0, SCROLLLOCK_ON, std::nullopt},
                      // Alt + 0169 on the numeric pad: the character comes with Alt's release.
                      KeyEventCase{"AltNumericPadCharacter", false, VK_MENU, 0xA9, 0, KeyKind::Character},
                      KeyEventCase{"AltReleasedAlone", false, VK_MENU, 0, 0, std::nullopt}),
    [](const ::testing::TestParamInfo<KeyEventCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace tarvelle::console
