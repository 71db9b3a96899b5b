// The Windows console held for the dialogue, its hand-back at exit, on
// Ctrl+Break, closing and crashes (through the stop step of
// platform/stop_handlers.hpp), and the keys read from it.
//
// The dialogue draws on a screen buffer of its own, made active while the
// console is held and closed again afterwards, so that sizing it to 80 x 15
// and clearing it leaves the buffer (and scroll-back) of the command prompt
// it was started from untouched. Where no buffer can be made, it draws on
// standard output's.
#include "console/console.hpp"
#include "console/console_windows.hpp"
#include "platform/stop_handlers.hpp"
#include "platform/stop_handlers_windows.hpp"

#include <atomic>
#include <cstdlib>

namespace tarvelle::console {

namespace {

// ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT.
constexpr DWORD dialogueOutputMode = 3;
// No line input, no echo, no processed input: keys one at a time, unechoed,
// Ctrl+C an ordinary key.
constexpr DWORD dialogueInputMode = 0;

// What a restore needs: the handles and the state found at openConsole.
struct HeldConsole {
    HANDLE input = INVALID_HANDLE_VALUE;     // CONIN$, opened by us
    HANDLE original = INVALID_HANDLE_VALUE;  // standard output's screen buffer
    HANDLE ownBuffer = INVALID_HANDLE_VALUE; // the dialogue's, when it could be made
    HANDLE output = INVALID_HANDLE_VALUE;    // the one drawn on: ownBuffer or original
    DWORD inputMode = 0;
    DWORD outputMode = 0;
    WORD attributes = 0;
    CONSOLE_CURSOR_INFO cursorInfo{};
};

HeldConsole heldConsole;
// Set while the console is held; the restore runs once, whichever of
// closeConsole, atexit, a stop or a crash (platform/stop_handlers.hpp) gets
// there first.
std::atomic<bool> consoleHeld{false};

bool isConsoleHandle(HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

void restoreConsole()
{
    if (!consoleHeld.exchange(false)) {
        return;
    }
    setControlCIsKey(false);
    ::SetConsoleMode(heldConsole.input, heldConsole.inputMode);
    if (heldConsole.ownBuffer != INVALID_HANDLE_VALUE) {
        ::SetConsoleActiveScreenBuffer(heldConsole.original);
        ::CloseHandle(heldConsole.ownBuffer);
    }
    ::SetConsoleMode(heldConsole.original, heldConsole.outputMode);
    ::SetConsoleTextAttribute(heldConsole.original, heldConsole.attributes);
    ::SetConsoleCursorInfo(heldConsole.original, &heldConsole.cursorInfo);
    ::CloseHandle(heldConsole.input);
    heldConsole = HeldConsole{};
}

// Progress lines on standard error: the mode found, to hand back, and
// whether lines are on the screen below the cursor.
std::atomic<bool> statusLinesShown{false};
std::atomic<bool> statusModeChanged{false};
DWORD statusModeFound = 0;

void clearStatusLines()
{
    if (statusLinesShown.exchange(false)) {
        constexpr char clear[] = "\r\x1b[J";
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), clear, sizeof clear - 1, &written, nullptr);
    }
}

void restoreOnStop()
{
    clearStatusLines();
    restoreConsole();
}

void restoreConsoleAtExit()
{
    restoreConsole();
}

void registerRestoreOnce()
{
    static bool registered = false;
    if (registered) {
        return;
    }
    registered = true;
    std::atexit(restoreConsoleAtExit);
    setStopAction(StopStep::RestoreTerminal, restoreOnStop);
}

// A buffer for the dialogue alone; INVALID_HANDLE_VALUE when it cannot be
// made or shown.
HANDLE makeOwnScreenBuffer()
{
    const HANDLE buffer =
        ::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (buffer == INVALID_HANDLE_VALUE) {
        return INVALID_HANDLE_VALUE;
    }
    if (::SetConsoleActiveScreenBuffer(buffer) == 0) {
        ::CloseHandle(buffer);
        return INVALID_HANDLE_VALUE;
    }
    return buffer;
}

bool isModifierOrLockKey(WORD virtualKeyCode)
{
    switch (virtualKeyCode) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
        return true;
    default:
        return false;
    }
}

// The next event that is a key press, taken from the input; nullopt when
// none is waiting. Everything else in front of it is taken and dropped.
std::optional<Key> takeWaitingKey(HANDLE input)
{
    for (;;) {
        INPUT_RECORD record{};
        DWORD count = 0;
        if (::PeekConsoleInputA(input, &record, 1, &count) == 0 || count == 0) {
            return std::nullopt;
        }
        std::optional<Key> key;
        if (record.EventType == KEY_EVENT) {
            key = keyFromEvent(record.Event.KeyEvent);
        }
        if (::ReadConsoleInputA(input, &record, 1, &count) == 0) {
            return std::nullopt;
        }
        if (key) {
            return key;
        }
    }
}

