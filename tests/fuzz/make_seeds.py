#!/usr/bin/env python3
"""Writes small valid ZIP archives into a folder: the seed corpus of the ZIP reader's fuzz target and the
inputs of its regression test. Every archive made here is valid, so each member must verify.

Usage: make_seeds.py FOLDER
"""
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib


def sample_bytes(seed, size):
    rng = random.Random(seed)
    words = [b"IMG", b"0001", b"photo", b"camera", b"\x00\xff", b"JFIF"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) if rng.random() < 0.7 else bytes([rng.randrange(256)])
    return bytes(out[:size])


def python_archive(compression, members, comment=b""):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as archive:
        for name, data in members:
            info = zipfile.ZipInfo(name, (2024, 5, 1, 12, 0, 0))
            info.compress_type = compression
            if comment:
                info.comment = b"member comment"
            archive.writestr(info, data)
        archive.comment = comment
    return buffer.getvalue()


class Unseekable(io.RawIOBase):
    """A stream the writer can't seek back in, so it writes data descriptors after each member."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, chunk):
        self.data += chunk
        return len(chunk)


def streamed_archive(members):
    stream = Unseekable()
    with zipfile.ZipFile(stream, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in members:
            archive.writestr(name, data)
    return bytes(stream.data)


def own_layout_archive(members):
    """Laid out byte by byte the way Tovaro's writer does: version made by 0x0B17, the extended timestamp
    extra field in both headers, flags 0x0002 on deflated members."""
    local_part = bytearray()
    central = bytearray()
    for name, data, method in members:
        if method == 8:
            compressor = zlib.compressobj(8, zlib.DEFLATED, -15, 8)
            payload = compressor.compress(data) + compressor.flush()
            flags = 0x0002
        else:
            payload, flags = data, 0
        crc = zlib.crc32(data)
        offset = len(local_part)
        local_extra = struct.pack("<HHBIII", 0x5455, 13, 7, 1700000000, 1700000000, 1700000000)
        central_extra = struct.pack("<HHBI", 0x5455, 5, 7, 1700000000)
        local_part += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0x6000, 0x5B85, crc,
                                  len(payload), len(data), len(name), len(local_extra))
        local_part += name + local_extra + payload
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x0B17, 20, flags, method, 0x6000, 0x5B85,
                               crc, len(payload), len(data), len(name), len(central_extra), 0, 0, 0,
                               0x81800020, offset)
        central += name + central_extra
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central),
                      len(local_part), 0)
    return bytes(local_part + central + end)


def info_zip_archives(folder):
    """Archives from the zip command, stored and deflated, when it is installed."""
    if shutil.which("zip") is None:
        return {}
    made = {}
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "IMG_0001.JPG"), "wb") as f:
            f.write(sample_bytes(7, 1500))
        with open(os.path.join(work, "empty.jpg"), "wb") as f:
            pass
        for label, options in (("infozip-deflated", ["-q"]), ("infozip-stored", ["-q", "-0"])):
            target = os.path.join(work, label + ".zip")
            subprocess.run(["zip"] + options + ["-X", target, "IMG_0001.JPG", "empty.jpg"], cwd=work, check=True)
            with open(target, "rb") as f:
                made[label] = f.read()
    return made


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    text = b"a picture of a picture " * 40
    noise = sample_bytes(1, 700)
    seeds = {
        "empty": python_archive(zipfile.ZIP_STORED, []),
        "stored": python_archive(zipfile.ZIP_STORED, [("a.jpg", noise), ("empty.jpg", b"")]),
        "deflated": python_archive(zipfile.ZIP_DEFLATED, [("dir/b.jpg", text), ("c.jpg", noise), ("e.jpg", b"")]),
        "comment": python_archive(zipfile.ZIP_DEFLATED, [("x.bmp", text)], comment=b"PK\x05\x06 in a comment"),
        "streamed": streamed_archive([("s.jpg", text), ("t.jpg", noise)]),
        "own-layout": own_layout_archive([(b"/media/card/a.jpg", b"", 8), (b"/media/card/b.zip", noise[:300], 0),
                                          (b"/media/card/c.jpg", text, 8)]),
    }
    seeds.update(info_zip_archives(folder))
    for label, data in seeds.items():
        with open(os.path.join(folder, label + ".zip"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
