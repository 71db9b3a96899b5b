// The console on a POSIX terminal: termios for the keys, VT/ANSI sequences for
// the screen. The cursor's place is tracked here rather than asked of the
// terminal, so nothing has to be read back.
//
// Sequences written (ESC = 0x1B, CSI = ESC [, BEL = 0x07):
//   CSI ? 1049 h       enter the alternate screen (the user's screen and cursor are kept aside)
//   CSI ? 1049 l       leave it: the user's screen comes back as it was
//   CSI 2 J            erase the whole screen; terminals with background colour
//                      erase (xterm, tmux, the Linux console) fill it with the current background
//   CSI row ; col H    put the cursor at a row and column, counted from 1
//   CSI 0 m            reset colours and attributes
//   CSI fg ; bg m      colours: 30 black, 90 dark grey (bright black), 97 bright
//                      white as foreground; 40, 100, 107 as background
//   CSI ? 25 h / l     show / hide the cursor
//   CSI 22 ; 0 t       push the window title (xterm title stack)
//   CSI 23 ; 0 t       pop it again, giving back the title found
//   ESC ] 2 ; text BEL set the window title
//   CSI 8 ; rows ; cols t  resize the text area (xterm; many terminals ignore it)
//   CR LF              column 1 of the next row, scrolling on the last row
//                      (output processing is off, so LF alone would not return)
//   BEL                the bell
//
// Keys arrive as bytes; key_decoder turns them into keys. After a byte that
// may begin a longer sequence, a short pause tells a lone Esc from a cursor key.
#include "console/console.hpp"
#include "console/text_layout.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace tarvelle::console {

namespace {

// Long enough for the rest of a key's sequence to arrive over ssh, short
// enough that a lone Esc is not felt as a delay.
constexpr int sequencePauseMilliseconds = 40;

constexpr std::string_view enterScreenSequence = "\x1b[?1049h\x1b[H";
// Leave the alternate screen first: it brings back the cursor and colours
// saved on entry, and the reset and show that follow then hold for the shell.
constexpr std::string_view restoreScreenSequence = "\x1b[?1049l\x1b[0m\x1b[?25h";
constexpr std::string_view popTitleSequence = "\x1b[23;0t";

// What a restore needs; read by the signal handler, so only plain data.
struct SavedTerminal {
    termios modes{};
    volatile std::sig_atomic_t held = 0;        // the console is ours and modes hold the state found
    volatile std::sig_atomic_t titlePushed = 0; // the title found is on the terminal's title stack
};
SavedTerminal savedTerminal;

// Signals after which the terminal is handed back before the process ends.
constexpr int restoredSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t restoredSignalCount = sizeof restoredSignals / sizeof restoredSignals[0];
struct sigaction previousActions[restoredSignalCount];

struct ScreenState {
    int row = 1;
    int column = 1;
    int rows = 15;
    int columns = 80;
    Colour foreground = Colour::Black;
    Colour background = Colour::BrightWhite;
    bool cursorVisible = true;
};
ScreenState screen;

// Bytes read from the terminal that have not yet made a whole key.
std::vector<std::uint8_t> pendingInput;

// Async-signal-safe: only write is used.
void writeAll(std::string_view bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t result = ::write(STDOUT_FILENO, bytes.data() + written, bytes.size() - written);
        if (result > 0) {
            written += static_cast<std::size_t>(result);
        } else if (result < 0 && errno != EINTR) {
            return; // the terminal is gone; nothing more can be shown
        }
    }
}

// Async-signal-safe: only write and tcsetattr are used.
void restoreTerminal(int when)
{
    if (savedTerminal.held == 0) {
        return;
    }
    savedTerminal.held = 0;
    writeAll(restoreScreenSequence);
    if (savedTerminal.titlePushed != 0) {
        savedTerminal.titlePushed = 0;
        writeAll(popTitleSequence);
    }
    tcsetattr(STDIN_FILENO, when, &savedTerminal.modes);
}

extern "C" void restoreAndReraise(int signalNumber)
{
    const int savedErrno = errno;
    // Now, without waiting for output to drain: the terminal may be gone.
    restoreTerminal(TCSANOW);
    // SA_RESETHAND has put back the default action, so the process ends as
    // the signal would have ended it and its status shows which signal it was.
    raise(signalNumber);
    errno = savedErrno;
}

bool isEndingSignal(int signalNumber)
{
    return signalNumber == SIGTERM || signalNumber == SIGHUP || signalNumber == SIGINT || signalNumber == SIGQUIT;
}

