"""Batch use from the shell: tarvelle FILE..., --help, unknown options."""

import array
import fcntl
import filecmp
import itertools
import json
import math
import os
import pathlib
import random
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest

from tmux_screen import TmuxScreen, binary_path, write_wav

LEVELS = (3, 6, 9, 12, 15, 18)


def write_any_wav(path, samples, channels, sample_format, rate=44100):
    """A plain WAV of 16-bit ("h"), 24-bit ("i24") or float ("f", "d") samples."""
    if sample_format == "i24":
        data = b"".join(int(value).to_bytes(3, "little", signed=True) for value in samples)
        tag, bits = 1, 24
    else:
        data = struct.pack("<%d%s" % (len(samples), sample_format), *samples)
        tag, bits = {"f": (3, 32), "d": (3, 64)}.get(sample_format, (1, 16))
    align = channels * bits // 8
    fmt = struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits)
    with open(path, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", 28 + len(fmt) + len(data)) + b"WAVEfmt " + struct.pack("<I", len(fmt))
                  + fmt + b"data" + struct.pack("<I", len(data)) + data)


def outputs_of(stem):
    return [f"{stem} {level}dB clipping.{kind}" for level in LEVELS for kind in ("txt", "wav")]


def report_counts(report_path):
    """Per channel: clipped samples, clipping events and the eleven histogram counts, as the report gives them."""
    with open(report_path, encoding="ascii", newline="") as report:
        left, right = report.read().split("RIGHT CHANNEL")
    pattern = re.compile(r"^(?:Clipped samples|Clipping events|Events [^:]*):\s+(\d+)", re.M)
    return [[int(count) for count in pattern.findall(channel)] for channel in (left, right)]


def first_child(pid):
    return int(pathlib.Path(f"/proc/{pid}/task/{pid}/children").read_text().split()[0])


def run(arguments, cwd):
    return subprocess.run([binary_path(), *arguments], cwd=cwd, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=120)


def tool(*arguments):
    return subprocess.run(arguments, check=True, capture_output=True, text=True, timeout=120).stderr


# Five seconds of two tones with noise in stereo, near -2 dBFS: whole numbers of scale, or floats. With a gain,
# no sample lands near full scale after it, where it would be at full scale without having been clipped.
def take(scale=None, gain=None):
    noise, step, samples = random.Random(25), 1 / scale if scale else 2 ** -13, []
    for frame in range(5 * 44100):
        t = 2 * math.pi * frame / 44100
        for value in (0.5 * math.sin(440 * t) + 0.25 * math.sin(1234 * t + 1),
                      0.45 * math.sin(550 * t) + 0.3 * math.sin(97 * t)):
            value += noise.uniform(-0.02, 0.02)
            if gain and abs(abs(value * gain) - 1) < 3 * step:
                value -= math.copysign(3 * step, value)
            samples.append(round(value * scale) if scale else value)
    return samples


