"""Writes the seed corpora: small WAV files in the layouts other programs
write, and the byte sequences terminals send for keys.

    python3 make_seeds.py OUTPUT_FOLDER
"""

import os
import struct
import sys

AUDIO = struct.pack("<6h", 1000, -2000, 30000, -32768, 5, -5)
PCM_GUID = bytes.fromhex("0100000000001000800000aa00389b71")


def chunk(tag, body, size=None):
    pad = b"\0" if len(body) % 2 else b""
    return tag + struct.pack("<I", len(body) if size is None else size) + body + pad


def fmt(size=16, tag=1):
    body = struct.pack("<HHIIHH", tag, 2, 44100, 176400, 4, 16)
    if size >= 18:
        body += struct.pack("<H", size - 18)
    if size == 40:
        body += struct.pack("<HI", 16, 3) + PCM_GUID
    return body


def wave(*chunks, riff=b"RIFF", riff_size=None):
    body = b"WAVE" + b"".join(chunks)
    return riff + struct.pack("<I", len(body) if riff_size is None else riff_size) + body


def ds64(data_size):
    return struct.pack("<QQQI", 0, data_size, data_size // 4, 0)


WAVES = {
    "canonical": wave(chunk(b"fmt ", fmt()), chunk(b"data", AUDIO)),
    "junk_first": wave(chunk(b"JUNK", bytes(28)), chunk(b"fmt ", fmt()), chunk(b"data", AUDIO)),
    "bext_ixml": wave(chunk(b"bext", bytes(64)), chunk(b"iXML", b"<BWFXML/>"), chunk(b"fmt ", fmt()),
                      chunk(b"data", AUDIO)),
    "list_between": wave(chunk(b"fmt ", fmt()), chunk(b"LIST", b"INFOISFT\x05\0\0\0Lavf\0"), chunk(b"data", AUDIO)),
    "fmt18_fact": wave(chunk(b"fmt ", fmt(18)), chunk(b"fact", struct.pack("<I", 3)), chunk(b"data", AUDIO)),
    "extensible": wave(chunk(b"fmt ", fmt(40, 0xFFFE)), chunk(b"fact", struct.pack("<I", 3)), chunk(b"data", AUDIO)),
    "data_first": wave(chunk(b"data", AUDIO), chunk(b"fmt ", fmt()), chunk(b"smpl", bytes(9))),
    "pipe": wave(chunk(b"fmt ", fmt()), chunk(b"LIST", bytes(4)), b"data\xff\xff\xff\xff" + AUDIO,
                 riff_size=0xFFFFFFFF),
    "rf64": wave(chunk(b"ds64", ds64(len(AUDIO))), chunk(b"fmt ", fmt()), b"data\xff\xff\xff\xff" + AUDIO,
                 riff=b"RF64", riff_size=0xFFFFFFFF),
    "truncated": wave(chunk(b"JUNK", bytes(4)), chunk(b"fmt ", fmt()), b"dat"),
}

KEYS = {
    "text": b"take 1.wav\r",
    "crlf": b"a\r\nb\n",
    "backspace": b"ab\x7f\x08c",
    "cursor_keys": b"\x1b[A\x1b[B\x1b[1;5C\x1bOP",
    "alt_and_esc": b"\x1bx\x1b",
    "utf8": "Aufnahme Straße 東京 🎧".encode(),
    "broken_utf8": b"\xc3\x28\xe2\x82\xf0\x9f\x8e",
}


def main():
    out = sys.argv[1]
    for folder, seeds in (("wave_header", WAVES), ("key_decoder", KEYS)):
        os.makedirs(os.path.join(out, folder), exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(out, folder, name), "wb") as seed:
                seed.write(data)


if __name__ == "__main__":
    main()
