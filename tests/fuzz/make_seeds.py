#!/usr/bin/env python3
# Writes the seeds of a fuzz target into FOLDER, made afresh by real writers: make_seeds.py FOLDER [TARGET]
#   zipreader (the default): archives of two other writers, which the ZIP reader's test also verifies whole
#   capturedate, settings, naming: inputs of the other targets of tests/fuzz, made likewise (exiv2 writes the
#   pictures' capture dates, tovaro-cli, given as TOVARO_CLI, the settings file)
import os, random, struct, subprocess, sys

target = sys.argv[2] if len(sys.argv) > 2 else "zipreader"
os.makedirs(sys.argv[1], exist_ok=True)
os.chdir(sys.argv[1])
put = lambda name, data: open(name, "wb").write(data)
run = lambda command: subprocess.run(command, shell=True, check=True)

if target == "zipreader":
    import zipfile
    data = {"empty.jpg": b"", "noise.jpg": random.Random(1).randbytes(3000), "text.bmp": b"a picture " * 700}
    os.makedirs("files")
    with zipfile.ZipFile("python.zip", "w", zipfile.ZIP_DEFLATED) as archive:
        for name, contents in data.items():
            archive.writestr(name, contents, zipfile.ZIP_STORED if name == "noise.jpg" else None)
            put("files/" + name, contents)
        archive.comment = b"PK\5\6 in a comment"
    # Written to a pipe, so each member is followed by a data descriptor.
    run("cd files && zip -q -X - * | cat >../infozip-streamed.zip && cd .. && rm -r files")
elif target == "capturedate":
    # The first byte chooses the extension as CaptureDateFuzz.cpp numbers them.
    put("0", b"\xff\xd8\xff\xd9")
    put("5", b"II*\0\x10\0\0\0CR\x02\0" + bytes(9))
    run("exiv2 -M'set Exif.Photo.DateTimeOriginal 2021:06:15 12:00:00' 0 5")
    box = lambda kind, data: struct.pack(">I", 8 + len(data)) + kind + data
    chunk = lambda kind, data: kind + struct.pack("<I", len(data)) + data
    avi = b"AVI " + chunk(b"LIST", b"hdrl" + chunk(b"avih", bytes(56)) + chunk(b"IDIT", b"THU OCT 26 16:46:04 2006\n\0"))
    seeds = {"14": box(b"ftyp", b"qt  " * 2) + box(b"moov", box(b"mvhd", struct.pack(">III", 0, 3790000000, 0))),
             "15": b"RIFF" + struct.pack("<I", len(avi)) + avi}
    for name in ["0", "5"]:
        seeds[name] = open(name, "rb").read()
    for name, data in seeds.items():
        put(name, bytes([int(name)]) + data)
elif target == "settings":
    # A key, a value and a settings file that tovaro-cli wrote, as it is and altered.
    put("IMG_0001.JPG", b"")
    run('"$TOVARO_CLI" --from . --to .. --number=41 --settings s >/dev/null')
    written = open("s", "rb").read() + b"fromdir=/media/card\n"
    run("rm s ../IMG_0001*")
    put("counter", b"counter\x0042\0" + written)
    put("crlf", b"todir\0/home/me/Pictures\0" + written.replace(b"\n", b"\r\n"))
    put("bom", b"Counter\0 7\0\xef\xbb\xbf; mine\n[other]\ncounter=1\n[Settings]\n todir = x \n")
else:
    # naming: an option, a camera file's name, and the texts of the options.
    put("text", b"\1IMG_0001.JPG\0Trip/2026\\Beach\0\0\0")
    put("number", b"\3IMG_0002.jpeg\0\0\0\x0041")
    put("rename", b"\4IMG_0003.JPG\0\0IMG_0003\0..\0")
