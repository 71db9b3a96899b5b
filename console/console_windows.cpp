// The Windows console's screen: the console functions for the text, USER32
// for the window, the message box and the beep.
#include "console/console_windows.hpp"
#include "console/console.hpp"
#include "console/text_layout.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace tarvelle::console {

namespace {

SHORT toCoordinate(int value)
{
    return static_cast<SHORT>(std::clamp(value, 0, 0x7fff));
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
