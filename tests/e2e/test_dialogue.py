"""The dialogue of the real binary: full screen in a terminal (tmux, 80x15),
and as plain lines when standard input is a pipe."""

import fcntl
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_screen import TmuxScreen, binary_path, process_running, write_wav  # noqa: E402

PROMPT = "   Input Wave file?"
NAME_COLUMN = 24
NOT_FOUND_LINES = ("            File not found.", " Please enter a valid filename")
OUTPUT_SUFFIXES = [" %ddB clipping.%s" % (level, kind) for level in (3, 6, 9, 12, 15, 18) for kind in ("txt", "wav")]


def stereo_samples(frames):
    samples = []
    for frame in range(frames):
        value = int(30000 * math.sin(frame / 7.0))
        samples += [value, -value // 2]
    return samples


def make_inputs(directory):
    write_wav(os.path.join(directory, "ok.wav"), stereo_samples(300))
    write_wav(os.path.join(directory, "mono.wav"), [100, -100, 200], channels=1)
    write_wav(os.path.join(directory, "eight.wav"), [1, 2, 3, 4], bits_per_sample=8)
    write_wav(os.path.join(directory, "rate.wav"), stereo_samples(10), sample_rate=48000)
    write_wav(os.path.join(directory, "huge.wav"), stereo_samples(10), data_size=2**31)


def prompt_row(name=""):
    return PROMPT + " " * (NAME_COLUMN - 1 - len(PROMPT)) + name if name else PROMPT


class ScreenTestCase(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="tarvelle-dialogue-")
        make_inputs(self.directory)
        self.screens = []

    def tearDown(self):
        for screen in self.screens:
            screen.kill()
        shutil.rmtree(self.directory, ignore_errors=True)

    def start(self, after=None):
        screen = TmuxScreen([binary_path()], cwd=self.directory, after=after)
        self.screens.append(screen)
        screen.wait_for_row(7, PROMPT)
        return screen

    def enter_name(self, screen, name):
        if name:
            screen.send_text(name)
        screen.send_keys("Enter")

    def wait_for_box(self, screen, *lines):
        rows = screen.wait_until(lambda rows: all(any(line in row for row in rows) for line in lines),
                                 what="a box with %r" % (lines,))
        title_rows = [row for row in rows if " ERROR" in row]
        self.assertEqual(len(title_rows), 1, "\n".join(rows))
        self.assertTrue(any("OK" in row for row in rows), "\n".join(rows))
        self.assertFalse(screen.cursor_visible())
        return rows

    def wait_for_empty_prompt(self, screen):
        rows = screen.wait_until(lambda rows: rows[6] == PROMPT and not any(rows[7:]), what="an empty prompt")
        self.assertEqual(screen.cursor(), (7, NAME_COLUMN))
        self.assertTrue(screen.cursor_visible())
        return rows


class BannerAndPromptTest(ScreenTestCase):
    def test_banner_rows_and_prompt_columns(self):
        screen = self.start()
        rows = screen.capture()
        self.assertEqual(rows[0], "")
        self.assertEqual(rows[1], "   Tarvelle")
        for row in rows[2:4]:
            self.assertTrue(row.startswith("   ") and row.strip(), repr(row))
        self.assertEqual(rows[4:6], ["", ""])
        self.assertEqual(rows[6], PROMPT)
        self.assertEqual(screen.cursor(), (7, NAME_COLUMN))
        self.assertTrue(screen.cursor_visible())
        self.assertEqual(screen.display("#{pane_title}"), "Tarvelle")

        screen.send_text("song name.wav")
        screen.wait_for_row(7, prompt_row("song name.wav"))
        self.assertEqual(screen.row(7).index("song"), NAME_COLUMN - 1)
        self.assertEqual(screen.cursor(), (7, NAME_COLUMN + len("song name.wav")))

        coloured = screen.capture(colours=True)
        # Black on bright white for the banner and the name, dark grey for the prompt.
        self.assertIn("\x1b[30m", coloured[1])
        self.assertIn("\x1b[107m", coloured[1])
        self.assertTrue(coloured[6].startswith("\x1b[90m" + PROMPT), repr(coloured[6]))
        self.assertIn("\x1b[30msong name.wav", coloured[6])


class ErrorBoxTest(ScreenTestCase):
    def test_each_error_box_then_an_empty_prompt(self):
        cases = [
            ("", NOT_FOUND_LINES, "Enter"),
            ("missing.wav", NOT_FOUND_LINES, "Space"),
            ("mono.wav", ("This is not a stereo Wave file",), "Escape"),
            ("eight.wav", ("This is not a 16-bit Wave file",), "Enter"),
            ("rate.wav", ("This is not a 44.1, 88.2 or 176.4kHz Wave file",), "Enter"),
            ("huge.wav", ("This Wave file is too large",), "Enter"),
            ("/proc/self/mem", ("This Wave file could not be read",), "Enter"),
        ]
        screen = self.start()
        for name, lines, closing_key in cases:
            with self.subTest(name=name):
                self.enter_name(screen, name)
                rows = self.wait_for_box(screen, *lines)
                # Backslash-n is laid out as a line break, never shown.
                self.assertFalse(any("\\n" in row for row in rows), "\n".join(rows))
                screen.send_keys(closing_key)
                self.wait_for_empty_prompt(screen)

    def test_other_keys_leave_the_box_open(self):
        screen = self.start()
        self.enter_name(screen, "mono.wav")
        self.wait_for_box(screen, "This is not a stereo Wave file")
        screen.send_keys("x", "Left", "F1", "Tab", "C-c")
        time.sleep(0.5)  # time enough for a wrongly closed box to disappear
        self.wait_for_box(screen, "This is not a stereo Wave file")
        self.assertIsNone(screen.exit_status())
        screen.send_keys("Enter")
        self.wait_for_empty_prompt(screen)


class LineEditingTest(ScreenTestCase):
    def test_ignored_keys_change_nothing(self):
        screen = self.start()
        screen.send_text("m")
        screen.send_keys("Escape")
        time.sleep(0.2)  # a lone Esc, not the start of Alt+o
        screen.send_keys("Tab", "Left", "Right", "Up", "Down", "Home", "End", "IC", "DC", "PPage", "NPage",
                         "F1", "F5", "F12", "C-c", "C-z", "C-\\", "C-s", "C-q", "M-x", "C-Left")
        screen.send_text("ono.wav")
        screen.wait_for_row(7, prompt_row("mono.wav"))
        self.assertIsNone(screen.exit_status())
        screen.send_keys("Enter")
        # The stored name is exactly "mono.wav": the file is found and read.
        self.wait_for_box(screen, "This is not a stereo Wave file")

    def test_backspace_on_empty_entry_and_over_a_utf8_character(self):
        # A two-byte character takes one cell, a wide one two: each is erased whole.
        for typed, cells in (("\u00e9", 1), ("\u65e5\u672c\u8a9e", 2)):
            with self.subTest(typed=typed):
                screen = self.start()
                screen.send_keys("BSpace", "BSpace")
                screen.send_text("mo" + typed)
                screen.wait_for_row(7, prompt_row("mo" + typed))
                self.assertEqual(screen.cursor(), (7, NAME_COLUMN + 2 + cells * len(typed)))
                screen.send_keys("BSpace")
                screen.wait_for_row(7, prompt_row("mo" + typed[:-1]))
                self.assertEqual(screen.cursor(), (7, NAME_COLUMN + 2 + cells * (len(typed) - 1)))
                screen.send_keys(*["BSpace"] * (len(typed) - 1))
                screen.send_text("no.wav")
                screen.wait_for_row(7, prompt_row("mono.wav"))
                screen.send_keys("Enter")
                # No byte of the erased characters is left in the name.
                self.wait_for_box(screen, "This is not a stereo Wave file")

    def test_utf8_name_is_kept_as_typed(self):
        os.rename(os.path.join(self.directory, "mono.wav"), os.path.join(self.directory, "m\u00f6no \u20ac.wav"))
        screen = self.start()
        screen.send_text("m\u00f6no \u20ac.wav")
        screen.wait_for_row(7, prompt_row("m\u00f6no \u20ac.wav"))
        screen.send_keys("Enter")
        self.wait_for_box(screen, "This is not a stereo Wave file")

    def test_long_name_wraps_and_backspace_steps_back_to_the_row_above(self):
        screen = self.start()
        screen.send_text("a" * 60)
        screen.wait_until(lambda rows: rows[6] == prompt_row("a" * 57) and rows[7] == "aaa", what="a wrapped name")
        self.assertEqual(screen.cursor(), (8, 4))
        screen.send_keys("BSpace", "BSpace", "BSpace")
        screen.wait_until(lambda rows: rows[7] == "", what="row 8 to empty")
        self.assertEqual(screen.cursor(), (8, 1))
        screen.send_keys("BSpace")
        screen.wait_for_row(7, prompt_row("a" * 56))
        self.assertEqual(screen.cursor(), (7, 80))
        screen.send_text("bc")
        screen.wait_until(lambda rows: rows[6] == prompt_row("a" * 56 + "b") and rows[7] == "c", what="b and c")

    def test_at_most_ten_thousand_characters(self):
        screen = self.start()
        screen.send_text("b" * 10005)
        # One taken back makes room for exactly one more: c is stored, d is not.
        screen.send_keys("BSpace")
        screen.send_text("cd")
        # 23 cells of the prompt row before the name, 10,000 characters after it,
        # 80 to a row: the last row holds 23 cells, the screen having scrolled.
        rows = screen.wait_until(lambda rows: rows[14] == "b" * 22 + "c", timeout=30, what="the last row")
        self.assertEqual(rows[:14], ["b" * 80] * 14)
        self.assertEqual(screen.cursor(), (15, 24))
        self.assertFalse(any("d" in row for row in rows))
        screen.send_keys("Enter")
        self.wait_for_box(screen, *NOT_FOUND_LINES)
        screen.send_keys("Enter")
        self.wait_for_empty_prompt(screen)


class AcceptedFileTest(ScreenTestCase):
    def test_work_completion_and_a_key_to_quit(self):
        screen = self.start()
        self.enter_name(screen, "ok.wav")
        rows = screen.wait_until(lambda rows: rows[12] == "   press any key to quit", what="the completion lines")
        self.assertEqual(rows[6], prompt_row("ok.wav"))
        self.assertEqual(rows[7], "")
        self.assertEqual(rows[8], "   Working...")
        self.assertEqual(rows[9:11], ["", ""])
        self.assertEqual(rows[11], "   Job completed")
        self.assertEqual(rows[13:], ["", ""])
        self.assertFalse(screen.cursor_visible())
        self.assertEqual(screen.cursor()[0], 14)
        coloured = screen.capture(colours=True)
        self.assertIn("\x1b[90m   Working...", coloured[8])
        self.assertIn("\x1b[30m   Job completed", coloured[11])
        self.assertIn("\x1b[90m   press any key to quit", coloured[12])
        self.assertIsNone(screen.exit_status())

        screen.send_keys("x")
        self.assertEqual(screen.wait_for_exit(), 0)
        self.assertEqual(screen.stty_after(), screen.stty_before())
        for suffix in OUTPUT_SUFFIXES:
            self.assertTrue(os.path.exists(os.path.join(self.directory, "ok" + suffix)), suffix)

    def test_key_typed_during_the_work_ends_the_wait(self):
        screen = self.start()
        screen.send_text("ok.wav")
        screen.send_keys("Enter", "q")
        self.assertEqual(screen.wait_for_exit(), 0)
        self.assertEqual(screen.stty_after(), screen.stty_before())

    def test_colours_reset_and_cursor_shown_after_the_end(self):
        screen = self.start(after='echo AFTER-END')
        self.enter_name(screen, "ok.wav")
        screen.wait_for_row(13, "   press any key to quit")
        screen.send_keys("Enter")
        self.assertEqual(screen.wait_for_exit(), 0)
        screen.wait_for_text("AFTER-END")
        self.assertTrue(screen.cursor_visible())
        after_rows = [row for row in screen.capture(colours=True) if "AFTER-END" in row]
        self.assertEqual(after_rows, ["AFTER-END"])


class TerminalRestoreTest(ScreenTestCase):
    def test_signals_from_another_process(self):
        # SIGSEGV and SIGABRT stand for a fatal error inside the program.
        for signal_number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT, signal.SIGSEGV, signal.SIGABRT):
            with self.subTest(signal=signal_number.name):
                screen = self.start(after="echo AFTER-END")
                self.enter_name(screen, "mono.wav")
                self.wait_for_box(screen, "This is not a stereo Wave file")  # raw modes, cursor hidden
                os.kill(screen.command_pid(), signal_number)
                self.assertEqual(screen.wait_for_exit(), 128 + signal_number)
                self.assertEqual(screen.stty_after(), screen.stty_before())
                screen.wait_for_text("AFTER-END")
                self.assertTrue(screen.cursor_visible())
                after_rows = [row for row in screen.capture(colours=True) if "AFTER-END" in row]
                self.assertEqual(after_rows, ["AFTER-END"])
                screen.kill()

    def test_closed_terminal_ends_the_program(self):
        screen = self.start()
        pid = screen.command_pid()
        screen.kill()
        deadline = time.monotonic() + 10
        while process_running(pid) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertFalse(process_running(pid))


class LinesModeTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="tarvelle-lines-")
        make_inputs(self.directory)

    def tearDown(self):
        shutil.rmtree(self.directory, ignore_errors=True)

    def run_with_input(self, data):
        return subprocess.run([binary_path()], input=data, cwd=self.directory, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)

    def test_accepted_on_the_second_line(self):
        result = self.run_with_input(b"missing.wav\nok.wav\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        output = result.stdout.decode()
        self.assertEqual(output.count(PROMPT + "\n"), 2)
        self.assertIn("\n   Working...\n", output)
        self.assertTrue(output.endswith("\n   Job completed\n"), output)
        self.assertEqual(result.stderr, b"tarvelle: missing.wav: File not found. Please enter a valid filename\n")
        self.assertNotIn(b"\x1b", result.stdout + result.stderr)
        for suffix in OUTPUT_SUFFIXES:
            self.assertTrue(os.path.exists(os.path.join(self.directory, "ok" + suffix)), suffix)

    def test_carriage_return_before_line_feed_is_not_part_of_the_name(self):
        result = self.run_with_input(b"ok.wav\r\n")
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_last_line_without_line_feed(self):
        result = self.run_with_input(b"ok.wav")
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_long_line_keeps_ten_thousand_characters(self):
        result = self.run_with_input(("\u00e9" * 10005 + "\n").encode())
        self.assertEqual(result.returncode, 1)
        expected = "tarvelle: %s: File not found. Please enter a valid filename\n" % ("\u00e9" * 10000)
        self.assertEqual(result.stderr.decode(), expected)

    def test_files_that_cannot_be_read_are_told_apart(self):
        # Held as a writer holds it (an exclusive flock), and as a reader (shared locks of both kinds).
        writer = open(os.path.join(self.directory, "mono.wav"), "r+b")
        reader = open(os.path.join(self.directory, "ok.wav"), "rb")
        self.addCleanup(writer.close)
        self.addCleanup(reader.close)
        fcntl.flock(writer, fcntl.LOCK_EX | fcntl.LOCK_NB)
        fcntl.flock(reader, fcntl.LOCK_SH | fcntl.LOCK_NB)
        fcntl.lockf(reader, fcntl.LOCK_SH | fcntl.LOCK_NB)
        result = self.run_with_input(b"mono.wav\n/proc/self/mem\nok.wav\n")
        self.assertEqual((result.returncode, result.stderr.decode().splitlines()), (0, [
            "tarvelle: mono.wav: This Wave file is in use by another program",
            "tarvelle: /proc/self/mem: This Wave file could not be read"]))

    def test_each_output_not_written_is_named(self):
        for suffix in (" 6dB clipping.txt", " 12dB clipping.wav"):
            os.mkdir(os.path.join(self.directory, "ok" + suffix))
        result = self.run_with_input(b"ok.wav\n")
        self.assertEqual((result.returncode, result.stderr.decode().splitlines()), (1, [
            "tarvelle: ok 6dB clipping.txt: Is a directory", "tarvelle: ok 12dB clipping.wav: Is a directory"]))

    def test_end_of_input_without_an_acceptable_name(self):
        cases = [
            (b"", b""),
            (b"missing.wav\n", b"tarvelle: missing.wav: File not found. Please enter a valid filename\n"),
            (b"mono.wav\n\n", b"tarvelle: mono.wav: This is not a stereo Wave file\n"
                              b"tarvelle: : File not found. Please enter a valid filename\n"),
        ]
        for data, expected_errors in cases:
            with self.subTest(data=data):
                result = self.run_with_input(data)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stderr, expected_errors)
                self.assertNotIn(b"\x1b", result.stdout)
                self.assertNotIn(b"Working", result.stdout)


if __name__ == "__main__":
    unittest.main()
