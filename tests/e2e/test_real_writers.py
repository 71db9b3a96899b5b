"""WAV files written by FFmpeg, libsndfile and SoX, processed in batch mode,
give the same twelve files as the same audio in a plain 44-byte file."""

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


if __name__ == "__main__":
    unittest.main()