void installSignalHandlers()
{
    struct sigaction action {};
    action.sa_handler = restoreAndReraise;
    sigfillset(&action.sa_mask); // one restore at a time
    action.sa_flags = SA_RESETHAND;
    for (std::size_t index = 0; index < restoredSignalCount; ++index) {
        const int signalNumber = restoredSignals[index];
        sigaction(signalNumber, nullptr, &previousActions[index]);
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (isEndingSignal(signalNumber) && previousActions[index].sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(signalNumber, &action, nullptr);
    }
}

void restoreSignalHandlers()
{
    for (std::size_t index = 0; index < restoredSignalCount; ++index) {
        sigaction(restoredSignals[index], &previousActions[index], nullptr);
    }
}

// Hands the console back when the program ends through exit or a return from
// main. Its destructor joins the exit handlers when it is constructed, which
// is as soon as the state found has been saved.
struct RestoreAtExit {
    RestoreAtExit() = default;
    RestoreAtExit(const RestoreAtExit&) = delete;
    RestoreAtExit& operator=(const RestoreAtExit&) = delete;
    ~RestoreAtExit() { closeConsole(); }
};

termios rawModes(termios modes)
{
    // BRKINT: a break does not send SIGINT. ICRNL: CR stays CR (the decoder
    // takes CR and LF as Enter). INLCR, IGNCR: LF and CR arrive unchanged.
    // INPCK: no parity check. ISTRIP: keep the eighth bit, UTF-8 needs it.
    // IXON: Ctrl+S and Ctrl+Q are ordinary keys, not flow control.
    modes.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXON);
    // OPOST: no output processing; line ends are written as CR LF.
    modes.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    // CS8: eight-bit characters.
    modes.c_cflag |= CS8;
    // ECHO: keys are not echoed. ICANON: keys arrive one at a time, not by line.
    // IEXTEN: Ctrl+V and Ctrl+O are ordinary keys. ISIG: Ctrl+C, Ctrl+Z and
    // Ctrl+\ are ordinary keys and send no signal.
    modes.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN | ISIG);
    // A read returns as soon as one byte is there, without a timer.
    modes.c_cc[VMIN] = 1;
    modes.c_cc[VTIME] = 0;
    return modes;
}

void readScreenSize()
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        screen.rows = size.ws_row;
        screen.columns = size.ws_col;
    }
}

int foregroundCode(Colour colour)
{
    switch (colour) {
    case Colour::Black:
        return 30;
    case Colour::DarkGrey:
        return 90;
    case Colour::BrightWhite:
        return 97;
    }
    return 39; // the terminal's default
}

int backgroundCode(Colour colour)
{
    return foregroundCode(colour) + 10;
}

std::string cursorPositionSequence(int row, int column)
{
    return "\x1b[" + std::to_string(row) + ';' + std::to_string(column) + 'H';
}

bool isUtf8Continuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

bool isControlByte(char byte)
{
    const auto value = static_cast<unsigned char>(byte);
    return value < 0x20 || value == 0x7F;
}

// The terminal is gone: end as a hang-up ends the program, even where
// hang-ups are ignored, since no key can come any more.
[[noreturn]] void endForLostTerminal()
{
    restoreTerminal(TCSANOW);
    std::signal(SIGHUP, SIG_DFL);
    std::raise(SIGHUP);
    std::_Exit(129);
}

// False when the terminal has gone.
bool readMoreInput()
{
    std::uint8_t buffer[256];
    for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count > 0) {
            pendingInput.insert(pendingInput.end(), buffer, buffer + count);
            return true;
        }
        if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
            return false;
        }
    }
}

Key takeKey(const DecodedKey& decoded)
{
    pendingInput.erase(pendingInput.begin(),
                       pendingInput.begin() + static_cast<std::ptrdiff_t>(decoded.bytesUsed));
    return decoded.key;
}

bool localeUsesUtf8()
{
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            std::string lowered(value);
            std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                           [](unsigned char byte) { return static_cast<char>(std::tolower(byte)); });
            return lowered.find("utf-8") != std::string::npos || lowered.find("utf8") != std::string::npos;
        }
    }
    return false;
}

std::size_t characterCount(std::string_view text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char byte) { return !isUtf8Continuation(byte); }));
}

// Splits a line into pieces of at most width characters.
std::vector<std::string> wrapLine(const std::string& line, std::size_t width)
{
    std::vector<std::string> pieces;
    std::string piece;
    std::size_t pieceCharacters = 0;
    for (const char byte : line) {
        if (!isUtf8Continuation(byte) && pieceCharacters == width) {
            pieces.push_back(piece);
            piece.clear();
            pieceCharacters = 0;
        }
        if (!isUtf8Continuation(byte)) {
            ++pieceCharacters;
        }
        piece += byte;
    }
    pieces.push_back(piece);
    return pieces;
}

