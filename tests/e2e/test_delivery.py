"""Delivery profiles end to end: one table of generated files, each failing one check (or, for the short-term
loudness and the loudness range, the profiles that set them), and one passing all, against each profile; the
options that make and refuse profiles."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import wave

from tmux_screen import binary_path

try:
    import numpy
except ImportError:
    numpy = None

RATE, FULL = 48000, 8388607
PROFILES = {"ebu-r128": -23, "ebu-r128-s1": -23, "atsc-a85": -24, "streaming": -14, "podcast": -16, "house": -20}
HOUSE = "# a house profile\nname = house\ntarget = -20  # LUFS\ntolerance = 1\nmax-true-peak = -2\nmax-lra = 10\n"


def base(seconds=8):
    """Two channels of steady tones, unlike each other."""
    t = numpy.arange(RATE * seconds) / RATE
    tone = lambda a, b: numpy.sin(2 * numpy.pi * a * t) + 0.5 * numpy.sin(2 * numpy.pi * b * t)
    return numpy.stack([tone(440, 1000), tone(550, 1300)], axis=1) * 0.1


def changed(where, factor, seconds=8):
    """The tones with a part of them multiplied by factor (a right channel made from the left one's)."""
    samples = base(seconds)
    samples[where] = factor(samples) if callable(factor) else samples[where] * factor
    return samples


# name: (shape, done after the loudness is set: a gain in dB or samples changed, the checks it fails by profile)
CASES = {
    "pass": (base, None, {}),
    "loud": (base, 3.0, {"*": {"integrated"}}),
    "spike": (base, lambda s: s.__setitem__((RATE * 5, 0), 0.95), {"*": {"true-peak"}}),
    "clipped": (base, lambda s: s.__setitem__((slice(RATE * 5, RATE * 5 + 10), 0), 1.0),
                {"*": {"clipping", "true-peak"}}),
    "head": (lambda: changed(slice(0, 3 * RATE), 0), None, {"*": {"head-silence"}}),
    "tail": (lambda: changed(slice(-3 * RATE, None), 0), None, {"*": {"tail-silence"}}),
    "empty": (lambda: changed((slice(None), 1), 0), None, {"*": {"empty-channel"}}),
    "copied": (lambda: changed((slice(None), 1), lambda s: s[:, 0]), None, {"*": {"copied-channel"}}),
    "phase": (lambda: changed((slice(None), 1), lambda s: -s[:, 0]), None, {"*": {"opposite-phase"}}),
    "dc": (lambda: base() + 0.02, None, {"*": {"dc-offset"}}),
    # Short against the rest, so that the integrated loudness stays near the rest's.
    "section": (lambda: changed(slice(6 * RATE, int(9.5 * RATE)), 10 ** (14 / 20), 20), None,
                {"ebu-r128-s1": {"short-term"}, "house": {"lra"}}),
}


def write(path, samples):
    values = numpy.round(numpy.clip(samples, -1, 1) * FULL).astype("<i4")
    with wave.open(path, "wb") as file:
        file.setnchannels(2)
        file.setsampwidth(3)
        file.setframerate(RATE)
        file.writeframes(values.view(numpy.uint8).reshape(-1, 4)[:, :3].tobytes())


def run(*arguments, cwd):
    return subprocess.run([binary_path(), *arguments], cwd=cwd, capture_output=True, text=True)


def json_lines(completed):
    return [json.loads(line) for line in completed.stdout.splitlines()]


@unittest.skipUnless(numpy is not None, "needs numpy (Debian: python3-numpy)")
class DeliveryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp()
        cls.addClassCleanup(shutil.rmtree, cls.dir)
        with open(os.path.join(cls.dir, "house.txt"), "w") as file:
            file.write(HOUSE)
        shapes = {name: shape() for name, (shape, _, _) in CASES.items()}
        for name, samples in shapes.items():
            write(os.path.join(cls.dir, name + ".wav"), samples)
        measured = json_lines(run("--loudness", "--json", *(name + ".wav" for name in CASES), cwd=cls.dir))
        for profile, target in PROFILES.items():
            os.mkdir(os.path.join(cls.dir, profile))
            for (name, (_, after, _)), found in zip(CASES.items(), measured):
                samples = shapes[name] * 10 ** ((target - found["integratedLufs"]) / 20)
                if isinstance(after, float):
                    samples *= 10 ** (after / 20)
                elif after:
                    after(samples)
                write(os.path.join(cls.dir, profile, name + ".wav"), samples)

    def profile_arguments(self, profile):
        return ["--spec", "house.txt"] if profile == "house" else ["--deliver", profile]

    def test_each_file_fails_its_check_against_each_profile(self):
        for profile in PROFILES:
            with self.subTest(profile=profile):
                names = [os.path.join(profile, name + ".wav") for name in CASES]
                completed = run(*self.profile_arguments(profile), "--json", *names, cwd=self.dir)
                self.assertEqual(completed.returncode, 3, completed.stderr)
                for name, result in zip(CASES, json_lines(completed)):
                    expected = CASES[name][2]
                    expected = expected.get(profile, expected.get("*", set()))
                    delivery = result["delivery"]
                    failed = {check["name"] for check in delivery["checks"] if not check["pass"]}
                    self.assertEqual((name, failed), (name, expected))
                    self.assertEqual(delivery["pass"], not expected)
                    self.assertEqual(delivery["profile"], profile)
                    self.assertEqual(delivery["limits"]["target"], PROFILES[profile])

    def test_lines_and_exit_status(self):
        passed = run("--deliver", "ebu-r128", "ebu-r128/pass.wav", cwd=self.dir)
        self.assertEqual(passed.returncode, 0, passed.stderr)
        self.assertRegex(passed.stdout, r"^ebu-r128/pass\.wav: PASS  -23\.0 LUFS, -\d+\.\d dBTP, LRA 0\.0 LU\n$")
        failed = run("--deliver", "ebu-r128", "ebu-r128/head.wav", "ebu-r128/loud.wav", "ebu-r128/empty.wav",
                     cwd=self.dir)
        self.assertEqual(failed.returncode, 3)
        self.assertEqual(failed.stdout.splitlines(), [
            "ebu-r128/head.wav: FAIL  silence at the head 3.0 s (max 2 s)",
            "ebu-r128/loud.wav: FAIL  -20.0 LUFS (target -23 ±0.5)",
            "ebu-r128/empty.wav: FAIL  right channel empty"])

    def test_labels_and_picture_of_each_problem(self):
        completed = run("--deliver", "ebu-r128-s1", "--labels", "--plot", "ebu-r128-s1/section.wav", "ebu-r128-s1/head.wav",
                        cwd=self.dir)
        self.assertEqual(completed.returncode, 3, completed.stderr)
        for name, pattern, start, end in [
                ("section", r"short-term loudness up to -1[0-7]\.\d LUFS \(max -18\)", (3.0, 6.0), (9.5, 12.5)),
                ("head", r"silence at the head 3\.0 s \(max 2 s\)", (0.0, 0.0), (3.0, 3.01))]:
            with open(os.path.join(self.dir, "ebu-r128-s1", name + " delivery labels.txt")) as file:
                [line] = file.read().splitlines()
            first, last, text = line.split("\t")
            self.assertRegex(text, "^" + pattern + "$")
            self.assertTrue(start[0] <= float(first) <= start[1] and end[0] <= float(last) <= end[1], line)
            with open(os.path.join(self.dir, "ebu-r128-s1", name + " clipping.svg")) as file:
                marks = set(re.findall(r'(?:id|class)="(delivery-[\w-]+)"', file.read()))
            self.assertEqual(marks, {"delivery-target", "delivery-max-short-term", "delivery-true-peak"} |
                             ({"delivery-head-silence"} if name == "head" else set()))

    def test_options_make_override_and_refuse_profiles(self):
        cases = [
            (["--deliver", "podcast", "--max-silence", "4", "podcast/head.wav"], 0, ""),
            (["--target", "-23", "--tolerance", "0.2", "ebu-r128/pass.wav"], 0, ""),
            (["--deliver", "ebu-r128", "--max-dc-offset", "off", "ebu-r128/dc.wav"], 0, ""),
            (["--deliver", "nope", "pass.wav"], 2, "no delivery profile named 'nope' (there are ebu-r128, "),
            (["--tolerance", "1", "pass.wav"], 2, "option '--tolerance' goes with a target"),
            (["--deliver", "ebu-r128", "--max-lra", "loud", "pass.wav"], 2,
             "option '--max-lra' takes LU from 0 to 100, or off"),
            (["--spec", "bad.txt", "pass.wav"], 2, "bad.txt: line 3: 'target' takes LUFS from -70 to 0"),
            (["--spec", "none.txt", "pass.wav"], 2, "none.txt: No such file"),
            (["--deliver", "ebu-r128", "--true-peak-limit", "-1", "pass.wav"], 2, "does not go with a delivery"),
        ]
        with open(os.path.join(self.dir, "bad.txt"), "w") as file:
            file.write("# house\n\ntarget = -100\n")
        for arguments, status, message in cases:
            with self.subTest(arguments=arguments):
                completed = run(*arguments, cwd=self.dir)
                self.assertEqual(completed.returncode, status, completed.stderr)
                self.assertIn(message, completed.stderr)


if __name__ == "__main__":
    unittest.main()