# (channel, first frame, length) of each run of 3 or more samples at level, in a stereo file.
def runs_at(samples, level):
    return sorted((channel, found.start(), len(found.group())) for channel in (0, 1)
                  for found in re.finditer("x{3,}", "".join("x" if v == level else "." for v in samples[channel::2])))


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
            "a.wav: peak 32768 (0.00 dBFS); 12 files written: a {3,6,9,12,15,18}dB clipping.{txt,wav}",
            "b.wav: peak 5 (-76.33 dBFS); 12 files written: b {3,6,9,12,15,18}dB clipping.{txt,wav}",
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
        # The line is wider than the terminal's 80 columns and takes two rows.
        self.assertEqual("".join(rows[:2]),
                         "a.wav: peak 32768 (0.00 dBFS); 12 files written: a {3,6,9,12,15,18}dB clipping.{txt,wav}")
        self.assertEqual([row for row in rows[2:] if row], [])

    def test_rejected_and_missing_files_do_not_stop_the_others(self):
        self.wav("alaw.wav", samples=[1, 2, 3, 4], format_tag=6, bits_per_sample=8)
        self.wav("good.wav", samples=[100, -100] * 10)
        self.wav("rate.wav", samples=[1, 2], sample_rate=4000)
        self.wav("wild*?.wav", samples=[100, -100] * 10)  # names are taken literally
        write_any_wav(os.path.join(self.dir, "nan.wav"), [0.5] * 15 + [float("nan")] + [0.5] * 4, 2, "f")
        with open(os.path.join(self.dir, "notes.wav"), "w", encoding="ascii") as notes:
            notes.write("not audio\n")
        os.mkdir(os.path.join(self.dir, "folder.wav"))
        result = run(["--summary", "alaw.wav", "missing.wav", "good.wav", "rate.wav", "notes.wav", "wild*?.wav",
                      "nan.wav", "folder.wav"], self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.splitlines(), [
            "tarvelle: alaw.wav: This Wave file holds compressed audio (format tag 0x0006, A-law)",
            "tarvelle: missing.wav: File not found. Please enter a valid filename",
            "tarvelle: rate.wav: This Wave file's sample rate is 4000 Hz; 8000 to 768000 Hz are supported",
            "tarvelle: notes.wav: This is not a Wave file",
            "tarvelle: nan.wav: This Wave file holds a sample that is not a number (NaN or infinite) at frame 7",
            "tarvelle: folder.wav: Is a directory",
            "tarvelle: 8 files: 2 written, 6 refused",
        ])
        self.assertEqual(result.stdout.splitlines(), [
            "good.wav: peak 100 (-50.31 dBFS); 12 files written: good {3,6,9,12,15,18}dB clipping.{txt,wav}",
            "wild*?.wav: peak 100 (-50.31 dBFS); 12 files written: wild*? {3,6,9,12,15,18}dB clipping.{txt,wav}"])
        written = sorted(name for name in os.listdir(self.dir) if "clipping" in name)
        self.assertEqual(written, sorted(outputs_of("good") + outputs_of("wild*?")))
        # A read that fails is told with the system's reason.
        unreadable = run(["/proc/self/mem"], self.dir)
        self.assertEqual(unreadable.stderr,
                         "tarvelle: /proc/self/mem: This Wave file could not be read: Input/output error\n")

    def test_an_output_that_cannot_be_written_fails_the_run(self):
        self.wav("take.wav", samples=[100, -100] * 10)
        os.mkdir(os.path.join(self.dir, "take 9dB clipping.wav"))
        result = run(["take.wav"], self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout.splitlines(), [
            "take.wav: peak 100 (-50.31 dBFS); 1 of 12 files could not be written: take {3,6,9,12,15,18}dB clipping.{txt,wav}"])
        self.assertEqual(result.stderr, "tarvelle: take 9dB clipping.wav: Is a directory\n")
        self.assertTrue(os.path.isfile(os.path.join(self.dir, "take 18dB clipping.wav")))
        quiet = run(["-q", "take.wav"], self.dir)
        self.assertEqual((quiet.returncode, quiet.stdout), (1, ""))
        self.assertIn("take.wav: peak 100 (-50.31 dBFS); 1 of 12 files could not be written", quiet.stderr)

    def test_control_bytes_in_names_are_escaped(self):
        name = "a\x1b]2;x\x07\x1b[31m\t.wav"
        self.wav(name, samples=[100, -100] * 10)
        result = subprocess.run([binary_path(), name, "\x7fgone.wav"], cwd=self.dir, capture_output=True,
                                stdin=subprocess.DEVNULL, timeout=120)
        self.assertEqual(result.returncode, 1)
        for stream in (result.stdout, result.stderr):
            self.assertEqual([byte for byte in stream if byte < 0x20 and byte != 0x0A or byte == 0x7F], [])
        self.assertTrue(result.stdout.startswith(b"a\\033]2;x\\a\\033[31m\\t.wav: peak 100 (-50.31 dBFS); 12 files written"))
        self.assertTrue(result.stderr.startswith(b"tarvelle: \\177gone.wav: "))
        self.assertTrue(os.path.isfile(os.path.join(self.dir, name[:-4] + " 3dB clipping.txt")))

    def test_a_symbolic_link_at_an_output_name_is_not_followed(self):
        self.wav("a.wav", samples=[100, -100] * 10)
        with open(os.path.join(self.dir, "notes.txt"), "w") as notes:
            notes.write("keep")
        os.symlink("notes.txt", os.path.join(self.dir, "a 9dB clipping.txt"))
        os.symlink("made.txt", os.path.join(self.dir, "a 3dB clipping.txt"))
        self.assertEqual(run(["a.wav"], self.dir).returncode, 0)
        with open(os.path.join(self.dir, "notes.txt")) as notes:
            self.assertEqual(notes.read(), "keep")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "made.txt")))
        self.assertFalse(os.path.islink(os.path.join(self.dir, "a 9dB clipping.txt")))

    def test_a_failed_write_to_standard_output_fails_the_run(self):
        self.wav("a.wav", samples=[100, -100] * 10)
        with open("/dev/full", "w") as full:
            result = subprocess.run([binary_path(), "a.wav"], cwd=self.dir, stdout=full, stderr=subprocess.PIPE,
                                    text=True, stdin=subprocess.DEVNULL, timeout=120)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "tarvelle: standard output: No space left on device\n")

    def assert_outputs_whole(self, folder, stem, earlier):
        """Each output is absent, as the earlier run left it, or complete; no temporary file."""
        self.assertEqual([name for name in os.listdir(folder) if name.startswith(".")], [])
        for name in outputs_of(stem):
            path = os.path.join(folder, name)
            if not os.path.exists(path):
                continue
            with open(path, "rb") as output:
                data = output.read()
            if data == earlier.get(name):
                continue
            if name.endswith(".wav"):
                self.assertEqual(len(data), 44 + struct.unpack_from("<I", data, 40)[0], name)
            else:
                self.assertTrue(data.endswith(b"\n"), name)

    def big_wav(self, folder, name, frames):
        path = os.path.join(folder, name)
        write_wav(path, data_size=4 * frames)
        with open(path, "ab") as wav:
            wav.write(struct.pack("<4h", 30000, -20000, 1000, -32768) * (frames // 2))

    def earlier_outputs(self, folder, stem):
        earlier = {}
        for name in outputs_of(stem):
            with open(os.path.join(folder, name), "rb") as output:
                earlier[name] = output.read()
        return earlier

    def stop_part_way(self, command, folder, signal_number, preexec_fn=None, target=lambda pid: pid):
        """Starts command on a long file and sends the signal once a temporary file is there; the process."""
        process = subprocess.Popen(command, cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, preexec_fn=preexec_fn)
        self.addCleanup(process.kill)
        deadline = time.monotonic() + 60
        while not any(name.startswith(".tarvelle-") for name in os.listdir(folder)):
            self.assertLess(time.monotonic(), deadline, "no temporary file appeared")
            self.assertIsNone(process.poll(), "the run ended before it could be stopped")
        time.sleep(0.05)
        os.kill(target(process.pid), signal_number)
        return process

    def test_every_signal_that_ends_the_run_leaves_each_output_whole(self):
        self.wav("take.wav", samples=[7, -7] * 100)
        self.assertEqual(run(["take.wav"], self.dir).returncode, 0)
        earlier = self.earlier_outputs(self.dir, "take")
        self.big_wav(self.dir, "take.wav", 8_000_000)
        names = ["SIGTERM", "SIGINT", "SIGHUP", "SIGQUIT", "SIGPIPE", "SIGXCPU", "SIGUSR1", "SIGUSR2", "SIGALRM",
                 "SIGVTALRM", "SIGPROF", "SIGSYS", "SIGTRAP", "SIGPOLL", "SIGPWR", "SIGSTKFLT", "SIGRTMIN"]
        for signal_number in (getattr(signal, name) for name in names if hasattr(signal, name)):
            with self.subTest(signal=signal_number):
                process = self.stop_part_way([binary_path(), "take.wav"], self.dir, signal_number)
                self.assertEqual(process.wait(timeout=60), -signal_number)
                self.assert_outputs_whole(self.dir, "take", earlier)
        # One found ignored (nohup) stays ignored: the run goes on to its end.
        ignored = self.stop_part_way([binary_path(), "take.wav"], self.dir, signal.SIGHUP,
                                     preexec_fn=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN))
        self.assertEqual(ignored.wait(timeout=120), 0)
        self.assert_outputs_whole(self.dir, "take", {})

    def test_a_file_size_limit_fails_the_outputs_past_it(self):
        self.wav("take.wav", samples=[7, -7] * 20000)
        # sh counts the limit in blocks of 512 bytes: 32 KiB, more than a report, less than a WAV file.
        limited = ["sh", "-c", 'ulimit -f 64 && exec "$0" "$@"', binary_path(), "take.wav"]
        result = subprocess.run(limited, cwd=self.dir, capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=120)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.splitlines(),
                         [f"tarvelle: take {level}dB clipping.wav: File too large" for level in LEVELS])
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(["take.wav", *outputs_of("take")[::2]]))

    def test_in_a_pid_namespace_of_its_own(self):
        """As a container's first process: numbered 1 like runs before it, and its own signals dropped."""
        unshare = ["unshare", "--pid", "--fork"]
        probe = subprocess.run([*unshare, "true"], capture_output=True, text=True)
        if probe.returncode != 0:
            self.skipTest("the system refuses a PID namespace: " + probe.stderr.strip())
        self.wav("take.wav", samples=[7, -7] * 100)
        others = [pathlib.Path(self.dir, f".tarvelle-1-{serial}.tmp") for serial in range(1, 8)]
        for other in others:
            other.write_bytes(b"another run's")
        result = subprocess.run([*unshare, binary_path(), "take.wav"], cwd=self.dir, stdin=subprocess.DEVNULL)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(len(os.listdir(self.dir)), 1 + 12 + len(others))
        self.assertEqual({other.read_bytes() for other in others}, {b"another run's"})

        stopped = os.path.join(self.dir, "stopped")
        os.mkdir(stopped)
        self.big_wav(stopped, "take.wav", 8_000_000)
        process = self.stop_part_way([*unshare, binary_path(), "take.wav"], stopped, signal.SIGTERM,
                                     target=first_child)
        self.assertEqual(process.wait(timeout=60), 128 + signal.SIGTERM)
        self.assert_outputs_whole(stopped, "take", {})

    def test_outputs_another_program_holds_locked_are_left_alone(self):
        self.wav("take.wav", samples=[100, -100] * 10)
        held = "take 3dB clipping.txt"
        # Every kind of lock: flock and POSIX record locks (lockf), shared and exclusive.
        for take_lock, kind in itertools.product((fcntl.flock, fcntl.lockf), (fcntl.LOCK_SH, fcntl.LOCK_EX)):
            with self.subTest(lock=(take_lock.__name__, kind)), open(os.path.join(self.dir, held), "w+b", 0) as output:
                output.write(b"old")
                take_lock(output, kind | fcntl.LOCK_NB)
                result = run(["take.wav"], self.dir)
                self.assertEqual((result.returncode, result.stderr),
                                 (1, f"tarvelle: {held}: Locked by another program\n"))
                self.assertEqual(os.pread(output.fileno(), 10, 0), b"old")
        self.assertEqual(run(["take.wav"], self.dir).returncode, 0)

    def test_a_full_disk_leaves_earlier_outputs_and_no_partial_file(self):
        mount_point = os.path.join(self.dir, "small")
        os.mkdir(mount_point)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", mount_point],
                                 capture_output=True, text=True)
        if mounted.returncode != 0:
            self.skipTest("mount refused, so no small file system to fill: " + mounted.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", mount_point])
        self.wav("small/take.wav", samples=[7, -7] * 10000)
        self.assertEqual(run(["take.wav"], mount_point).returncode, 0)
        earlier = self.earlier_outputs(mount_point, "take")
        self.big_wav(mount_point, "take.wav", 40000)
        result = run(["take.wav"], mount_point)
        self.assertEqual(result.returncode, 1)
        self.assertIn("files could not be written", result.stdout)
        self.assertIn(": No space left on device\n", result.stderr)
        self.assert_outputs_whole(mount_point, "take", earlier)

    def test_names_with_leading_dashes_after_double_dash(self):
        self.wav("-odd.wav", samples=[7, -7])
        result = run(["--", "-odd.wav"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.isfile(os.path.join(self.dir, "-odd 3dB clipping.txt")))

    def test_a_process_short_of_memory_refuses_or_works_never_crashes(self):
        if "libasan" in subprocess.run(["ldd", binary_path()], capture_output=True, text=True).stdout:
            self.skipTest("AddressSanitizer reserves more address space than the limits allow")
        self.wav("take.wav", samples=[30000, -30000, 5, -5] * 50000)

        def limited(kibibytes, *arguments):
            return subprocess.run(["sh", "-c", f'ulimit -v {kibibytes} && exec "$0" "$@"', binary_path(), *arguments],
                                  cwd=self.dir, capture_output=True, text=True, stdin=subprocess.DEVNULL,
                                  timeout=120)

        # From a little above the least the program starts in (at the very
        # least not even an exception can be thrown) up to enough for everything.
        least = next(kibibytes for kibibytes in range(2000, 64001, 500)
                     if limited(kibibytes, "--version").returncode == 0)
        for kibibytes in range(least + 500, least + 16001, 1000):
            with self.subTest(kibibytes=kibibytes):
                result = limited(kibibytes, "take.wav")
                names = sorted(os.listdir(self.dir))
                if result.returncode == 0:
                    self.assertEqual(len(names), 13)
                else:
                    self.assertEqual(result.returncode, 1, result.stderr)
                    self.assertIn("not enough memory", result.stderr.lower())
                    self.assertEqual(names, ["take.wav"])
                for name in names:
                    if name != "take.wav":
                        os.remove(os.path.join(self.dir, name))

    def test_without_a_second_thread_the_outputs_are_the_same(self):
        if not hasattr(os, "geteuid") or os.geteuid() != 0 or not shutil.which("setpriv"):
            self.skipTest("needs root to run as a user with a process limit")
        if "libasan" in subprocess.run(["ldd", binary_path()], capture_output=True, text=True).stdout:
            self.skipTest("LeakSanitizer needs a thread of its own to check the process")
        write_any_wav(os.path.join(self.dir, "any.wav"), [30000 * (i % 7 - 3) for i in range(30000)], 1, "i24")
        # Longer than the ring's buffers, which the reads must free whoever runs them.
        self.wav("take.wav", samples=[30000, -30000, 5, -5, 32767, 32767, 32767, 100] * 200000)
        os.chmod(self.dir, 0o777)
        arguments = ["--labels", "--loudness", "--plot", "take.wav", "any.wav"]
        alone = {}
        # With a process limit of 1 the user's one process can start no thread:
        # every read runs on it; with 2 the ring reads ahead but the second
        # analysis thread cannot start.
        limited = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "prlimit"]
        for command in ([], limited + ["--nproc=1"], limited + ["--nproc=2"]):
            result = subprocess.run(command + [binary_path(), *arguments], cwd=self.dir, capture_output=True,
                                    text=True, stdin=subprocess.DEVNULL, timeout=120)
            self.assertEqual(result.returncode, 0, result.stderr)
            outputs = {}
            for name in os.listdir(self.dir):
                if "clipping" in name:
                    outputs[name] = pathlib.Path(self.dir, name).read_bytes()
                    os.remove(os.path.join(self.dir, name))
            self.assertEqual(len(outputs), 38)
            alone.setdefault("outputs", outputs)
            self.assertEqual(outputs, alone["outputs"])

    def test_help_version_and_unknown_options(self):
        help_result = run(["--help"], self.dir)
        self.assertEqual(help_result.returncode, 0)
        self.assertTrue(help_result.stdout.startswith("Usage: tarvelle [OPTION...] [FILE...]"))
        self.assertIn("Exit status", help_result.stdout)
        version = run(["--version"], self.dir)
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout, r"^tarvelle \d+\.\d+\.\d+\n(libsndfile \S+: reads .+|"
                                         r"built without libsndfile: reads WAV only)\n$")
        pathlib.Path(self.dir, "notes.txt").write_text("not a folder")
        for arguments, message in ((["--frobnicate", "a.wav"], "unknown option '--frobnicate'"),
                                   (["--fr\x1b[2Job", "a.wav"], "unknown option '--fr\\033[2Job'"),
                                   (["a.wav", "-o"], "option '-o' needs a folder name"),
                                   (["--output-dir"], "option '--output-dir' needs a folder name"),
                                   (["--json"], "the options are for FILE..., and no FILE was named"),
                                   (["-o", "notes.txt", "a.wav"], "'notes.txt' is not a folder"),
                                   (["-o", "no\awhere", "a.wav"], "no folder named 'no\\awhere'"),
                                   (["--"], "no FILE after '--'"),
                                   # Options that would change nothing in the mode chosen.
                                   (["--min-run", "2", "a.wav"], "option '--min-run' goes with --check"),
                                   (["--check", "--reports-only", "a.wav"],
                                    "option '--reports-only' does not go with --check, which writes no reports"),
                                   (["--check", "--json", "--events", "a.wav"],
                                    "option '--events' does not go with --check, whose runs are in the JSON already"),
                                   (["--check", "-o", "x", "a.wav"],
                                    "option '-o' places the files written, and --check writes none without "
                                    "--labels or --plot")):
            wrong = run(arguments, self.dir)
            self.assertEqual((wrong.returncode, wrong.stdout), (2, ""), arguments)
            self.assertEqual(wrong.stderr,
                             f"tarvelle: {message}\nTry 'tarvelle --help' for more information.\n")
        self.assertEqual(os.listdir(self.dir), ["notes.txt"])


    def test_json_lines(self):
        self.wav("a.wav", samples=[1000, -2000, 30000, -32768] * 50)
        self.wav("silent.wav", samples=[0, 0] * 10)
        self.wav("mono.wav", samples=[1, 2, 3], channels=1, format_tag=7, bits_per_sample=8)
        self.wav("take.wav", samples=[100, -100] * 10)
        os.mkdir(os.path.join(self.dir, "take 6dB clipping.txt"))
        result = run(["--json", "a.wav", "silent.wav", "mono.wav", "missing.wav", "take.wav"], self.dir)
        self.assertEqual(result.returncode, 1)
        objects = [json.loads(line) for line in result.stdout.splitlines()]
        self.assertEqual([(o["input"], o["status"]) for o in objects], [
            ("a.wav", "written"), ("silent.wav", "written"), ("mono.wav", "refused"),
            ("missing.wav", "refused"), ("take.wav", "errors")])
        self.assertEqual(objects[2], {"input": "mono.wav", "status": "refused",
                                      "message": "This Wave file holds compressed audio (format tag 0x0007, µ-law)"})
        self.assertEqual(objects[3]["message"], "File not found. Please enter a valid filename")

        clipped = objects[0]
        self.assertEqual((clipped["sampleRate"], clipped["samplesPerChannel"], clipped["peak"], clipped["peakDbfs"]),
                         (44100, 100, 32768, 0.0))
        self.assertEqual(clipped["levels"][0]["left"]["clipEvents"], 50)
        for level, (report, wav) in zip(clipped["levels"], zip(outputs_of("a")[::2], outputs_of("a")[1::2])):
            self.assertEqual((level["report"], level["wav"], level["written"]), (report, wav, True))
            counts = [[channel["clippedSamples"], channel["clipEvents"], *channel["eventLengthHistogram"]]
                      for channel in (level["left"], level["right"])]
            self.assertEqual(counts, report_counts(os.path.join(self.dir, report)))

        silent = objects[1]
        self.assertIsNone(silent["peakDbfs"])
        self.assertEqual({level["thresholdDbfs"] for level in silent["levels"]}, {None})

        failed = objects[4]["levels"][1]
        self.assertEqual((failed["report"], failed["wav"], failed["written"]), (None, "take 6dB clipping.wav", False))

    def test_several_files_at_once_are_told_in_order(self):
        names = []
        for index in range(6):
            names.append(f"f{index}.wav")
            self.wav(names[-1], samples=[100 * (index + 1), -100] * (5000 * (6 - index)))
        self.wav("mulaw.wav", samples=[1, 2, 3], format_tag=7, bits_per_sample=8)
        names.insert(3, "mulaw.wav")
        # With the loudness: its meters on several threads at once.
        one = run(["--json", "--loudness"] + names, self.dir)
        outputs = {}
        for name in os.listdir(self.dir):
            if "clipping" in name:
                with open(os.path.join(self.dir, name), "rb") as output:
                    outputs[name] = output.read()
        for jobs in ("-j3", "--jobs=2", "--jobs=64"):
            with self.subTest(jobs=jobs):
                several = run([jobs, "--json", "--loudness"] + names, self.dir)
                self.assertEqual((several.returncode, several.stdout, several.stderr),
                                 (one.returncode, one.stdout, one.stderr))
                self.assertEqual(one.returncode, 1)
                self.assertEqual([json.loads(line)["input"] for line in several.stdout.splitlines()], names)
                for name, content in outputs.items():
                    with open(os.path.join(self.dir, name), "rb") as output:
                        self.assertEqual(output.read(), content, name)
        for wrong in ("-j0", "--jobs=65", "--jobs=x"):
            self.assertEqual(run([wrong, "f0.wav"], self.dir).returncode, 2, wrong)

    def test_files_done_ahead_of_the_one_told_are_bounded(self):
        # While the first file's line cannot be printed (nobody reads the pipe),
        # only two files per job may be done ahead of it: the rest would be held
        # in memory, however many were named.
        names = [f"a{index:02}.wav" for index in range(20)]
        for name in names:
            self.wav(name, samples=[32767, 32767, 0, 0] * 10000 if name == names[0] else [3000, -3000] * 50)
        process = subprocess.Popen([binary_path(), "-j2", "--json", "--events", "--reports-only"] + names,
                                   cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   stdin=subprocess.DEVNULL)
        try:
            def done():
                return [name for name in names
                        if os.path.exists(os.path.join(self.dir, f"{name[:-4]} 18dB clipping.txt"))]
            deadline = time.monotonic() + 60
            while len(done()) < 5 and time.monotonic() < deadline:
                time.sleep(0.05)
            time.sleep(1)
            self.assertEqual(done(), names[:5])
        finally:
            output = process.communicate(timeout=120)[0]
        self.assertEqual((process.returncode, len(output.splitlines())), (0, len(names)))

    def test_the_most_jobs_with_labels_write_every_output(self):
        # Each file holds a dozen temporary files through its read: more at
        # once than the program may keep unless the jobs wait their turn.
        names = [f"m{index}.wav" for index in range(40)]
        for index, name in enumerate(names):
            self.wav(name, samples=[1000 + index, -30000] * 50)
        result = run(["-j64", "--labels"] + names, self.dir)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(len([name for name in os.listdir(self.dir) if "clipping" in name]), 18 * len(names))

    def test_check_finds_clipping_already_there(self):
        def frames(count, channels, runs, level, quiet):
            # Below the level, no value twice in a channel: the level is a pile-up.
            samples = [[type(quiet)(quiet * (i * 7919 % 1000 - 499.5) / 499.5)] * channels for i in range(count)]
            for channel, start, length in runs:
                for frame in range(start, start + length):
                    samples[frame][channel] = level
            return [value for frame in samples for value in frame]
        # name, format, channels, samples, runs found at --min-run 3 and then 1, what they are
        stereo = frames(1000, 2, [(0, 100, 5), (1, 200, 2), (1, 998, 2)], 32767, 1000)
        cases = [
            ("s16.wav", "h", 2, stereo, [(0, 100, 5)], [(0, 100, 5), (1, 200, 2), (1, 998, 2)], "fullScale"),
            ("s24.wav", "i24", 1, frames(500, 1, [(0, 50, 4)], 4000000, 1000), [(0, 50, 4)], [(0, 50, 4)],
             "ceiling"),
            ("f32.wav", "f", 2, frames(500, 2, [(1, 10, 3)], 1.5, 0.25), [(1, 10, 3)], [(1, 10, 3)], "fullScale"),
            ("clean.wav", "h", 1, frames(500, 1, [], 0, 1000), [], None, None),
        ]
        for name, sample_format, channels, samples, runs, all_runs, kind in cases:
            write_any_wav(os.path.join(self.dir, name), samples, channels, sample_format)
            for min_run, expected in (("3", runs), ("1", all_runs)):
                if expected is None:
                    continue
                with self.subTest(name=name, min_run=min_run):
                    result = run(["--check", "--json", "--min-run", min_run, name], self.dir)
                    self.assertEqual(result.returncode, 3 if expected else 0, result.stderr)
                    found = json.loads(result.stdout)["clipping"]
                    self.assertEqual(sorted((r["channel"], r["startFrame"], r["length"]) for r in found["runs"]),
                                     expected)
                    self.assertEqual({r["kind"] for r in found["runs"]}, {kind} if expected else set())
        lines = run(["--check", "--labels", "--summary", "s16.wav", "clean.wav"], self.dir)
        self.assertEqual(lines.stderr, "tarvelle: 2 files: 2 checked, 1 clipped, 0 refused\n")
        self.assertEqual((lines.returncode, lines.stdout.splitlines()), (3, [
            "s16.wav: clipped: 1 run at full scale (L 1), longest 5 samples in L at 00:00:00.002",
            "clean.wav: no clipping"]))
        with open(os.path.join(self.dir, "s16 clipping labels.txt"), "rb") as labels:
            self.assertEqual(labels.read(), b"0.002268\t0.002381\tL 5 samples\n")
        self.assertEqual(sorted(os.listdir(self.dir)),
                         sorted(["s16.wav", "s24.wav", "f32.wav", "clean.wav", "s16 clipping labels.txt",
                                 "clean clipping labels.txt"]))
        # Clipping found but its label track not written: the run failed, not merely found clipping.
        os.remove(os.path.join(self.dir, "s16 clipping labels.txt"))
        os.mkdir(os.path.join(self.dir, "s16 clipping labels.txt"))
        unwritten = run(["--check", "--labels", "s16.wav"], self.dir)
        self.assertEqual(unwritten.returncode, 1, unwritten.stderr)

    @unittest.skipUnless(shutil.which("ffmpeg") and shutil.which("sox"), "needs ffmpeg and sox")
    def test_check_against_what_sox_and_ffmpeg_made(self):
        def at(name):
            return os.path.join(self.dir, name)

        for name, source in (("dither", "(floor(random(0)*3)-1)/32768|(floor(random(1)*3)-1)/32768"),
                             ("fade", "0.01*pow(10\\,-0.28*t)*sin(997*2*PI*t)"), ("silence", "0|0"),
                             ("fade72", "0.000251*(1-t/10)*sin(997*2*PI*t)"), ("sine", "0.98855*sin(997*2*PI*t)"),
                             ("clean24", "0.4*sin(440*2*PI*t)+0.2*(random(0)-0.5)")):
            tool("ffmpeg", "-nostdin", "-y", "-f", "lavfi", "-i", f"aevalsrc={source}:s=44100:d=10", "-c:a",
                 "pcm_s24le" if name == "clean24" else "pcm_s16le", at(name + ".wav"))
        positive = [min(value, 16000) for value in take(32768)]
        for name, values, kind in (("take16", take(32768, 10 ** 0.4), "h"), ("positive", positive, "h"), ("take32", take(), "f"),
                                   ("take24", take(8388608, 10 ** 0.4), "i24"), ("take64", take(gain=10 ** 0.3), "d")):
            write_any_wav(at(name + ".wav"), values, 2, kind)
        sox = {}  # how many samples SoX says its gain clipped
        for name, gain in (("16", "+8"), ("24", "+8"), ("64", "+6")):
            said = tool("sox", "-D", at(f"take{name}.wav"), at(f"clip{name}.wav"), "gain", gain)
            sox[name] = int(re.search(r"gain clipped (\d+) samples", said).group(1))
        tool("sox", "-D", at("clip16.wav"), at("down16.wav"), "gain", "-6")
        for source, options, name in (("clip16", ["-c:a", "pcm_f32le"], "clip16 f32"), ("take32", ["-af", "volume=7dB",
                                      "-c:a", "pcm_f32le"], "up"), ("clip16", ["-c:a", "pcm_f64le"], "clip16 f64")):
            tool("ffmpeg", "-nostdin", "-y", "-i", at(source + ".wav"), *options, at(name + ".wav"))
        up = array.array("d", subprocess.run(["ffmpeg", "-nostdin", "-i", at("up.wav"), "-f", "f64le", "-"],
                                             check=True, capture_output=True, timeout=120).stdout)
        overs = [abs(value) for value in up if abs(value) > 1]

        def check(name, *options):
            result = run(["--check", "--json", *options, name], self.dir)
            clipping = json.loads(result.stdout)["clipping"]
            return result.returncode, clipping, sorted((r["channel"], r["startFrame"], r["length"])
                                                       for r in clipping["runs"])

        clip16 = check("clip16.wav")[2]
        # name, options, exit status, kinds of run, and the runs or how many samples they hold
        cases = [(name + ".wav", [], 0, set(), []) for name in ("dither", "fade", "fade72", "silence", "sine")] + [
            ("clean24.wav", ["--min-run", "1"], 0, set(), []),
            ("clip16.wav", ["--min-run", "1"], 3, {"fullScale"}, sox["16"]),
            ("clip24.wav", ["--min-run", "1"], 3, {"fullScale"}, sox["24"]),
            ("down16.wav", [], 3, {"ceiling"}, clip16),
            ("positive.wav", [], 3, {"ceiling"}, runs_at(positive, 16000)),
            ("clip16 f32.wav", [], 3, {"fullScale"}, clip16),
            ("clip16 f64.wav", [], 3, {"fullScale"}, clip16),
            ("clip64.wav", ["--min-run", "1"], 3, {"fullScale"}, sox["64"]),
            ("up.wav", [], 0, set(), []),
            ("up.wav", ["--true-peak-limit", "-1"], 3, set(), []),
        ]
        for name, options, status, kinds, expected in cases:
            with self.subTest(name=name, options=options):
                code, clipping, runs = check(name, *options)
                self.assertEqual((code, {run["kind"] for run in clipping["runs"]}), (status, kinds))
                self.assertEqual(runs if isinstance(expected, list) else sum(run[2] for run in runs), expected)
                # Which sides have a ceiling, and the overs
                ceiling, found = clipping["ceiling"], clipping.get("overs")
                self.assertEqual((ceiling and (ceiling["positive"] is not None, ceiling["negative"] is not None),
                                  found and (found["samples"], found["highestDbfs"])),
                                 ({"down16.wav": (True, True), "positive.wav": (True, False)}.get(name),
                                  (len(overs), round(20 * math.log10(max(overs)), 2)) if name == "up.wav" else None))

    def test_level_events_as_labels_and_json(self):
        # Both channels' events interleaved over several blocks of the 16-bit path:
        # the label track is in order of start, ties by channel.
        self.wav("take.wav", samples=[100, -100, 30000, 5, 30000, -30000, 30000, 5, 7, -32768] * 30)
        result = run(["--json", "--events", "--labels", "--reports-only", "take.wav"], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        for level in json.loads(result.stdout)["levels"]:
            with open(os.path.join(self.dir, f"take {level['dbBelowPeak']}dB clipping labels.txt"), "rb") as labels:
                lines = labels.read().decode().splitlines()
            events = sorted((start, channel, length) for channel, name in enumerate("LR")
                            for start, length in level["perChannel"][channel]["events"])
            self.assertEqual(lines, [
                f"{start / 44100:.6f}\t{(start + length) / 44100:.6f}\t{'LR'[channel]} {length} "
                f"sample{'s' if length > 1 else ''}" for start, channel, length in events])
            self.assertEqual(sum(c["clipEvents"] for c in level["perChannel"]), len(lines))

    def test_output_folder_and_quiet(self):
        # A missing folder is in the table of wrong options.
        self.wav("take.wav", samples=[100, -100] * 10)
        os.mkdir(os.path.join(self.dir, "out"))
        result = run(["-q", "-o", "out", "take.wav"], self.dir)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
        self.assertEqual(sorted(os.listdir(os.path.join(self.dir, "out"))), sorted(outputs_of("take")))
        self.assertEqual(sorted(os.listdir(self.dir)), ["out", "take.wav"])

    def test_inputs_whose_outputs_would_meet(self):
        for folder in ("x", "y", "out"):
            os.mkdir(os.path.join(self.dir, folder))
        self.wav("x/take.wav", samples=[100, -100] * 10)
        self.wav("y/take.wav", samples=[200, -200] * 10)
        # A refused file writes nothing, so the next file of its name is free to.
        result = run(["--json", "-o", "out", "gone/take.wav", "x/take.wav", "y/take.wav",
                      "out/take 3dB clipping.wav"], self.dir)
        self.assertEqual(result.returncode, 1)
        objects = [json.loads(line) for line in result.stdout.splitlines()]
        self.assertEqual([(o["input"], o["status"]) for o in objects[:2]],
                         [("gone/take.wav", "refused"), ("x/take.wav", "written")])
        self.assertEqual(objects[2:], [
            {"input": "y/take.wav", "status": "refused",
             "message": "not processed, its outputs would replace those of x/take.wav"},
            {"input": "out/take 3dB clipping.wav", "status": "skipped", "outputOf": "gone/take.wav"}])
        self.assertEqual(result.stderr.splitlines()[1:], [
            "tarvelle: y/take.wav: not processed, its outputs would replace those of x/take.wav",
            "tarvelle: skipped 1 file that is an output of another named"])
        with open(os.path.join(self.dir, "out", "take 3dB clipping.txt"), encoding="ascii") as report:
            self.assertEqual(report.readline(), "x/take.wav\n")
        # Spelled two ways, one folder: the second would replace the first's outputs.
        self.wav("take.bwf", samples=[300, -300] * 10)
        shutil.copy(os.path.join(self.dir, "take.bwf"), os.path.join(self.dir, "take.wav"))
        # Worked on at once, the later file still waits to see the earlier one accepted.
        for jobs in ([], ["-j2"]):
            spelled = run(jobs + ["take.wav", "./take.bwf"], self.dir)
            self.assertEqual(spelled.returncode, 1, jobs)
            self.assertEqual(spelled.stderr,
                             "tarvelle: ./take.bwf: not processed, its outputs would replace those of take.wav\n")
        # A check writes none of them: both are checked, and only a label
        # track that would meet the first's is left out.
        for name in ("take.wav", "take.bwf"):
            self.wav(name, samples=[300, -300, 100, -100] * 5)
        for extra, status, stderr in (([], 0, ""), (["--labels"], 1, "tarvelle: ./take.bwf: label track not "
                                                                          "written: it would replace that of take.wav\n")):
            checked = run(["--check", *extra, "take.wav", "./take.bwf"], self.dir)
            self.assertEqual((checked.returncode, checked.stdout, checked.stderr),
                             (status, "take.wav: no clipping\n./take.bwf: no clipping\n", stderr), extra)

    def test_reports_only_match_a_full_runs_reports(self):
        rng = random.Random(13)
        # Runs held for 997 frames cross the 1 MiB stretches a reports-only run reads.
        square = [s for n in range(300000) for s in ((20000, -31000) if n // 997 % 2 else (-25000, 12000))]
        inputs = {
            "noise.wav": dict(samples=[rng.randint(-32768, 32767) for _ in range(20000)]),
            "square.wav": dict(samples=square, sample_rate=176400),
            "silent.wav": dict(samples=[0, 0] * 100, sample_rate=88200),
            "empty.wav": dict(samples=[]),
            "cut short.wav": dict(samples=[30000, -30000, 5, 5] * 100, data_size=4000),
        }
        for name, fields in inputs.items():
            self.wav(name, **fields)
        os.mkdir(os.path.join(self.dir, "full"))
        os.mkdir(os.path.join(self.dir, "reports"))
        names = sorted(inputs)
        self.assertEqual(run(["-o", "full", *names], self.dir).returncode, 0)
        result = run(["--reports-only", "-o", "reports", *names], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("square.wav: peak 31000 (-0.48 dBFS); 6 files written: reports/square "
                      "{3,6,9,12,15,18}dB clipping.txt", result.stdout.splitlines())
        reports = os.listdir(os.path.join(self.dir, "reports"))
        self.assertEqual(sorted(reports), sorted(report for name in names for report in outputs_of(name[:-4])[::2]))
        _, mismatch, errors = filecmp.cmpfiles(os.path.join(self.dir, "full"), os.path.join(self.dir, "reports"),
                                               reports, shallow=False)
        self.assertEqual((mismatch, errors), ([], []))

    def test_a_classic_file_gives_the_same_files_in_every_mode(self):
        rng = random.Random(7)
        audio = struct.pack("<4000h", *(rng.randint(-32768, 32767) for _ in range(4000)))
        list_chunk = b"LIST" + struct.pack("<I", 6) + b"INFOab"
        # A data size that is no whole number of frames, a pad byte, then a LIST chunk.
        for data_size in (3995, 3998):
            with self.subTest(data_size=data_size):
                body = b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16) + b"data" \
                    + struct.pack("<I", data_size) + audio[:data_size] + b"\x00" * (data_size % 2) + list_chunk
                folders = [os.path.join(self.dir, f"{data_size} {mode}") for mode in ("lines", "batch")]
                for folder in folders:
                    os.mkdir(folder)
                    with open(os.path.join(folder, "take.wav"), "wb") as take:
                        take.write(b"RIFF" + struct.pack("<I", len(body)) + body)
                lines = subprocess.run([binary_path()], input=b"take.wav\n", cwd=folders[0], capture_output=True,
                                       timeout=60)
                self.assertEqual(lines.returncode, 0, lines.stderr)
                self.assertEqual(run(["take.wav"], folders[1]).returncode, 0)
                _, mismatch, errors = filecmp.cmpfiles(*folders, outputs_of("take"), shallow=False)
                self.assertEqual((mismatch, errors), ([], []))

    def test_a_second_run_skips_the_first_runs_outputs(self):
        self.wav("a.wav", samples=[1000, -2000, 30000, -32768] * 50)
        self.wav("b.wav", samples=[5, -5] * 10)

        def run_on_every_wav():
            return subprocess.run(["sh", "-c", 'exec "$0" *.wav', binary_path()], cwd=self.dir, capture_output=True,
                                  text=True, stdin=subprocess.DEVNULL, timeout=120)

        self.assertEqual(run_on_every_wav().returncode, 0)
        self.assertEqual(len(os.listdir(self.dir)), 26)
        for name in os.listdir(self.dir):
            os.utime(os.path.join(self.dir, name), ns=(0, 0))
        second = run_on_every_wav()
        self.assertEqual(second.returncode, 0)
        self.assertEqual(len(second.stdout.splitlines()), 2)
        self.assertEqual(second.stderr, "tarvelle: skipped 12 files that are outputs of the others named\n")
        touched = [name for name in os.listdir(self.dir) if os.stat(os.path.join(self.dir, name)).st_mtime_ns]
        self.assertEqual(sorted(touched), sorted(outputs_of("a") + outputs_of("b")))
        quiet = run(["-q", "--summary", *sorted(n for n in os.listdir(self.dir) if n.endswith(".wav"))], self.dir)
        self.assertEqual((quiet.returncode, quiet.stderr), (0, "tarvelle: 14 files: 2 written, 0 refused, 12 skipped\n"))
        # Named on its own, an output is an input like any other.
        alone = run(["a 3dB clipping.wav"], self.dir)
        self.assertEqual(alone.returncode, 0, alone.stderr)
        self.assertTrue(os.path.isfile(os.path.join(self.dir, "a 3dB clipping 18dB clipping.txt")))


if __name__ == "__main__":
    unittest.main()