struct FrameCharacters {
    std::string_view topLeft, topRight, bottomLeft, bottomRight, horizontal, vertical;
};

FrameCharacters frameCharacters()
{
    if (localeUsesUtf8()) {
        return {"\u250c", "\u2510", "\u2514", "\u2518", "\u2500", "\u2502"};
    }
    return {"+", "+", "+", "+", "-", "|"};
}

std::string repeated(std::string_view piece, std::size_t count)
{
    std::string result;
    for (std::size_t index = 0; index < count; ++index) {
        result += piece;
    }
    return result;
}

bool closesMessageBox(const Key& key)
{
    return key.kind == KeyKind::Enter || (key.kind == KeyKind::Character && key.bytes == " ") ||
           (key.kind == KeyKind::Ignored && key.bytes == "\x1b");
}

} // namespace

bool isInteractive()
{
    return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
}

bool standardErrorIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

bool openConsole()
{
    if (savedTerminal.held != 0) {
        return true;
    }
    if (!isInteractive()) {
        return false;
    }
    termios found{};
    if (tcgetattr(STDIN_FILENO, &found) != 0) {
        return false;
    }
    savedTerminal.modes = found;
    static RestoreAtExit restoreAtExit;
    installSignalHandlers();
    savedTerminal.held = 1;

    writeAll(enterScreenSequence);
    const termios raw = rawModes(found);
    // TCSADRAIN, not TCSAFLUSH: keys typed while the program started are kept.
    if (tcsetattr(STDIN_FILENO, TCSADRAIN, &raw) != 0) {
        closeConsole();
        return false;
    }
    readScreenSize();
    screen.row = 1;
    screen.column = 1;
    screen.cursorVisible = true;
    return true;
}

void closeConsole()
{
    if (savedTerminal.held == 0) {
        return;
    }
    // TCSAFLUSH: keys left unread are dropped rather than handed to the shell.
    restoreTerminal(TCSAFLUSH);
    restoreSignalHandlers();
    pendingInput.clear();
}

void clearScreen()
{
    readScreenSize();
    writeAll("\x1b[2J\x1b[H");
    screen.row = 1;
    screen.column = 1;
}

void setColours(Colour foreground, Colour background)
{
    screen.foreground = foreground;
    screen.background = background;
    writeAll("\x1b[" + std::to_string(foregroundCode(foreground)) + ';' +
             std::to_string(backgroundCode(background)) + 'm');
}

int cursorRow()
{
    return screen.row;
}

int screenRows()
{
    return screen.rows;
}

int screenColumns()
{
    return screen.columns;
}

void moveCursor(int row, int column)
{
    screen.row = std::clamp(row, 1, screen.rows);
    screen.column = std::clamp(column, 1, screen.columns);
    writeAll(cursorPositionSequence(screen.row, screen.column));
}

void writeText(std::string_view text)
{
    std::string output;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const char byte = text[index];
        // A control byte would move the cursor behind the tracking's back.
        output += isControlByte(byte) ? '?' : byte;
        const bool characterEnds = index + 1 == text.size() || !isUtf8Continuation(text[index + 1]);
        if (!characterEnds) {
            continue;
        }
        ++screen.column;
        if (screen.column > screen.columns) {
            // Wrap at once, as the console does, rather than leaving the
            // terminal's pending wrap to the next character.
            output += "\r\n";
            screen.column = 1;
            screen.row = std::min(screen.row + 1, screen.rows);
        }
    }
    writeAll(output);
}

void endLine()
{
    writeAll("\r\n");
    screen.column = 1;
    screen.row = std::min(screen.row + 1, screen.rows);
}

void setCursorVisible(bool visible)
{
    screen.cursorVisible = visible;
    writeAll(visible ? "\x1b[?25h" : "\x1b[?25l");
}

