"""The clipping picture as browsers and viewers get it: well-formed XML that
rsvg-convert renders without a word, filled only where the audio clips.

The picture is the one ClipPlotSvg.StretchesLieWithinTheClippedTimes makes (ten
seconds, clipping at 9 dB and below from 4 s to 6 s only), written out by the
unit-test program."""

import os
import shutil
import struct
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
import zlib

SVG = "{http://www.w3.org/2000/svg}"
SECONDS = 10.0
CLIPPED_FROM, CLIPPED_TO = 4.0, 6.0
STRIP_BACKGROUND = (0xEE, 0xF0, 0xF3)


def read_png(path):
    """Width, height and rows of RGBA pixels of an 8-bit, non-interlaced PNG."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    position, idat = 8, b""
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and interlace == 0, "only 8-bit non-interlaced PNG is read here"
            channels = {2: 3, 6: 4}[colour]
        elif kind == b"IDAT":
            idat += body
        position += 12 + length
    raw, stride, rows, previous = zlib.decompress(idat), width * channels, [], bytearray(width * channels)
    for row in range(height):
        start = row * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up, corner = previous[i], previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                estimate = left + up - corner
                distances = (abs(estimate - left), abs(estimate - up), abs(estimate - corner))
                line[i] = (line[i] + (left, up, corner)[distances.index(min(distances))]) & 0xFF
        rows.append([tuple(line[i:i + 3]) for i in range(0, stride, channels)])
        previous = line
    return width, height, rows


def colour(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


def near(pixel, expected):
    return all(abs(a - b) <= 2 for a, b in zip(pixel, expected))


class ClipPlotTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        unit_tests = os.environ.get("TARVELLE_UNIT_TESTS")
        if not unit_tests:
            raise AssertionError("TARVELLE_UNIT_TESTS is not set: the unit-test program (GoogleTest) was not built")
        cls.folder = tempfile.TemporaryDirectory()
        cls.svg = os.path.join(cls.folder.name, "take clipping.svg")
        subprocess.run([unit_tests, "--gtest_filter=ClipPlotSvg.StretchesLieWithinTheClippedTimes"],
                       env=dict(os.environ, TARVELLE_PLOT_SVG=cls.svg), check=True, capture_output=True, timeout=120)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_well_formed_and_self_contained(self):
        root = ElementTree.parse(self.svg).getroot()
        self.assertEqual(root.tag, SVG + "svg")
        for element in root.iter():
            self.assertNotIn(element.tag, (SVG + "script", SVG + "image", SVG + "foreignObject", SVG + "style"))
            self.assertFalse([name for name in element.attrib if "href" in name], element.tag)

    def test_rendered_filled_only_where_clipped(self):
        png = os.path.join(self.folder.name, "take clipping.png")
        rsvg = os.environ.get("TARVELLE_RSVG_CONVERT") or shutil.which("rsvg-convert")
        result = subprocess.run([rsvg, "-o", png, self.svg], capture_output=True, text=True, timeout=120)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
        _, _, pixels = read_png(png)

        root = ElementTree.parse(self.svg).getroot()
        for level in (3, 6, 9, 12, 15, 18):
            with self.subTest(level=level):
                strip = root.find(f".//{SVG}g[@id='clipping-{level}dB']")
                background = strip.find(SVG + "rect")
                left, top = float(background.get("x")), float(background.get("y"))
                width, height = float(background.get("width")), float(background.get("height"))
                row = pixels[int(top + height / 2)]
                self.assertTrue(near(row[int(left + 2)], STRIP_BACKGROUND))
                filled = [x for x in range(int(left), int(left + width)) if near(row[x], colour(strip.get("fill")))]
                for x in filled:
                    # A pixel's worth either side for the edges of a column.
                    seconds = (x - left) / width * SECONDS
                    self.assertGreaterEqual(seconds, CLIPPED_FROM - SECONDS / width)
                    self.assertLessEqual(seconds, CLIPPED_TO + SECONDS / width)
                if level <= 6:
                    self.assertEqual(filled, [])
                else:
                    # Filled through the middle of the burst, where every column clips.
                    middle = int(left + width * (CLIPPED_FROM + CLIPPED_TO) / 2 / SECONDS)
                    self.assertIn(middle, filled)


if __name__ == "__main__":
    unittest.main()
