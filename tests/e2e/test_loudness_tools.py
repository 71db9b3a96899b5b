"""--loudness against the tools engineers check with: FFmpeg's ebur128 filter
for every channel layout, and an FFT reconstruction for the inter-sample peak."""

import json
import os
import shutil
import struct
import subprocess
import tempfile
import unittest
import wave

from tmux_screen import binary_path

try:
    import numpy
except ImportError:
    numpy = None


def run(*arguments):
    subprocess.run(arguments, check=True, capture_output=True, timeout=300)


def measure(path):
    result = subprocess.run([binary_path(), "--check", "--loudness", "--json", "-q", path],
                            capture_output=True, text=True, timeout=300)
    return json.loads(result.stdout)


@unittest.skipUnless(shutil.which("ffmpeg") and shutil.which("sox"), "needs ffmpeg and sox")
class LoudnessToolsTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def test_every_layout_reads_as_ffmpeg_reads_it(self):
        # None: a file without a channel mask, 16-bit with the format tag 1.
        for layout, channels in [("mono", 1), ("stereo", 2), ("2.1", 3), ("3.0", 3), ("3.1", 4), ("4.0", 4),
                                 ("5.0", 5), ("5.1", 6), ("6.1", 7), ("7.1", 8), (None, 4), (None, 6), (None, 7),
                                 (None, 8)]:
            with self.subTest(layout=layout, channels=channels):
                path = os.path.join(self.folder.name, f"{layout or channels}.wav")
                # A different tone and swell per channel, so that a wrong weight shows.
                tones = "|".join(f"{0.1 + 0.05 * c}*(1+0.5*sin(2*PI*{0.3 + 0.1 * c}*t))*sin(2*PI*{257 * c + 220}*t)"
                                 for c in range(channels))
                source = f"aevalsrc={tones}:s=48000:d=8" + (f":c={layout}" if layout else "")
                ffmpeg = ["ffmpeg", "-nostdin", "-loglevel", "error", "-y"]
                if layout:
                    run(*ffmpeg, "-f", "lavfi", "-i", source, "-c:a", "pcm_s24le", path)
                else:
                    run(*ffmpeg, "-f", "lavfi", "-i", source, "-f", "s16le", path + ".pcm")
                    with open(path + ".pcm", "rb") as pcm:
                        data = pcm.read()
                    fmt = struct.pack("<IHHIIHH", 16, 1, channels, 48000, 96000 * channels, 2 * channels, 16)
                    with open(path, "wb") as file:
                        file.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " + fmt + b"data"
                                   + struct.pack("<I", len(data)) + data)
                # FFmpeg's integrated loudness to full precision: the last of its per-frame values.
                log = path + ".r128.txt"
                run(*ffmpeg, "-i", path, "-af",
                    f"ebur128=metadata=1:peak=true,ametadata=print:key=lavfi.r128.I:file={log}", "-f", "null", "-")
                with open(log) as lines:
                    theirs = [line.split("=", 1)[1] for line in lines if line.startswith("lavfi.r128.I=")][-1]
                self.assertAlmostEqual(measure(path)["integratedLufs"], float(theirs), delta=0.05)

    @unittest.skipUnless(numpy is not None, "needs numpy (Debian: python3-numpy)")
    def test_inter_sample_peak_is_the_band_limited_one(self):
        music = os.path.join(self.folder.name, "music.wav")
        run(os.environ["TARVELLE_MAKE_WAV"], "--seconds", "3", "--rate", "44100", music)
        # Faded at both ends, so that the FFT's wrap-around has nothing to ring
        # at; then as it is, and clipped as a too hot take is.
        for name, effects in (("unclipped", ["gain", "-3"]), ("clipped by gain +4", ["gain", "+4"]),
                              ("clipped by gain +8", ["gain", "+8"]),
                              ("clipped by gain +12, then at 48 kHz", ["gain", "+12", "rate", "48000"])):
            with self.subTest(name):
                path = os.path.join(self.folder.name, f"{name}.wav")
                run("sox", music, "-b", "16", path, "remix", "1", "fade", "0.1", "0", "0.1", *effects)
                with wave.open(path) as file:
                    samples = numpy.frombuffer(file.readframes(file.getnframes()), "<i2") / 32768
                spectrum = numpy.fft.rfft(samples)
                spectrum[-1] /= 2  # the Nyquist bin of an even length stands for both signs of its frequency
                upsampled = numpy.fft.irfft(spectrum, 16 * len(samples)) * 16
                reference = 20 * numpy.log10(numpy.max(numpy.abs(upsampled)))
                self.assertAlmostEqual(measure(path)["interSamplePeakDbfs"], reference, delta=0.05)


if __name__ == "__main__":
    unittest.main()
