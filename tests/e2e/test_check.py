"""--check against files that SoX and FFmpeg made, clipped or not, and what they say they clipped."""

import array
import json
import math
import os
import random
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

from tmux_screen import binary_path

RATE = 44100
GAIN_8DB = 10 ** (8 / 20)


def tool(*arguments):
    """Runs a tool; returns what it said on standard error."""
    return subprocess.run(arguments, check=True, capture_output=True, text=True, timeout=120).stderr


def ffmpeg(*arguments):
    return tool("ffmpeg", "-nostdin", "-loglevel", "error", "-y", *arguments)


def sox_clipped(*arguments):
    """Runs sox -D; returns how many samples its gain effect says it clipped."""
    said = tool("sox", "-D", *arguments)
    return int(re.search(r"gain clipped (\d+) samples", said).group(1))


def samples_of(path):
    """Every sample of the file as a float, full scale 1.0, decoded by FFmpeg."""
    raw = subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-i", path, "-f", "f64le", "-"],
                         check=True, capture_output=True, timeout=120).stdout
    return array.array("d", raw)


def write_wav(path, samples, bits, is_float=False, channels=2):
    if is_float:
        data = struct.pack("<%d%s" % (len(samples), "f" if bits == 32 else "d"), *samples)
    elif bits == 24:
        data = b"".join(int(value).to_bytes(3, "little", signed=True) for value in samples)
    else:
        data = array.array("h", samples).tobytes()
    align = channels * bits // 8
    fmt = struct.pack("<HHIIHH", 3 if is_float else 1, channels, RATE, RATE * align, align, bits)
    with open(path, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", 28 + len(fmt) + len(data)) + b"WAVEfmt " + struct.pack("<I", len(fmt))
                  + fmt + b"data" + struct.pack("<I", len(data)) + data)


def take(full_scale=None, away_from=None):
    """Five seconds of two stereo tones with noise, peaking near -2 dBFS: whole numbers of full_scale, or
    floats. With away_from (a gain), no sample lands near full scale after it: it would be at full scale
    without the gain having clipped it."""
    noise = random.Random(25)
    step = 1 / full_scale if full_scale else 2 ** -13
    samples = []
    for frame in range(5 * RATE):
        t = frame / RATE
        for value in (0.5 * math.sin(2 * math.pi * 440 * t) + 0.25 * math.sin(2 * math.pi * 1234 * t + 1),
                      0.45 * math.sin(2 * math.pi * 550 * t) + 0.3 * math.sin(2 * math.pi * 97 * t)):
            sample = value + noise.uniform(-0.02, 0.02)
            if away_from and abs(abs(sample * away_from) - 1) < 3 * step:
                sample -= math.copysign(3 * step, sample)
            samples.append(round(sample * full_scale) if full_scale else sample)
    return samples


def runs_at(samples, level, channels=2, shortest=3):
    """(channel, first frame, length) of each run of one value, as plain Python finds them."""
    found = []
    for channel in range(channels):
        length = 0
        values = samples[channel::channels]
        for frame, value in enumerate(list(values) + [None]):
            if value == level:
                length += 1
                continue
            if length >= shortest:
                found.append((channel, frame - length, length))
            length = 0
    return sorted(found)


def check(folder, name, *options):
    result = subprocess.run([binary_path(), "--check", "--json", *options, name], cwd=folder, capture_output=True,
                            text=True, stdin=subprocess.DEVNULL, timeout=120)
    return result.returncode, json.loads(result.stdout)["clipping"] if result.stdout else result.stderr


def runs_of(clipping):
    return sorted((run["channel"], run["startFrame"], run["length"]) for run in clipping["runs"])


