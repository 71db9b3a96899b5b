"""The picture of a run (ten seconds, clipping at 9 dB and below from 4 s to 6 s, at 3 and 6 dB only at 5 s):
well-formed XML that rsvg-convert renders without a word, filled only where the audio clips; with the loudness,
its lane and the true peak over 0 dBTP at 5 s marked."""

import math
import os
import struct
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
import zlib
from pathlib import Path

from tmux_screen import binary_path, write_wav

SVG = "{http://www.w3.org/2000/svg}"
SECONDS, CLIPPED_FROM, CLIPPED_TO = 10.0, 4.0, 6.0


def png_rows(path):
    """Rows of RGB pixels of an 8-bit RGB or RGBA, non-interlaced PNG, as rsvg-convert writes them."""
    data, position, idat = Path(path).read_bytes(), 8, b""
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", data[position + 8:position + 21])
            assert depth == 8 and colour in (2, 6) and interlace == 0
            size = 3 if colour == 2 else 4
        idat += data[position + 8:position + 8 + length] if kind == b"IDAT" else b""
        position += 12 + length
    raw, stride, rows, previous = zlib.decompress(idat), width * size, [], bytearray(width * size)
    for row in range(height):
        kind, line = raw[row * (stride + 1)], bytearray(raw[row * (stride + 1) + 1:(row + 1) * (stride + 1)])
        for i in range(stride):
            left, up, corner = (line[i - size], previous[i], previous[i - size]) if i >= size else (0, previous[i], 0)
            if kind == 4:  # Paeth: the neighbour nearest left + up - corner, ties in that order
                guess = left + up - corner
                left = min((left, up, corner), key=lambda value: abs(guess - value))
            line[i] = (line[i] + (0, left, up, (left + up) // 2, left)[kind]) & 0xFF
        rows.append([tuple(line[i:i + 3]) for i in range(0, stride, size)])
        previous = line
    return rows


def near(pixel, colour):
    return all(abs(a - int(colour[i:i + 2], 16)) <= 2 for a, i in zip(pixel, (1, 3, 5)))


def burst(spike, rate=8000):
    """Quiet but for a 50 Hz burst from 4 s to 6 s over the 9 dB threshold and a spike at 5 s, the peak."""
    samples = []
    for frame in range(int(SECONDS * rate)):
        loud = CLIPPED_FROM * rate <= frame < CLIPPED_TO * rate
        value = round((12000 if loud else 2000) * math.sin(2 * math.pi * 50 * frame / rate))
        samples += [spike[frame - 5 * rate] if 0 <= frame - 5 * rate < len(spike) else value, 0]
    return samples


class ClipPlotTest(unittest.TestCase):
    def test_rendered_and_filled_only_where_clipped(self):
        # Two full-scale samples side by side: a true peak over 0 dBTP between them.
        for options, spike in (([], [30000]), (["--loudness"], [32767, 32767])):
            with self.subTest(options=options):
                root, rows = self.render(options, spike)
                self.check_strips(root, rows)
                lane = root.find(f".//{SVG}g[@id='loudness-lane']")
                self.assertEqual(lane is None, not options)
                if options:
                    self.check_loudness(root, rows)

    def render(self, options, spike):
        with tempfile.TemporaryDirectory() as folder:
            write_wav(os.path.join(folder, "take.wav"), burst(spike), sample_rate=8000)
            run = subprocess.run([binary_path(), "--plot", "--reports-only", *options, "take.wav"], cwd=folder,
                                 capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=120)
            self.assertEqual(run.returncode, 0, run.stderr)
            svg, png = os.path.join(folder, "take clipping.svg"), os.path.join(folder, "take clipping.png")
            root = ElementTree.parse(svg).getroot()
            self.assertEqual([element.tag for element in root.iter() if element.tag in (SVG + "script", SVG + "image")
                              or any("href" in name for name in element.attrib)], [])
            result = subprocess.run(["rsvg-convert", "-o", png, svg], capture_output=True, text=True, timeout=120)
            self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
            return root, png_rows(png)

    def check_loudness(self, root, rows):
        lane = root.find(f".//{SVG}g[@id='loudness-lane']")
        background = lane.find(SVG + "rect")
        left, top = float(background.get("x")), float(background.get("y"))
        width, height = float(background.get("width")), float(background.get("height"))
        # The short-term curve drawn inside the lane, louder over the burst than before it.
        curve = lane.find(f"{SVG}path[@id='short-term']")
        band = [row[int(left + width * 5 / SECONDS)] for row in rows[int(top):int(top + height)]]
        self.assertTrue(any(near(pixel, curve.get("stroke")) for pixel in band))
        points = [tuple(map(float, point.split())) for point in curve.get("d")[1:].split("L")]
        at = lambda seconds: min(points, key=lambda point: abs(point[0] - (left + width * seconds / SECONDS)))[1]
        self.assertLess(at(5), at(2))
        overs = root.find(f".//{SVG}g[@id='true-peak-overs-1']")
        marks = [float(rect.get("x")) for rect in overs.iter(SVG + "rect")]
        self.assertTrue(marks and all(4.9 <= (x - left) / width * SECONDS <= 5.1 for x in marks), marks)
        self.assertEqual(list(root.find(f".//{SVG}g[@id='true-peak-overs-2']").iter(SVG + "rect")), [])
        mark = overs.find(SVG + "rect")
        row = rows[int(float(mark.get("y")) + 2)]
        self.assertTrue(any(near(row[x], overs.get("fill")) for x in range(int(marks[0]), int(marks[0]) + 3)))

    def check_strips(self, root, rows):
        for level in (3, 6, 9, 12, 15, 18):
            strip = root.find(f".//{SVG}g[@id='clipping-{level}dB']")
            background = strip.find(SVG + "rect")
            left, width = float(background.get("x")), float(background.get("width"))
            row = rows[int(float(background.get("y")) + float(background.get("height")) / 2)]
            self.assertTrue(near(row[int(left) + 2], background.get("fill")), level)
            filled = [x for x in range(int(left), int(left + width)) if near(row[x], strip.get("fill"))]
            times = [(x - left) / width * SECONDS for x in filled]  # a pixel's leeway at either edge
            self.assertEqual([t for t in times if not CLIPPED_FROM - 0.01 <= t <= CLIPPED_TO + 0.01], [], level)
            # At 3 and 6 dB only the spike at 5 s; at 9 dB and below the burst around it.
            quarter = int(left + width * (3 * CLIPPED_FROM + CLIPPED_TO) / 4 / SECONDS)
            self.assertEqual(quarter in filled, level >= 9, level)
            self.assertTrue(all(4.99 <= t <= 5.01 for t in times) or level >= 9, level)
            for title in strip.iter(SVG + "title"):
                start, end = (float(time.split(":")[1]) for time in title.text.split(",")[0].split(" \u2013 "))
                self.assertTrue(CLIPPED_FROM <= start < end <= CLIPPED_TO, title.text)


if __name__ == "__main__":
    unittest.main()