Key readKey()
{
    for (;;) {
        if (std::optional<DecodedKey> decoded = decodeKey(pendingInput, false)) {
            return takeKey(*decoded);
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int timeout = pendingInput.empty() ? -1 : sequencePauseMilliseconds;
        const int ready = poll(&input, 1, timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            endForLostTerminal();
        }
        if (ready == 0) {
            // Nothing more came: what is there is all of the key.
            if (std::optional<DecodedKey> decoded = decodeKey(pendingInput, true)) {
                return takeKey(*decoded);
            }
            continue;
        }
        if (!readMoreInput()) {
            endForLostTerminal();
        }
    }
}

bool keyWaiting()
{
    if (!pendingInput.empty()) {
        return true;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) > 0 && (input.revents & POLLIN) != 0;
}

void MessageBeep(unsigned /*type*/)
{
    writeAll("\a");
}

// The window library's start-up calls: a terminal has no toolbar, icon or
// window menu, so only the title and the size have a counterpart.
void InitConsoleTools(void* /*moduleInstance*/, int /*a*/, int /*b*/, int /*c*/, std::int32_t* /*state*/,
                      int /*d*/)
{
}

void ConsoleToolBar(int /*a*/, int /*b*/) {}

void ConsoleTitle(const char* title)
{
    if (title == nullptr) {
        return;
    }
    std::string visibleTitle(title);
    std::replace_if(visibleTitle.begin(), visibleTitle.end(), isControlByte, '?');
    if (savedTerminal.held != 0 && savedTerminal.titlePushed == 0) {
        writeAll("\x1b[22;0t");
        savedTerminal.titlePushed = 1;
    }
    writeAll("\x1b]2;" + visibleTitle + '\a');
}

void ConsoleIcon(int /*iconId*/) {}

void DeleteWindowMenuItem(int /*menuItem*/) {}

void Console80x(int rows)
{
    writeAll("\x1b[8;" + std::to_string(rows) + ";80t");
}

// A terminal cannot be told where its window stands.
void ConsoleMove(int /*x*/, int /*y*/) {}

int ConsoleMessageBox(const char* text, int /*a*/, const char* title, int /*b*/, int /*c*/)
{
    const std::string_view titleText = title != nullptr ? title : "";
    const std::string_view okButton = "[ OK ]";
    // Two blanks of margin inside the frame, and the box clear of the screen's
    // edges so that writing its last column never wraps.
    const std::size_t widest = static_cast<std::size_t>(std::max(screen.columns - 8, 10));
    const std::size_t tallest = static_cast<std::size_t>(std::max(screen.rows - 4, 1));

    std::vector<std::string> lines;
    for (const std::string& line : messageLines(text != nullptr ? text : "")) {
        for (std::string& piece : wrapLine(line, widest)) {
            lines.push_back(std::move(piece));
        }
    }
    if (lines.size() > tallest) {
        lines.resize(tallest);
    }
    std::size_t contentWidth = std::max(characterCount(titleText) + 2, okButton.size());
    for (const std::string& line : lines) {
        contentWidth = std::max(contentWidth, characterCount(line));
    }
    contentWidth = std::min(contentWidth, widest);
    const int boxWidth = static_cast<int>(contentWidth) + 6;
    const int boxHeight = static_cast<int>(lines.size()) + 4;
    const int left = std::max((screen.columns - boxWidth) / 2 + 1, 1);
    const int top = std::max((screen.rows - boxHeight) / 2 + 1, 1);

    const ScreenState before = screen;
    setCursorVisible(false);
    setColours(Colour::BrightWhite, Colour::DarkGrey);
    const FrameCharacters frame = frameCharacters();
    const std::size_t titleWidth = std::min(characterCount(titleText), contentWidth + 2);
    moveCursor(top, left);
    writeText(std::string(frame.topLeft) + std::string(frame.horizontal) + std::string(titleText) + " " +
              repeated(frame.horizontal, contentWidth + 2 - titleWidth) + std::string(frame.topRight));
    int row = top + 1;
    auto writeBodyRow = [&](std::string_view content) {
        moveCursor(row++, left);
        const std::size_t padding = contentWidth - std::min(characterCount(content), contentWidth);
        writeText(std::string(frame.vertical) + "  " + std::string(content) + std::string(padding, ' ') + "  " +
                  std::string(frame.vertical));
    };
    for (const std::string& line : lines) {
        writeBodyRow(line);
    }
    writeBodyRow("");
    // The button, centred, in the dialogue's own colours.
    const std::size_t buttonIndent = (contentWidth - okButton.size()) / 2;
    writeBodyRow("");
    moveCursor(row - 1, left + 3 + static_cast<int>(buttonIndent));
    setColours(Colour::Black, Colour::BrightWhite);
    writeText(okButton);
    setColours(Colour::BrightWhite, Colour::DarkGrey);
    moveCursor(row, left);
    writeText(std::string(frame.bottomLeft) + repeated(frame.horizontal, contentWidth + 4) +
              std::string(frame.bottomRight));

    while (!closesMessageBox(readKey())) {
    }

    setColours(before.foreground, before.background);
    moveCursor(before.row, before.column);
    setCursorVisible(before.cursorVisible);
    return 1; // IDOK
}

} // namespace tarvelle::console