HANDLE inputHandle()
{
    return consoleHeld ? heldConsole.input : ::GetStdHandle(STD_INPUT_HANDLE);
}

} // namespace

HANDLE outputHandle()
{
    return consoleHeld ? heldConsole.output : ::GetStdHandle(STD_OUTPUT_HANDLE);
}

std::optional<Key> keyFromEvent(const KEY_EVENT_RECORD& event)
{
    const auto character = static_cast<unsigned char>(event.uChar.AsciiChar);
    if (!event.bKeyDown) {
        // A character typed as Alt plus digits on the numeric pad arrives
        // with the release of Alt.
        if (event.wVirtualKeyCode == VK_MENU && character >= 32) {
            return Key{KeyKind::Character, std::string(1, event.uChar.AsciiChar)};
        }
        return std::nullopt;
    }
    if (isModifierOrLockKey(event.wVirtualKeyCode)) {
        return std::nullopt;
    }
    if (event.wVirtualKeyCode == VK_RETURN) {
        return Key{KeyKind::Enter, {}};
    }
    if (event.wVirtualKeyCode == VK_BACK) {
        return Key{KeyKind::Backspace, {}};
    }
    // AltGr reports as Ctrl+Alt and types characters such as @ and \ on many
    // layouts; Alt without Ctrl is a menu shortcut.
    const bool altPressed = (event.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
    const bool ctrlPressed = (event.dwControlKeyState & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
    // Cursor and function keys carry no character (0).
    if (character < 32 || (altPressed && !ctrlPressed)) {
        return Key{KeyKind::Ignored, {}};
    }
    return Key{KeyKind::Character, std::string(1, event.uChar.AsciiChar)};
}

bool isInteractive()
{
    return isConsoleHandle(::GetStdHandle(STD_INPUT_HANDLE)) && isConsoleHandle(::GetStdHandle(STD_OUTPUT_HANDLE));
}

bool standardErrorIsTerminal()
{
    return isConsoleHandle(::GetStdHandle(STD_ERROR_HANDLE));
}

bool startStatusLines()
{
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!isConsoleHandle(error) || ::GetConsoleMode(error, &mode) == 0) {
        return false;
    }
    // ENABLE_VIRTUAL_TERMINAL_PROCESSING: consoles before Windows 10 refuse it.
    constexpr DWORD virtualTerminal = 0x0004;
    if ((mode & virtualTerminal) == 0) {
        if (::SetConsoleMode(error, mode | virtualTerminal) == 0) {
            return false;
        }
        statusModeFound = mode;
        statusModeChanged = true;
    }
    setStopAction(StopStep::RestoreTerminal, restoreOnStop);
    return true;
}

void setStatusLinesShown(bool shown)
{
    statusLinesShown = shown;
}

void endStatusLines()
{
    statusLinesShown = false;
    if (statusModeChanged.exchange(false)) {
        ::SetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), statusModeFound);
    }
}

int standardErrorColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) == 0) {
        return 80;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

bool openConsole()
{
    if (consoleHeld) {
        return true;
    }
    if (!isInteractive()) {
        return false;
    }
    HeldConsole found;
    found.original = ::GetStdHandle(STD_OUTPUT_HANDLE);
    // CONIN$ rather than standard input: the same console input, but ours to
    // keep open whatever the caller does with its standard handles.
    found.input = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (found.input == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (::GetConsoleMode(found.input, &found.inputMode) == 0 ||
        ::GetConsoleMode(found.original, &found.outputMode) == 0 ||
        ::GetConsoleScreenBufferInfo(found.original, &info) == 0 ||
        ::GetConsoleCursorInfo(found.original, &found.cursorInfo) == 0) {
        ::CloseHandle(found.input);
        return false;
    }
    found.attributes = info.wAttributes;

    heldConsole = found;
    registerRestoreOnce();
    consoleHeld = true;
    setControlCIsKey(true);

    heldConsole.ownBuffer = makeOwnScreenBuffer();
    heldConsole.output =
        heldConsole.ownBuffer != INVALID_HANDLE_VALUE ? heldConsole.ownBuffer : heldConsole.original;
    ::SetConsoleMode(heldConsole.output, dialogueOutputMode);
    ::SetConsoleMode(heldConsole.input, dialogueInputMode);
    return true;
}

void closeConsole()
{
    restoreConsole();
}

Key readKey()
{
    const HANDLE input = inputHandle();
    for (;;) {
        if (std::optional<Key> key = takeWaitingKey(input)) {
            return *key;
        }
        ::Sleep(1);
    }
}

} // namespace tarvelle::console
