// The POSIX terminal held for the dialogue: raw modes for the keys, the
// alternate screen, and the hand-back at exit, on signals (through the stop
// step of platform/stop_handlers.hpp) and on a lost terminal.
//
// Sequences written (ESC = 0x1B, CSI = ESC [):
//   CSI ? 1049 h       enter the alternate screen (the user's screen and cursor are kept aside)
//   CSI ? 1049 l       leave it: the user's screen comes back as it was
//   CSI 0 m            reset colours and attributes
//   CSI ? 25 h         show the cursor
//   CSI 23 ; 0 t       pop the window title pushed when it was set, giving back the title found
//
// Keys arrive as bytes; key_decoder turns them into keys. After a byte that
// may begin a longer sequence, a short pause tells a lone Esc from a cursor key.
#include "console/terminal_posix.hpp"
#include "console/console.hpp"
#include "platform/stop_handlers.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <vector>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace tarvelle::console {

using posix::writeAll;

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

// Progress lines are on the screen below the cursor.
volatile std::sig_atomic_t statusLinesShown = 0;
constexpr std::string_view clearStatusSequence = "\r\x1b[J";

// Bytes read from the terminal that have not yet made a whole key.
std::vector<std::uint8_t> pendingInput;

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

// The stop step (platform/stop_handlers.hpp): now, without waiting for output
// to drain, since the terminal may be gone.
void restoreTerminalOnStop()
{
    if (statusLinesShown != 0) {
        statusLinesShown = 0;
        // Async-signal-safe: write only.
        [[maybe_unused]] const ssize_t written =
            write(STDERR_FILENO, clearStatusSequence.data(), clearStatusSequence.size());
    }
    restoreTerminal(TCSANOW);
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

} // namespace

namespace posix {

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

void pushTitleOnce()
{
    if (savedTerminal.held != 0 && savedTerminal.titlePushed == 0) {
        writeAll("\x1b[22;0t");
        savedTerminal.titlePushed = 1;
    }
}

} // namespace posix

bool isInteractive()
{
    return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
}

bool standardErrorIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

bool startStatusLines()
{
    if (!standardErrorIsTerminal()) {
        return false;
    }
    setStopAction(StopStep::RestoreTerminal, restoreTerminalOnStop);
    return true;
}

void setStatusLinesShown(bool shown)
{
    statusLinesShown = shown ? 1 : 0;
}

void endStatusLines()
{
    statusLinesShown = 0;
}

int standardErrorColumns()
{
    winsize size{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
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
    setStopAction(StopStep::RestoreTerminal, restoreTerminalOnStop);
    savedTerminal.held = 1;

    writeAll(enterScreenSequence);
    const termios raw = rawModes(found);
    // TCSADRAIN, not TCSAFLUSH: keys typed while the program started are kept.
    if (tcsetattr(STDIN_FILENO, TCSADRAIN, &raw) != 0) {
        closeConsole();
        return false;
    }
    posix::startScreen();
    return true;
}

void closeConsole()
{
    if (savedTerminal.held == 0) {
        return;
    }
    // TCSAFLUSH: keys left unread are dropped rather than handed to the shell.
    restoreTerminal(TCSAFLUSH);
    pendingInput.clear();
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

} // namespace tarvelle::console
