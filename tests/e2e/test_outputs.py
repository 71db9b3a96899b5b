"""What an accepted file leaves beside it, seen from a real terminal."""

import os
import tempfile
import unittest

from tmux_screen import TmuxScreen, binary_path, write_wav

LEVELS = (3, 6, 9, 12, 15, 18)


class OutputsTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.dir = self.folder.name
        write_wav(os.path.join(self.dir, "take.wav"), samples=[3000, -3000, 32767, -100, 12, 0] * 100)

    def run_dialogue(self):
        screen = TmuxScreen([binary_path()], cwd=self.dir)
        self.addCleanup(screen.kill)
        screen.wait_for_text("Input Wave file?")
        screen.send_text("take.wav")
        screen.send_keys("Enter")
        return screen

    def outputs(self):
        return sorted(name for name in os.listdir(self.dir) if name != "take.wav")

    def test_a_run_leaves_twelve_files(self):
        screen = self.run_dialogue()
        screen.wait_for_row(12, "   Job completed")
        screen.send_keys("q")
        self.assertEqual(screen.wait_for_exit(), 0)
        expected = sorted(f"take {level}dB clipping.{kind}" for level in LEVELS for kind in ("txt", "wav"))
        self.assertEqual(self.outputs(), expected)
        with open(os.path.join(self.dir, "take 18dB clipping.txt"), "rb") as report:
            lines = report.read().split(b"\r\n")
        self.assertEqual(len(lines), 48)  # 47 lines, each ended by CR LF
        self.assertEqual(lines[0], b"take.wav")
        self.assertEqual(lines[6], b"Clipping level:       18 dB below peak")

    def test_a_report_that_cannot_be_written_is_told(self):
        os.mkdir(os.path.join(self.dir, "take 6dB clipping.txt"))
        screen = self.run_dialogue()
        screen.wait_for_row(12, "   Job completed with errors")
        self.assertEqual(screen.row(13), "   1 of 12 output files could not be written")
        self.assertEqual(screen.row(14), "   press any key to quit")
        screen.send_keys("q")
        self.assertEqual(screen.wait_for_exit(), 1)
        # Named once the terminal is handed back, on the screen the shell has again.
        self.assertEqual([row for row in screen.capture() if row],
                         ["tarvelle: take 6dB clipping.txt: Is a directory"])
        files = [name for name in self.outputs()
                 if os.path.isfile(os.path.join(self.dir, name))]
        self.assertEqual(len(files), 11)


if __name__ == "__main__":
    unittest.main()
