"""Sound files that are not WAV, read through libsndfile, and standard input, each against its WAV twin."""

import json
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import unittest

from tmux_screen import binary_path

try:
    import numpy
except ImportError:
    numpy = None

TOOLS = ("sox", "ffmpeg", "sndfile-convert")


def tarvelle(arguments, cwd):
    return subprocess.run([binary_path(), *arguments], cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=300)


def built_with_libsndfile():
    version = subprocess.run([binary_path(), "--version"], capture_output=True, text=True).stdout
    return "without libsndfile" not in version


def ffmpeg(source, target, *codec):
    subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-i", source, *codec, target], check=True)


# name, container's words in the report, channels, bits ("f" float) of the twin, how the file is made from it.
# The lossy ones are decoded by FFmpeg and compared sample by sample after the clip.
CASES = (
    ("aiff", "16-bit integer (AIFF)", 2, 16, lambda w, o: subprocess.run(["sox", w, o], check=True)),
    ("aifc", "16-bit integer (AIFC)", 1, 16, lambda w, o: ffmpeg(w, o, "-c:a", "pcm_s16le", "-f", "aiff")),
    ("caf", "24-bit integer (CAF)", 6, 24, lambda w, o: subprocess.run(["sndfile-convert", w, o], check=True)),
    ("w64", "32-bit float (W64)", 2, "f", lambda w, o: subprocess.run(["sndfile-convert", w, o], check=True)),
    ("flac", "16-bit integer (FLAC)", 6, 16, lambda w, o: subprocess.run(["sox", w, o], check=True)),
    ("flac", "24-bit integer (FLAC)", 2, 24, lambda w, o: ffmpeg(w, o)),
    # As a pipe's writer leaves it: its length unknown.
    ("flac", "24-bit integer (FLAC)", 1, 24, lambda w, o: pathlib.Path(o).write_bytes(subprocess.run(
        ["ffmpeg", "-loglevel", "error", "-i", w, "-f", "flac", "-"], capture_output=True, check=True).stdout)),
    ("ogg", "32-bit float (Ogg Vorbis)", 2, "f", lambda w, o: ffmpeg(w, o, "-c:a", "libvorbis")),
    ("opus", "32-bit float (Opus)", 6, "f", lambda w, o: ffmpeg(w, o, "-c:a", "libopus", "-mapping_family", "1")),
    ("mp3", "32-bit float (MP3)", 1, "f", lambda w, o: ffmpeg(w, o, "-c:a", "libmp3lame", "-b:a", "320k")),
)


def make_twin(path, channels, bits, seconds=3):
    """Tones near full scale, a different one on each channel, at 48 kHz."""
    tones = [f"sine {220 * (index + 2)}" for index in range(channels)]
    encoding = ["-e", "floating-point", "-b", "32"] if bits == "f" else ["-b", str(bits)]
    subprocess.run(["sox", "-n", "-r", "48000", *encoding, "-c", str(channels), path, "synth", str(seconds),
                    *" ".join(tones).split(), "gain", "-0.3"], check=True)


def without_names(report):
    """A report less its first line (the name) and its sample format line."""
    return [line for line in report.splitlines()[1:] if not line.startswith("Sample format:")]


def counts(json_line):
    """The JSON of a file less the names in it."""
    result = json.loads(json_line)
    result.pop("input")
    for level in result.get("levels", ()):
        level.pop("report")
        level.pop("wav")
    return result


def decoded(path, channels):
    """Samples as FFmpeg decodes them to float, frame by frame."""
    raw = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", str(path), "-f", "f32le", "-c:a", "pcm_f32le", "-"],
                         capture_output=True, check=True).stdout
    return numpy.frombuffer(raw, dtype="<f4").reshape(-1, channels)


