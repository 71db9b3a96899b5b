"""Batch use from the shell: tarvelle FILE..., --help, unknown options."""

import os
import subprocess
import tempfile
import unittest

from tmux_screen import TmuxScreen, binary_path, write_wav

LEVELS = (3, 6, 9, 12, 15, 18)


def outputs_of(stem):
    return [f"{stem} {level}dB clipping.{kind}" for level in LEVELS for kind in ("txt", "wav")]


def run(arguments, cwd):
    return subprocess.run([binary_path(), *arguments], cwd=cwd, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=120)


class BatchTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.dir = self.folder.name

    def wav(self, name, **fields):
        write_wav(os.path.join(self.dir, name), **fields)

    def test_every_good_file_is_written(self):
        self.wav("a.wav", samples=[1000, -2000, 30000, -32768] * 50)
        self.wav("b.wav", samples=[5, -5] * 10, sample_rate=176400)
        result = run(["a.wav", "b.wav"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        self.assertEqual(result.stdout.splitlines(), [
            "a.wav: peak 32768; 12 files written: a {3,6,9,12,15,18}dB clipping.{txt,wav}",
            "b.wav: peak 5; 12 files written: b {3,6,9,12,15,18}dB clipping.{txt,wav}",
        ])
        for stem in ("a", "b"):
            for name in outputs_of(stem):
                self.assertTrue(os.path.isfile(os.path.join(self.dir, name)), name)

    def test_progress_on_a_terminal_is_cleared_again(self):
        self.wav("a.wav", samples=[1000, -2000, 30000, -32768] * 20000)
        screen = TmuxScreen([binary_path(), "a.wav"], cwd=self.dir)
        self.addCleanup(screen.kill)
        self.assertEqual(screen.wait_for_exit(), 0)
        rows = screen.capture()
        self.assertEqual(rows[0], "a.wav: peak 32768; 12 files written: a {3,6,9,12,15,18}dB clipping.{txt,wav}")
        self.assertEqual([row for row in rows[1:] if row], [])

    def test_rejected_and_missing_files_do_not_stop_the_others(self):
        self.wav("mono.wav", samples=[1, 2, 3], channels=1)
        self.wav("good.wav", samples=[100, -100] * 10)
        self.wav("rate.wav", samples=[1, 2], sample_rate=48000)
        result = run(["mono.wav", "missing.wav", "good.wav", "rate.wav"], self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.splitlines(), [
            "tarvelle: mono.wav: This is not a stereo Wave file",
            "tarvelle: missing.wav: File not found. Please enter a valid filename",
            "tarvelle: rate.wav: This is not a 44.1, 88.2 or 176.4kHz Wave file",
        ])
        self.assertEqual(result.stdout.splitlines(),
                         ["good.wav: peak 100; 12 files written: good {3,6,9,12,15,18}dB clipping.{txt,wav}"])
        written = sorted(name for name in os.listdir(self.dir) if "clipping" in name)
        self.assertEqual(written, sorted(outputs_of("good")))

    def test_an_output_that_cannot_be_written_fails_the_run(self):
        self.wav("take.wav", samples=[100, -100] * 10)
        os.mkdir(os.path.join(self.dir, "take 9dB clipping.wav"))
        result = run(["take.wav"], self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout.splitlines(), [
            "take.wav: peak 100; 1 of 12 files could not be written: take {3,6,9,12,15,18}dB clipping.{txt,wav}"])
        self.assertTrue(os.path.isfile(os.path.join(self.dir, "take 18dB clipping.wav")))

    def test_names_with_leading_dashes_after_double_dash(self):
        self.wav("-odd.wav", samples=[7, -7])
        result = run(["--", "-odd.wav"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.isfile(os.path.join(self.dir, "-odd 3dB clipping.txt")))

    def test_a_file_too_large_for_the_memory_at_hand_is_refused(self):
        if "libasan" in subprocess.run(["ldd", binary_path()], capture_output=True, text=True).stdout:
            self.skipTest("AddressSanitizer reserves more address space than the limit allows")
        # The header promises 2 GiB of samples; the process may have 256 MiB.
        self.wav("huge.wav", samples=[1, 2, 3, 4], data_size=0x7FFFFFFF)
        result = subprocess.run(["sh", "-c", 'ulimit -v 262144 && exec "$0" "$@"', binary_path(), "huge.wav"],
                                cwd=self.dir, capture_output=True, text=True, stdin=subprocess.DEVNULL,
                                timeout=120)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "tarvelle: huge.wav: There is not enough memory for this Wave file\n")
        self.assertEqual(os.listdir(self.dir), ["huge.wav"])

    def test_help_version_and_unknown_options(self):
        help_result = run(["--help"], self.dir)
        self.assertEqual(help_result.returncode, 0)
        self.assertTrue(help_result.stdout.startswith("Usage: tarvelle [FILE...]"))
        self.assertIn("Exit status", help_result.stdout)
        version = run(["--version"], self.dir)
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout, r"^tarvelle \d+\.\d+\.\d+\n$")
        unknown = run(["--frobnicate", "a.wav"], self.dir)
        self.assertEqual(unknown.returncode, 2)
        self.assertEqual(unknown.stdout, "")
        self.assertIn("unknown option '--frobnicate'", unknown.stderr)
        self.assertIn("Usage: tarvelle [FILE...]", unknown.stderr)
        self.assertEqual(os.listdir(self.dir), [])


if __name__ == "__main__":
    unittest.main()
