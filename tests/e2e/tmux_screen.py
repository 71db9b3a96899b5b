"""Drives a program in a real terminal: a detached tmux session of 80x15.

Each TmuxScreen runs its own tmux server on a socket of its own, so tests
running side by side never share one. Typical use:

    screen = TmuxScreen([binary], cwd=directory)
    screen.wait_for_text("Input Wave file?")
    screen.send_text("song.wav")
    screen.send_keys("Enter")
    rows = screen.wait_for_row(12, "   Job completed")
    screen.send_keys("Space")
    status = screen.wait_for_exit()
    screen.kill()

The command runs under a small shell that records `stty -g` before and after
it and its exit status (128 + N when signal N ended it). The pane stays once
the command has ended (its shell waits until kill()), so its last screen can
still be read.
"""

import os
import shlex
import struct
import subprocess
import tempfile
import time
import uuid

DEFAULT_TIMEOUT = 10.0
POLL_INTERVAL = 0.05
# Keeps the pane's shell from printing its own prompt: the screen shows only the command.
_WRAPPER = (
    'ulimit -c 0; '  # a test that ends the program with SIGSEGV or SIGABRT leaves no core file
    'stty -g > "$TMUX_SCREEN_DIR/stty-before"; '
    '"$@"; status=$?; '
    'echo "$status" > "$TMUX_SCREEN_DIR/status.tmp"; '
    'stty -g > "$TMUX_SCREEN_DIR/stty-after"; '
    'mv "$TMUX_SCREEN_DIR/status.tmp" "$TMUX_SCREEN_DIR/status"'
)


class TmuxScreen:
    def __init__(self, command, cwd, env=None, width=80, height=15, after=None):
        """Starts command (a list of words) in a new detached session.

        env: the environment of the command (os.environ when None).
        after: an optional shell line run in the pane once the command ended
        and its status and terminal modes were recorded.
        """
        self.width = width
        self.height = height
        self.socket = "tarvelle-" + uuid.uuid4().hex[:12]
        self.state_dir = tempfile.mkdtemp(prefix="tmux-screen-")
        environment = dict(os.environ if env is None else env)
        environment.pop("TMUX", None)
        environment.pop("TMUX_PANE", None)
        environment["TMUX_SCREEN_DIR"] = self.state_dir
        self._environment = environment
        # The shell then stays: tmux may drop output still unread when a pane's
        # process ends, and the last screen is what the tests look at.
        wrapper = _WRAPPER + ("; " + after if after else "") + "; exec sleep 86400"
        shell_command = " ".join(
            shlex.quote(word) for word in ["sh", "-c", wrapper, "sh"] + list(command)
        )
        self._tmux(
            "-f", "/dev/null", "start-server", ";",
            "set-option", "-g", "remain-on-exit", "on", ";",
            "set-option", "-g", "history-limit", "0", ";",
            "new-session", "-d", "-x", str(width), "-y", str(height), "-c", str(cwd), shell_command,
        )

    # Talking to tmux

    def _tmux(self, *arguments, check=True):
        result = subprocess.run(
            ["tmux", "-u", "-L", self.socket] + list(arguments),
            env=self._environment, stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        )
        if check and result.returncode != 0:
            raise RuntimeError(
                "tmux %s failed: %s" % (" ".join(arguments), result.stderr.decode(errors="replace"))
            )
        return result.stdout.decode("utf-8", errors="replace")

    def display(self, format_text):
        """A tmux format evaluated for the pane, e.g. '#{cursor_flag}'."""
        return self._tmux("display-message", "-p", format_text).rstrip("\n")

    def kill(self):
        """Ends the tmux server and with it the pane's processes (they get SIGHUP)."""
        self._tmux("kill-server", check=False)

    # Sending input

    def send_keys(self, *keys):
        """tmux key names: 'Enter', 'Escape', 'BSpace', 'Left', 'F1', 'C-c', 'M-x', 'a'."""
        self._tmux("send-keys", *keys)

    def send_text(self, text, chunk_size=500):
        """Sends text literally, in chunks so that long texts fit tmux's command length."""
        for start in range(0, len(text), chunk_size):
            self._tmux("send-keys", "-l", text[start:start + chunk_size])

    # Reading the screen

    def capture(self, colours=False):
        """The screen as a list of height rows (1 to height are indices 0 to height-1),
        trailing blanks removed; with colours the rows keep their SGR sequences."""
        arguments = ["capture-pane", "-p"] + (["-e"] if colours else [])
        lines = self._tmux(*arguments).split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        lines = [line.rstrip(" ") if not colours else line for line in lines]
        return (lines + [""] * self.height)[: self.height]

    def row(self, number):
        """Row number (counting from 1) as it stands now."""
        return self.capture()[number - 1]

    def cursor(self):
        """(row, column) of the cursor, counting from 1."""
        x, y = self.display("#{cursor_x} #{cursor_y}").split()
        return int(y) + 1, int(x) + 1

    def cursor_visible(self):
        return self.display("#{cursor_flag}") == "1"

    def wait_until(self, predicate, timeout=DEFAULT_TIMEOUT, what="the screen to change"):
        """Polls predicate(rows) until it holds; returns the rows. Raises AssertionError
        with the last screen on timeout."""
        deadline = time.monotonic() + timeout
        while True:
            rows = self.capture()
            if predicate(rows):
                return rows
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for %s; screen:\n%s" % (what, "\n".join(rows)))
            time.sleep(POLL_INTERVAL)

    def wait_for_text(self, text, timeout=DEFAULT_TIMEOUT):
        """Waits until text appears anywhere on the screen."""
        return self.wait_until(lambda rows: any(text in row for row in rows), timeout, repr(text))

    def wait_for_row(self, number, expected, timeout=DEFAULT_TIMEOUT):
        """Waits until row number reads exactly expected (trailing blanks ignored)."""
        return self.wait_until(
            lambda rows: rows[number - 1] == expected.rstrip(" "), timeout,
            "row %d to read %r" % (number, expected),
        )

    # The command's end

    def exit_status(self):
        """The command's exit status, or None while it runs."""
        try:
            with open(os.path.join(self.state_dir, "status")) as status_file:
                return int(status_file.read().strip())
        except FileNotFoundError:
            return None

    def wait_for_exit(self, timeout=DEFAULT_TIMEOUT):
        deadline = time.monotonic() + timeout
        while True:
            status = self.exit_status()
            if status is not None:
                return status
            if time.monotonic() > deadline:
                raise AssertionError("the program did not end; screen:\n" + "\n".join(self.capture()))
            time.sleep(POLL_INTERVAL)

    def stty_before(self):
        """`stty -g` in the pane before the command started."""
        return self._read_state("stty-before")

    def stty_after(self):
        """`stty -g` in the pane after the command ended (after wait_for_exit)."""
        return self._read_state("stty-after")

    def _read_state(self, name):
        with open(os.path.join(self.state_dir, name)) as state_file:
            return state_file.read().strip()

    def pane_pid(self):
        return int(self.display("#{pane_pid}"))

    def command_pid(self, timeout=DEFAULT_TIMEOUT):
        """The pid of the command: the child of the pane's shell."""
        shell_pid = self.pane_pid()
        deadline = time.monotonic() + timeout
        while True:
            children = _child_pids(shell_pid)
            if children:
                return children[0]
            if time.monotonic() > deadline:
                raise AssertionError("the command did not start")
            time.sleep(POLL_INTERVAL)


