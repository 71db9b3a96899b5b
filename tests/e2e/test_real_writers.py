"""WAV files written by FFmpeg, libsndfile and SoX, processed in batch mode,
give the same twelve files as the same audio in a plain 44-byte file."""

import json
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

from tmux_screen import binary_path

LEVELS = (3, 6, 9, 12, 15, 18)
RATE = 44100
# Two different tones, loud enough to clip, half a second: the sizes of a real take.
SOURCE = f"aevalsrc=0.9*sin(440*2*PI*t)|0.7*sin(660*2*PI*t):s={RATE}:d=0.5"


def tool(*arguments, stdout=None):
    subprocess.run(arguments, check=True, stdout=stdout, stderr=subprocess.PIPE, timeout=120)


def ffmpeg(*arguments, stdout=None):
    tool("ffmpeg", "-nostdin", "-loglevel", "error", "-y", *arguments, stdout=stdout)


def outputs(folder):
    return {f"take {level}dB clipping.{kind}": open(os.path.join(folder, f"take {level}dB clipping.{kind}"), "rb").read()
            for level in LEVELS for kind in ("txt", "wav")}


@unittest.skipUnless(shutil.which("ffmpeg") and shutil.which("sox") and shutil.which("sndfile-convert"),
                     "needs ffmpeg, sox and sndfile-convert")
class RealWritersTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.dir = cls.folder.name
        cls.source = os.path.join(cls.dir, "source.wav")
        ffmpeg("-f", "lavfi", "-i", SOURCE, "-c:a", "pcm_s16le", cls.source)
        raw = os.path.join(cls.dir, "source.pcm")
        ffmpeg("-i", cls.source, "-f", "s16le", raw)
        audio = open(raw, "rb").read()
        fmt = struct.pack("<IHHIIHH", 16, 1, 2, RATE, RATE * 4, 4, 16)
        canonical = (b"RIFF" + struct.pack("<I", 36 + len(audio)) + b"WAVE" + b"fmt " + fmt + b"data"
                     + struct.pack("<I", len(audio)) + audio)
        cls.expected = cls.process(canonical_bytes=canonical)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    @classmethod
    def process(cls, make=None, canonical_bytes=None):
        """Runs tarvelle on take.wav in a fresh folder; returns its header tags and outputs."""
        folder = tempfile.mkdtemp(dir=cls.dir)
        take = os.path.join(folder, "take.wav")
        if canonical_bytes is not None:
            open(take, "wb").write(canonical_bytes)
        else:
            make(take)
        result = subprocess.run([binary_path(), "take.wav"], cwd=folder, capture_output=True, text=True,
                                stdin=subprocess.DEVNULL, timeout=120)
        assert result.returncode == 0, result.stderr
        return open(take, "rb").read(200), outputs(folder)

    def check(self, make, expected_tags):
        header, files = self.process(make)
        for tag in expected_tags:
            self.assertIn(tag, header, "the writer no longer makes the layout this case is for")
        self.assertEqual(files.keys(), self.expected[1].keys())
        for name, content in files.items():
            self.assertEqual(content, self.expected[1][name], name)

    def test_ffmpeg_list_chunk_before_the_data(self):
        self.check(lambda take: ffmpeg("-i", self.source, "-c:a", "pcm_s16le", take), [b"LIST"])

    def test_ffmpeg_written_to_a_pipe(self):
        def make(take):
            with open(take, "wb") as out:
                ffmpeg("-i", self.source, "-c:a", "pcm_s16le", "-f", "wav", "-", stdout=out)
        self.check(make, [b"\xff\xff\xff\xff"])

    def test_ffmpeg_canonical_layout_written_to_a_pipe(self):
        def make(take):
            with open(take, "wb") as out:
                ffmpeg("-i", self.source, "-c:a", "pcm_s16le", "-fflags", "+bitexact", "-map_metadata", "-1",
                       "-f", "wav", "-", stdout=out)
        # Block align and bits right before the data tag: the 44-byte layout.
        self.check(make, [b"\x04\x00\x10\x00data\xff\xff\xff\xff"])

    def test_ffmpeg_rf64(self):
        self.check(lambda take: ffmpeg("-i", self.source, "-c:a", "pcm_s16le", "-rf64", "always", take),
                   [b"RF64", b"ds64"])

    def test_ffmpeg_junk_reserved_for_rf64(self):
        self.check(lambda take: ffmpeg("-i", self.source, "-c:a", "pcm_s16le", "-rf64", "auto", take), [b"JUNK"])

    def test_ffmpeg_broadcast_wave(self):
        self.check(lambda take: ffmpeg("-i", self.source, "-c:a", "pcm_s16le", "-write_bext", "1",
                                       "-metadata", "originator=field recorder", take), [b"bext"])

    def test_libsndfile_extensible(self):
        def make(take):
            extensible = take + "ex"  # libsndfile picks the extensible format by the .wavex name
            tool("sndfile-convert", "-pcm16", self.source, extensible)
            os.rename(extensible, take)
        self.check(make, [b"\xfe\xff\x02\x00"])

    def test_sox(self):
        self.check(lambda take: tool("sox", self.source, take), [b"fmt ", b"data"])

    def test_other_formats_clip_sample_by_sample(self):
        # Written by FFmpeg and libsndfile; read back by FFmpeg as doubles, in
        # which every format's samples and thresholds are exact.
        ffmpeg_formats = [("pcm_s24le", 2, 48000), ("pcm_f32le", 1, 96000), ("pcm_s16le", 6, 48000),
                          ("pcm_u8", 1, 22050), ("pcm_s32le", 2, 96000), ("pcm_f64le", 2, 44100)]
        cases = [(f"{codec} {channels} ch {rate}", lambda take, c=codec, n=channels, r=rate: ffmpeg(
            "-f", "lavfi", "-i", f"aevalsrc={'|'.join(['0.9*sin(440*2*PI*t+%d)' % k for k in range(n)])}:s={r}:d=0.3",
            "-c:a", c, take)) for codec, channels, rate in ffmpeg_formats]
        for option in ("-pcm24", "-float32"):
            cases.append((f"libsndfile {option}", lambda take, o=option: tool(
                "sndfile-convert", o, self.source, take)))
        for name, make in cases:
            with self.subTest(name):
                folder = tempfile.mkdtemp(dir=self.dir)
                take = os.path.join(folder, "take.wav")
                make(take)
                result = subprocess.run([binary_path(), "--json", "take.wav"], cwd=folder, capture_output=True,
                                        text=True, stdin=subprocess.DEVNULL, timeout=120)
                self.assertEqual(result.returncode, 0, result.stderr)
                found = json.loads(result.stdout)
                scale = 1.0 if found["sampleFormat"].startswith("float") else 2.0 ** (
                    {"uint8": 8, "int16": 16, "int24": 24, "int32": 32}[found["sampleFormat"]] - 1)
                source = samples(take)
                for level in found["levels"]:
                    clipped = os.path.join(folder, level["wav"])
                    self.assertEqual(stream_fields(clipped), stream_fields(take))
                    threshold = level["threshold"] / scale
                    self.assertEqual(samples(clipped), [min(max(x, -threshold), threshold) for x in source])
                    channels = found["channels"]
                    self.assertEqual([c["clippedSamples"] for c in level["perChannel"]],
                                     [sum(abs(x) > threshold for x in source[c::channels]) for c in range(channels)])

    def test_true_peak_and_loudness_agree_with_ffmpeg(self):
        # A quarter of the rate at 45 degrees: the samples miss the peak by 3.01 dB.
        # The first faded in and out: an abrupt start overshoots after oversampling.
        for name, source, fades in (("quarter-rate sine", "0.5*sin(PI/2*48000*t+PI/4)",
                                     "afade=t=in:d=1,afade=t=out:st=19:d=1"),
                                    ("EBU 1 kHz at -23 dBFS", "0.0708*sin(1000*2*PI*t)", "anull")):
            with self.subTest(name):
                take = os.path.join(self.dir, "loudness.wav")
                ffmpeg("-f", "lavfi", "-i", f"aevalsrc={source}|{source}:s=48000:d=20", "-af", fades,
                       "-c:a", "pcm_s24le", take)
                ours = json.loads(subprocess.run([binary_path(), "--loudness", "--reports-only", "--json", take],
                                                 capture_output=True, text=True, check=True, timeout=120).stdout)
                theirs = subprocess.run(["ffmpeg", "-nostdin", "-nostats", "-i", take, "-af",
                                         "ebur128=peak=true:framelog=verbose", "-f", "null", "-"],
                                        capture_output=True, text=True, timeout=120).stderr
                summary = theirs[theirs.rindex("Summary:"):]
                # FFmpeg prints one decimal: within 0.1 of it, and its rounding.
                self.assertAlmostEqual(ours["integratedLufs"], float(summary.split("I:")[1].split()[0]), delta=0.15)
                self.assertAlmostEqual(ours["truePeakDbtp"], float(summary.split("Peak:")[1].split()[0]), delta=0.15)
                if name.startswith("quarter"):
                    self.assertAlmostEqual(ours["truePeakDbtp"] - ours["peakDbfs"], 3.01, delta=0.1)
        self.assertAlmostEqual(ours["integratedLufs"], -23.0, delta=0.1)


def samples(path):
    """The file's samples as FFmpeg decodes them to doubles."""
    raw = subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-i", path, "-f", "f64le", "-"],
                         check=True, capture_output=True, timeout=120).stdout
    return list(struct.unpack("<%dd" % (len(raw) // 8), raw))


def stream_fields(path):
    probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                            "stream=codec_name,sample_rate,channels,channel_layout", "-of", "json", path],
                           check=True, capture_output=True, text=True, timeout=120).stdout
    return json.loads(probe)["streams"]


if __name__ == "__main__":
    unittest.main()
