"""--csv and the summary of a batch, and the progress lines in a terminal."""

import array
import csv
import io
import json
import math
import os
import signal
import struct
import subprocess
import tempfile
import unittest

from tmux_screen import TmuxScreen, binary_path, write_wav


def run(arguments, folder):
    return subprocess.run([binary_path(), *arguments], cwd=folder, capture_output=True, timeout=300)


def sine(seconds, rate, level, channels=1, hertz=997.0):
    return [level * math.sin(2 * math.pi * hertz * (frame // channels) / rate)
            for frame in range(int(seconds * rate) * channels)]


class BatchTableTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.dir = folder.name

    def test_the_table_reads_back_as_the_json_and_the_summary_ranks_the_files(self):
        # Clipped at full scale, under a name a spreadsheet must get whole.
        loud = [max(-32768, min(32767, round(value))) for value in sine(4, 44100, 50000, 2)]
        write_wav(os.path.join(self.dir, 'loud, "hot".wav'), loud)
        # Float with a few samples over full scale that are no flat tops: overs.
        quiet = sine(3.5, 48000, 0.5)
        quiet[1000] = quiet[5000] = 1.5
        data = struct.pack("<%df" % len(quiet), *quiet)
        with open(os.path.join(self.dir, "quiet.wav"), "wb") as out:
            out.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt "
                      + struct.pack("<IHHIIHH", 16, 3, 1, 48000, 192000, 4, 32) + b"data"
                      + struct.pack("<I", len(data)) + data)
        write_wav(os.path.join(self.dir, "short.wav"), [round(v) for v in sine(0.2, 44100, 3000, 2)])
        names = ['loud, "hot".wav', "quiet.wav", "short.wav", "missing.wav"]

        table = run(["--csv", "--deliver", "ebu-r128", "-j2", *names], self.dir)
        lines = run(["--deliver", "ebu-r128", "--json", "--summary", *names], self.dir)
        self.assertEqual((table.returncode, lines.returncode), (1, 1), table.stderr)
        rows = list(csv.DictReader(io.StringIO(table.stdout.decode(), newline="")))
        objects = [json.loads(line) for line in lines.stdout.decode().splitlines()]
        self.assertEqual(len(rows), len(names))
        self.assertEqual([row["name"] for row in rows], names)

        def key(*path):
            def get(found):
                for step in path:
                    found = found.get(step) if isinstance(found, dict) else None
                return found
            return get

        columns = {
            "status": key("status"), "message": key("message"), "sample rate": key("sampleRate"),
            "format": key("sampleFormat"), "channels": key("channels"), "duration s": key("durationSeconds"),
            "peak dBFS": key("peakDbfs"), "true peak dBTP": key("truePeakDbtp"),
            "integrated LUFS": key("integratedLufs"), "LRA LU": key("loudnessRange"),
            "max short-term LUFS": key("maxShortTerm", "lufs"), "max momentary LUFS": key("maxMomentary", "lufs"),
            "PLR LU": key("plr"), "clipped runs full scale": key("clipping", "fullScale", "runs"),
            "clipped runs ceiling": key("clipping", "ceiling", "runs"), "overs": key("clipping", "overs", "samples"),
            "silence head s": key("silenceSeconds", "head"), "silence tail s": key("silenceSeconds", "tail"),
            "DC offset dBFS": lambda found: ";".join("-inf" if dc is None else str(dc)
                                                     for dc in found["dcOffsetDbfs"]) if "dcOffsetDbfs" in found else None,
            "verdict": lambda found: {True: "PASS", False: "FAIL"}.get(key("delivery", "pass")(found)),
            "failed checks": lambda found: ";".join(check["name"] for check in found["delivery"]["checks"]
                                                    if not check["pass"]) if "delivery" in found else None,
        }
        self.assertEqual(list(rows[0]), ["name", *columns])
        for row, found in zip(rows, objects):
            for heading, get in columns.items():
                with self.subTest(file=row["name"], column=heading):
                    expected = get(found)
                    value = row[heading]
                    if isinstance(expected, (int, float)) and not isinstance(expected, bool):
                        self.assertEqual(float(value), expected)
                    elif heading == "DC offset dBFS" and expected:
                        self.assertEqual([float(dc) for dc in value.split(";")],
                                         [float(dc) for dc in expected.split(";")])
                    else:
                        self.assertEqual(value, "" if expected is None else expected)
        # What the table is made of shows in it: runs, overs, and measures that a short file lacks.
        self.assertGreater(int(rows[0]["clipped runs full scale"]), 0)
        self.assertEqual(rows[1]["overs"], "2")
        self.assertEqual(rows[2]["integrated LUFS"], "")

        summary = objects[-1]
        measured = [found for found in objects[:-1] if found.get("integratedLufs") is not None]
        loudest = max(measured, key=lambda found: found["integratedLufs"])
        quietest = min(measured, key=lambda found: found["integratedLufs"])
        self.assertEqual(summary, {
            "status": "summary", "files": 4, "passed": 0, "failed": 3, "withErrors": 0, "refused": 1,
            "skipped": 0, "loudest": {"input": loudest["input"], "integratedLufs": loudest["integratedLufs"]},
            "quietest": {"input": quietest["input"], "integratedLufs": quietest["integratedLufs"]},
            "integratedLufs": summary["integratedLufs"]})
        # As one programme, louder than the quiet file and quieter than the loud one.
        self.assertLess(quietest["integratedLufs"], summary["integratedLufs"])
        self.assertLess(summary["integratedLufs"], loudest["integratedLufs"])
        self.assertTrue(table.stderr.decode().endswith("tarvelle: missing.wav: File not found. "
                                                       "Please enter a valid filename\n"))
        self.assertEqual(rows[0]["verdict"], "FAIL")
        self.assertIn("clipping", rows[0]["failed checks"].split(";"))
        # Without a profile, no verdict.
        self.assertNotIn("verdict", run(["--csv", "short.wav"], self.dir).stdout.decode().splitlines()[0])
        clash = run(["--csv", "--json", "quiet.wav"], self.dir)
        self.assertEqual((clash.returncode, clash.stdout), (2, b""))
        self.assertIn(b"'--csv' does not go with --json", clash.stderr)

    def test_a_line_per_job_in_a_terminal_cleared_when_done_or_stopped(self):
        # Long enough to be seen part read, whatever the machine.
        second = array.array("h", [round(value) for value in sine(1, 48000, 8000, 2)])
        write_wav(os.path.join(self.dir, "long.wav"), data_size=120 * len(second) * 2, sample_rate=48000)
        with open(os.path.join(self.dir, "long.wav"), "ab") as out:
            out.write(second.tobytes() * 120)
        os.link(os.path.join(self.dir, "long.wav"), os.path.join(self.dir, "again.wav"))
        write_wav(os.path.join(self.dir, "brief.wav"), second, sample_rate=48000)

        def read_rows(rows):
            return [row for row in rows if "% read" in row]

        for stop in (False, True):
            with self.subTest(stop=stop):
                screen = TmuxScreen([binary_path(), "--check", "--loudness", "-j2", "long.wav", "again.wav",
                                     "brief.wav"], cwd=self.dir, width=60, height=30)
                self.addCleanup(screen.kill)
                rows = screen.wait_until(lambda rows: len(read_rows(rows)) == 2, what="a line per job")
                for row in read_rows(rows):
                    self.assertRegex(row, r"^tarvelle: (long|again)\.wav: \d+% read(, \d+:\d\d left)?$")
                if stop:
                    # As Ctrl+C does, but to the program alone, not to the shell that records its status.
                    os.kill(screen.command_pid(), signal.SIGINT)
                    self.assertEqual(screen.wait_for_exit(), 130)
                    self.assertEqual([row for row in screen.capture() if row.strip()], [])
                else:
                    self.assertEqual(screen.wait_for_exit(timeout=300), 0)
                    rows = [row for row in screen.capture() if row.strip()]
                    self.assertEqual(read_rows(rows), [])
                    self.assertTrue(rows[0].startswith("long.wav: no clipping"), rows)
                    self.assertTrue("".join(rows).endswith("all as one -12.25 LUFS"), rows)
                screen.kill()


if __name__ == "__main__":
    unittest.main()