def _child_pids(parent_pid):
    children = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as stat_file:
                fields = stat_file.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == parent_pid:
            children.append(int(entry))
    return sorted(children)


def process_running(pid):
    """True while pid exists and is not a zombie."""
    try:
        with open("/proc/%d/stat" % pid) as stat_file:
            return stat_file.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def write_wav(path, samples=(), channels=2, sample_rate=44100, bits_per_sample=16, format_tag=1,
              byte_rate=None, block_align=None, data_size=None, riff_size=None):
    """Writes a canonical 44-byte WAV header and the samples (signed 16-bit, interleaved).

    Every header field can be given directly, so headers that lie are easy to
    make: data_size defaults to the size of the samples, the rest to what the
    format implies.
    """
    sample_bytes = struct.pack("<%dh" % len(samples), *samples)
    if block_align is None:
        block_align = channels * bits_per_sample // 8
    if byte_rate is None:
        byte_rate = sample_rate * block_align
    if data_size is None:
        data_size = len(sample_bytes)
    if riff_size is None:
        riff_size = (36 + data_size) & 0xFFFFFFFF
    header = b"RIFF" + struct.pack("<I", riff_size) + b"WAVE"
    header += b"fmt " + struct.pack(
        "<IHHIIHH", 16, format_tag & 0xFFFF, channels & 0xFFFF, sample_rate & 0xFFFFFFFF,
        byte_rate & 0xFFFFFFFF, block_align & 0xFFFF, bits_per_sample & 0xFFFF,
    )
    header += b"data" + struct.pack("<I", data_size & 0xFFFFFFFF)
    with open(path, "wb") as wav_file:
        wav_file.write(header + sample_bytes)


def binary_path():
    """The binary under test, from TARVELLE_BINARY."""
    binary = os.environ.get("TARVELLE_BINARY")
    if not binary:
        raise RuntimeError("set TARVELLE_BINARY to the tarvelle binary")
    return os.path.abspath(binary)