@unittest.skipUnless(shutil.which("ffmpeg") and shutil.which("sox"), "needs ffmpeg and sox")
class CheckTest(unittest.TestCase):
    def test_what_counts_as_clipping(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        d = folder.name

        def at(name):
            return os.path.join(d, name)

        def lavfi(source, codec, name):
            ffmpeg("-f", "lavfi", "-i", source, "-c:a", codec, at(name))

        # The files, and what their makers say about them.
        lavfi(f"aevalsrc=(floor(random(0)*3)-1)/32768|(floor(random(1)*3)-1)/32768:s={RATE}:d=10", "pcm_s16le",
              "dither.wav")
        lavfi(f"aevalsrc=0.01*pow(10\\,-0.28*t)*sin(997*2*PI*t):s={RATE}:d=10", "pcm_s16le", "fade.wav")
        lavfi(f"aevalsrc=0.000251*(1-t/10)*sin(997*2*PI*t):s={RATE}:d=10", "pcm_s16le", "fade72.wav")
        lavfi(f"anullsrc=r={RATE}:cl=stereo,atrim=0:5", "pcm_s16le", "silence.wav")
        lavfi(f"aevalsrc=0.4*sin(440*2*PI*t)+0.2*(random(0)-0.5):s=48000:d=5", "pcm_s24le", "clean24.wav")
        lavfi(f"aevalsrc=0.98855*sin(997*2*PI*t):s={RATE}:d=10", "pcm_s16le", "sine.wav")
        write_wav(at("take16.wav"), take(32768, GAIN_8DB), 16)
        write_wav(at("take24.wav"), take(8388608, GAIN_8DB), 24)
        sox16 = sox_clipped(at("take16.wav"), at("clip16.wav"), "gain", "+8")
        sox24 = sox_clipped(at("take24.wav"), at("clip24.wav"), "gain", "+8")
        tool("sox", "-D", at("clip16.wav"), at("down16.wav"), "gain", "-6")
        ffmpeg("-i", at("clip16.wav"), "-c:a", "pcm_f32le", at("clip16 f32.wav"))
        ffmpeg("-i", at("clip16.wav"), "-c:a", "pcm_f64le", at("clip16 f64.wav"))
        positive = [min(value, 16000) for value in take(32768)]
        write_wav(at("positive.wav"), positive, 16)
        write_wav(at("take64.wav"), take(away_from=10 ** (6 / 20)), 64, is_float=True)
        sox64 = sox_clipped(at("take64.wav"), at("clip64.wav"), "gain", "+6")
        write_wav(at("take32.wav"), take(), 32, is_float=True)
        ffmpeg("-i", at("take32.wav"), "-af", "volume=7dB", "-c:a", "pcm_f32le", at("up.wav"))
        up = samples_of(at("up.wav"))
        overs = [abs(value) for value in up if abs(value) > 1.0]
        self.assertTrue(overs, "the turned-up file is not over full scale")

        clip16_runs = runs_of(check(d, "clip16.wav", "--min-run", "1")[1])
        clip16_default = runs_of(check(d, "clip16.wav")[1])
        none = {"runs": [], "kinds": set()}
        # name, options, exit status, and what the clipping object must hold
        cases = [
            ("dither.wav", [], 0, none),
            ("fade.wav", [], 0, none),
            ("fade72.wav", [], 0, none),
            ("silence.wav", [], 0, none),
            ("clean24.wav", ["--min-run", "1"], 0, none),
            ("sine.wav", [], 0, none),
            ("clip16.wav", ["--min-run", "1"], 3, {"samples": sox16, "kinds": {"fullScale"}}),
            ("clip24.wav", ["--min-run", "1"], 3, {"samples": sox24, "kinds": {"fullScale"}}),
            ("down16.wav", ["--min-run", "1"], 3,
             {"runs": clip16_runs, "kinds": {"ceiling"}, "positive": True, "negative": True}),
            ("positive.wav", [], 3,
             {"runs": runs_at(positive, 16000), "kinds": {"ceiling"}, "positive": True, "negative": False}),
            ("clip16 f32.wav", [], 3, {"runs": clip16_default, "kinds": {"fullScale"}}),
            ("clip16 f64.wav", [], 3, {"runs": clip16_default, "kinds": {"fullScale"}}),
            ("clip64.wav", ["--min-run", "1"], 3, {"samples": sox64, "kinds": {"fullScale"}}),
            ("up.wav", [], 0, {**none, "overs": len(overs), "highest": round(20 * math.log10(max(overs)), 2)}),
            ("up.wav", ["--true-peak-limit", "-1"], 3, {**none, "overs": len(overs)}),
        ]
        self.assertTrue(clip16_runs and sox16 and sox24 and sox64)
        for name, options, status, expected in cases:
            with self.subTest(name=name, options=options):
                code, clipping = check(d, name, *options)
                self.assertEqual(code, status, clipping if isinstance(clipping, str) else clipping["longest"])
                self.assertEqual({run["kind"] for run in clipping["runs"]}, expected["kinds"])
                if "runs" in expected:
                    self.assertEqual(runs_of(clipping), expected["runs"])
                if "samples" in expected:
                    self.assertEqual(sum(run["length"] for run in clipping["runs"]), expected["samples"])
                for side in ("positive", "negative"):
                    if side in expected:
                        self.assertEqual(clipping["ceiling"][side] is not None, expected[side], side)
                if "overs" in expected:
                    self.assertEqual(clipping["overs"]["samples"], expected["overs"])
                else:
                    self.assertIsNone(clipping["overs"])
                if "highest" in expected:
                    self.assertEqual(clipping["overs"]["highestDbfs"], expected["highest"])


if __name__ == "__main__":
    unittest.main()