@unittest.skipUnless(all(shutil.which(tool) for tool in TOOLS), "needs sox, ffmpeg and sndfile-convert")
class ContainerTest(unittest.TestCase):
    def setUp(self):
        if not built_with_libsndfile():
            self.skipTest("built without libsndfile: WAV only")
        self.folder = pathlib.Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, self.folder)

    def make(self, extension, channels, bits, make):
        twin = self.folder / "twin.wav"
        make_twin(str(twin), channels, bits)
        source = self.folder / f"take.{extension}"
        make(str(twin), str(source))
        return twin, source

    def test_each_container_against_its_wav_twin(self):
        for extension, format_text, channels, bits, make in CASES:
            with self.subTest(container=format_text, channels=channels):
                for old in self.folder.iterdir():
                    old.unlink()
                twin, source = self.make(extension, channels, bits, make)
                lossy = extension in ("ogg", "opus", "mp3")
                if lossy:
                    # FFmpeg's decoding of the lossy file is the twin.
                    twin_samples = decoded(source, channels) if numpy is not None else None
                read = tarvelle(["--json", source.name], self.folder)
                self.assertEqual(read.returncode, 0, read.stderr)
                result = json.loads(read.stdout)
                report = (self.folder / "take 3dB clipping.txt").read_text()
                self.assertIn(f"Sample format:        {format_text}\n", report)
                clipped = self.folder / f"take 3dB clipping.{'wav' if lossy else extension}"
                self.assertEqual(result["levels"][0]["wav"], clipped.name)
                if not lossy:
                    read_twin = tarvelle(["--json", twin.name], self.folder)
                    self.assertEqual(counts(read.stdout), counts(read_twin.stdout))
                    self.assertEqual(without_names(report),
                                     without_names((self.folder / "twin 3dB clipping.txt").read_text()))
                    # The same samples in the container of the source.
                    same = subprocess.run(["sndfile-cmp", str(clipped), str(self.folder / "twin 3dB clipping.wav")],
                                          capture_output=True, text=True)
                    self.assertEqual(same.returncode, 0, same.stdout)
                    self.assertEqual(clipped.read_bytes()[:4], source.read_bytes()[:4])
                elif numpy is not None:
                    self.assertEqual(result["sampleFormat"], "float32")
                    ours = decoded(clipped, channels)
                    self.assertEqual(ours.shape, twin_samples.shape)
                    threshold = result["levels"][0]["threshold"]
                    expected = numpy.clip(twin_samples, -threshold, threshold)
                    # Two decoders of one stream agree to well under a 16-bit step.
                    self.assertLess(float(numpy.max(numpy.abs(ours - expected))), 2e-4)

    def test_overs_of_a_lossy_file_are_overs(self):
        twin = self.folder / "hot.wav"
        subprocess.run(["sox", "-V1", "-n", "-r", "44100", "-b", "16", "-c", "2", str(twin), "synth", "2", "square",
                        "100", "gain", "-0.01"], check=True)
        ffmpeg(str(twin), str(self.folder / "hot.mp3"), "-c:a", "libmp3lame", "-b:a", "128k")
        result = json.loads(tarvelle(["--json", "--reports-only", "hot.mp3"], self.folder).stdout)
        self.assertGreater(result["peak"], 1.0)
        self.assertGreater(result["peakDbfs"], 0.0)

    def test_standard_input_with_and_without_spooling(self):
        twin, source = self.make("flac", 2, 24, lambda w, o: ffmpeg(w, o))
        spool = self.folder / "spool"
        spool.mkdir()
        env = dict(os.environ, TMPDIR=str(spool))
        from_file = tarvelle(["--json", source.name], self.folder)
        for data, arguments in ((source.read_bytes(), ["--json", "--name", "piped", "-"]),
                                (None, ["--json", "--check", "-"])):
            with self.subTest(arguments=arguments):
                if data is None:
                    # A WAV stream as FFmpeg writes one to a pipe: its sizes unknown.
                    data = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", str(twin), "-c:a", "pcm_s24le",
                                           "-f", "wav", "-"],
                                          capture_output=True, check=True).stdout
                    from_file = tarvelle(["--json", "--check", twin.name], self.folder)
                    # Read once: with no temporary folder to spool to, it still reads.
                    env = dict(env, TMPDIR=str(self.folder / "missing"))
                piped = subprocess.run([binary_path(), *arguments], cwd=self.folder, input=data, capture_output=True,
                                       timeout=300, env=env)
                self.assertEqual(piped.returncode, 0, piped.stderr)
                self.assertEqual(counts(piped.stdout) | {"warning": None}, counts(from_file.stdout) | {"warning": None})
                self.assertEqual(list(spool.iterdir()), [])
        self.assertTrue((self.folder / "piped 3dB clipping.flac").exists())
        self.assertTrue((self.folder / "piped 18dB clipping.txt").exists())

    def test_every_container_streams_where_the_run_reads_once(self):
        """Piped with no temporary folder to spool to, each reads as its file does."""
        env = dict(os.environ, TMPDIR=str(self.folder / "missing"))
        for extension, format_text, channels, bits, make in CASES:
            with self.subTest(container=format_text, channels=channels):
                _, source = self.make(extension, channels, bits, make)
                piped = subprocess.run([binary_path(), "--json", "--check", "-"], cwd=self.folder,
                                       input=source.read_bytes(), capture_output=True, timeout=300, env=env)
                self.assertEqual(piped.returncode, 0, piped.stderr)
                self.assertEqual(counts(piped.stdout),
                                 counts(tarvelle(["--json", "--check", source.name], self.folder).stdout))

    def test_a_flac_with_a_corrupt_frame_is_refused(self):
        _, source = self.make("flac", 2, 24, lambda w, o: ffmpeg(w, o))
        data = bytearray(source.read_bytes())
        middle = len(data) // 2
        data[middle:middle + 4000] = bytes(byte ^ 0x5A for byte in data[middle:middle + 4000])
        source.write_bytes(bytes(data))
        read = tarvelle(["--json", source.name], self.folder)
        self.assertEqual(read.returncode, 1)
        result = json.loads(read.stdout)
        self.assertEqual(result["status"], "refused")
        self.assertRegex(result["message"],
                         r"^This FLAC file could not be decoded past \d+\.\d{3} s \(libsndfile: .+\)$")
        self.assertEqual(sorted(path.name for path in self.folder.iterdir()), ["take.flac", "twin.wav"])
        piped = subprocess.run([binary_path(), "--json", "--check", "-"], input=bytes(data), capture_output=True,
                               timeout=300, env=dict(os.environ, TMPDIR=str(self.folder / "missing")))
        self.assertEqual(json.loads(piped.stdout)["message"], result["message"])


if __name__ == "__main__":
    unittest.main()
