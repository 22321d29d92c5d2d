#!/usr/bin/env python3
# Writes valid archives of two other writers into FOLDER: the seeds of the ZIP reader's fuzz target, and
# archives whose every member its test verifies. Usage: make_seeds.py FOLDER
import os, random, subprocess, sys, zipfile

files = os.path.join(os.path.abspath(sys.argv[1]), "files")
data = {"empty.jpg": b"", "noise.jpg": random.Random(1).randbytes(3000), "text.bmp": b"a picture " * 700}
os.makedirs(files)
with zipfile.ZipFile(os.path.join(files, "../python.zip"), "w", zipfile.ZIP_DEFLATED) as archive:
    for name, contents in data.items():
        archive.writestr(name, contents, zipfile.ZIP_STORED if name == "noise.jpg" else None)
        open(os.path.join(files, name), "wb").write(contents)
    archive.comment = b"PK\5\6 in a comment"
# Written to a pipe, so each member is followed by a data descriptor.
subprocess.run("zip -q -X - * | cat >../infozip-streamed.zip && rm -r ../files", shell=True, check=True, cwd=files)
