// The console backend on Windows: the Windows console functions, and USER32
// for the window, the message box and the beep.
//
// The dialogue draws on a screen buffer of its own, made active while the
// console is held and closed again afterwards, so that sizing it to 80 x 15
// and clearing it leaves the buffer (and scroll-back) of the command prompt
// it was started from untouched. Where no buffer can be made, it draws on
// standard output's.
#include "console/console_windows.hpp"
#include "console/console.hpp"
#include "console/text_layout.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

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
// closeConsole, atexit, the control handler or a crash gets there first.
std::atomic<bool> consoleHeld{false};
LPTOP_LEVEL_EXCEPTION_FILTER previousExceptionFilter = nullptr;

bool isConsoleHandle(HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

HANDLE outputHandle()
{
    return consoleHeld ? heldConsole.output : ::GetStdHandle(STD_OUTPUT_HANDLE);
}

HANDLE inputHandle()
{
    return consoleHeld ? heldConsole.input : ::GetStdHandle(STD_INPUT_HANDLE);
}

SHORT toCoordinate(int value)
{
    return static_cast<SHORT>(std::clamp(value, 0, 0x7fff));
}

void restoreConsole()
{
    if (!consoleHeld.exchange(false)) {
        return;
    }
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

void restoreConsoleAtExit()
{
    restoreConsole();
}

// Runs on a thread of its own. While the console is held Ctrl+C is an
// ordinary key, also where a console still raises it as an event (Wine on a
// terminal does). Otherwise FALSE lets the default handler end the process,
// as it would have without us.
BOOL WINAPI restoreConsoleOnControlEvent(DWORD event)
{
    if (event == CTRL_C_EVENT && consoleHeld) {
        return TRUE;
    }
    restoreConsole();
    return FALSE;
}

LONG WINAPI restoreConsoleOnCrash(EXCEPTION_POINTERS* exception)
{
    restoreConsole();
    return previousExceptionFilter != nullptr ? previousExceptionFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

void registerRestoreOnce()
{
    static bool registered = false;
    if (registered) {
        return;
    }
    registered = true;
    std::atexit(restoreConsoleAtExit);
    ::SetConsoleCtrlHandler(restoreConsoleOnControlEvent, TRUE);
    previousExceptionFilter = ::SetUnhandledExceptionFilter(restoreConsoleOnCrash);
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

bool screenInfo(CONSOLE_SCREEN_BUFFER_INFO& info)
{
    return ::GetConsoleScreenBufferInfo(outputHandle(), &info) != 0;
}

// Rows 2 to the last move up one row; the last row comes in blank in the
// current colours. (Moving the whole buffer to row -1 instead is refused by
// some consoles, Wine's among them.)
void scrollUpOneRow(HANDLE output, const CONSOLE_SCREEN_BUFFER_INFO& info)
{
    const SMALL_RECT belowFirstRow{0, 1, static_cast<SHORT>(info.dwSize.X - 1),
                                   static_cast<SHORT>(info.dwSize.Y - 1)};
    CHAR_INFO fill{};
    fill.Char.AsciiChar = ' ';
    fill.Attributes = info.wAttributes;
    ::ScrollConsoleScreenBufferA(output, &belowFirstRow, nullptr, COORD{0, 0}, &fill);
}

// Column 0 of the next row, scrolling when the cursor is on the last row.
COORD nextLineStart(HANDLE output, const CONSOLE_SCREEN_BUFFER_INFO& info, COORD cursor)
{
    if (cursor.Y >= info.dwSize.Y - 1) {
        scrollUpOneRow(output, info);
        return COORD{0, static_cast<SHORT>(info.dwSize.Y - 1)};
    }
    return COORD{0, static_cast<SHORT>(cursor.Y + 1)};
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

// The icon of the console window, one of the system's stock icons.
void setStockIcon(HWND window, LPCSTR iconName)
{
    const HICON icon = ::LoadIconA(nullptr, iconName);
    if (icon == nullptr) {
        return;
    }
    ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    ::SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

// The buffer and the window both columns by rows, so that nothing scrolls
// out of sight.
void sizeTextArea(int columns, int rows)
{
    const HANDLE output = outputHandle();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (rows <= 0 || columns <= 0 || !screenInfo(info)) {
        return;
    }
    const SHORT width = toCoordinate(columns);
    const SHORT height = toCoordinate(rows);
    // The window must always fit inside the buffer: shrink it to what the
    // new buffer can hold, size the buffer, then give the window its size.
    const SMALL_RECT fitting{
        0, 0, static_cast<SHORT>(std::min<int>(info.srWindow.Right - info.srWindow.Left, width - 1)),
        static_cast<SHORT>(std::min<int>(info.srWindow.Bottom - info.srWindow.Top, height - 1))};
    ::SetConsoleWindowInfo(output, TRUE, &fitting);
    ::SetConsoleScreenBufferSize(output, COORD{width, height});
    const SMALL_RECT window{0, 0, static_cast<SHORT>(width - 1), static_cast<SHORT>(height - 1)};
    ::SetConsoleWindowInfo(output, TRUE, &window);
}

// The window in the middle of its monitor's work area.
void centreOnMonitor(HWND window)
{
    RECT frame{};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (::GetWindowRect(window, &frame) == 0 ||
        ::GetMonitorInfoA(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor) == 0) {
        return;
    }
    const RECT& work = monitor.rcWork;
    const int left = work.left + (work.right - work.left - (frame.right - frame.left)) / 2;
    const int top = work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2;
    ::SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

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

void clearScreen()
{
    const HANDLE output = outputHandle();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!screenInfo(info)) {
        return;
    }
    const auto cellCount = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    DWORD written = 0;
    ::FillConsoleOutputCharacterA(output, ' ', cellCount, COORD{0, 0}, &written);
    ::FillConsoleOutputAttribute(output, info.wAttributes, cellCount, COORD{0, 0}, &written);
    ::SetConsoleCursorPosition(output, COORD{0, 0});
}

void setColours(Colour foreground, Colour background)
{
    const auto attribute =
        static_cast<WORD>(static_cast<unsigned>(foreground) + 16 * static_cast<unsigned>(background));
    ::SetConsoleTextAttribute(outputHandle(), attribute);
}

int cursorRow()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    return screenInfo(info) ? info.dwCursorPosition.Y + 1 : 1;
}

int screenColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    return screenInfo(info) ? info.dwSize.X : 80;
}

void moveCursor(int row, int column)
{
    ::SetConsoleCursorPosition(outputHandle(), COORD{toCoordinate(column - 1), toCoordinate(row - 1)});
}

void writeText(std::string_view text)
{
    const HANDLE output = outputHandle();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!screenInfo(info) || info.dwSize.X <= 0) {
        return;
    }
    COORD cursor = info.dwCursorPosition;
    std::vector<CHAR_INFO> cells;
    std::size_t written = 0;
    while (written < text.size()) {
        // One row's part at a time: at most up to the right edge.
        const auto count = std::min(text.size() - written, static_cast<std::size_t>(info.dwSize.X - cursor.X));
        cells.assign(count, CHAR_INFO{});
        for (std::size_t index = 0; index < count; ++index) {
            cells[index].Char.AsciiChar = text[written + index];
            cells[index].Attributes = info.wAttributes;
        }
        const auto width = static_cast<SHORT>(count);
        SMALL_RECT region{cursor.X, cursor.Y, static_cast<SHORT>(cursor.X + width - 1), cursor.Y};
        ::WriteConsoleOutputA(output, cells.data(), COORD{width, 1}, COORD{0, 0}, &region);
        written += count;
        cursor.X = static_cast<SHORT>(cursor.X + width);
        if (cursor.X >= info.dwSize.X) {
            cursor = nextLineStart(output, info, cursor);
        }
    }
    ::SetConsoleCursorPosition(output, cursor);
}

void endLine()
{
    const HANDLE output = outputHandle();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!screenInfo(info)) {
        return;
    }
    ::SetConsoleCursorPosition(output, nextLineStart(output, info, info.dwCursorPosition));
}

void setCursorVisible(bool visible)
{
    const HANDLE output = outputHandle();
    CONSOLE_CURSOR_INFO cursorInfo{};
    if (::GetConsoleCursorInfo(output, &cursorInfo) == 0) {
        return;
    }
    cursorInfo.bVisible = visible ? TRUE : FALSE;
    ::SetConsoleCursorInfo(output, &cursorInfo);
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

void styleWindow(std::string_view title, int columns, int rows)
{
    ::SetConsoleTitleA(std::string(title).c_str());
    const HWND window = ::GetConsoleWindow();
    if (window != nullptr) {
        setStockIcon(window, IDI_APPLICATION);
        // No resizing or maximising: the text area is sized to the dialogue.
        const HMENU menu = ::GetSystemMenu(window, FALSE);
        if (menu != nullptr) {
            for (const UINT command : {SC_RESTORE, SC_SIZE, SC_MAXIMIZE}) {
                ::DeleteMenu(menu, command, MF_BYCOMMAND);
            }
            ::DrawMenuBar(window);
        }
    }
    sizeTextArea(columns, rows);
    if (window != nullptr) {
        centreOnMonitor(window);
    }
}

void showErrorBox(std::string_view title, std::string_view text)
{
    ::MessageBeep(MB_OK);
    // No icon: the beep before the box is the only sound.
    ::MessageBoxA(::GetConsoleWindow(), messageWithLineBreaks(text).c_str(), std::string(title).c_str(),
                  MB_OK | MB_SETFOREGROUND);
}

} // namespace tarvelle::console
