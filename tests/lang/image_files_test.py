#!/usr/bin/env python3
"""Images saved and loaded as files through the codecs, by suffix; the files
our encoders write are checked by the image libraries' own tools.

Usage: image_files_test.py PATH-TO-ZUV
The tools: pngcheck, djpeg, giftext, tiffinfo (libpng's, libjpeg-turbo's,
giflib's and libtiff's packages) and netpbm's bmptopnm.
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zuvtest import check, finish  # noqa: E402
ZUV = sys.argv[1]


def run(script, cwd):
    path = os.path.join(cwd, "t.zuv")
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zuv []\n" + script)
    p = subprocess.run([ZUV, path], cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    return p.stdout.decode("utf-8", "replace")


def tool(name, args, cwd):
    """Runs a checking tool: its exit status and what it said on standard error."""
    p = subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    return p.returncode, p.stderr.decode("utf-8", "replace")


d = tempfile.mkdtemp(prefix="zuv-images-")
try:
    # 3 x 2 pixels with alpha 255 and 0 only (GIF keeps one transparent colour),
    # saved in every format; each comes back equal but JPEG, which is opaque.
    check("save and load", run("""
i: make image! [3x2 #{FF000000FF000000FF102030405060708090} #{0000FF000000}]
foreach name [%x.png %x.bmp %x.gif %x.tif %x.tiff] [
    save name i
    print [name equal? i load name]
]
save %x.jpg i
j: load %x.jpg
print [j/size j/alpha]
save %x.txt i
print read %x.txt
""", d), "x.png true\nx.bmp true\nx.gif true\nx.tif true\nx.tiff true\n3x2 #{000000000000}\n"
         "make image! [3x2 #{FF000000FF000000FF102030405060708090} #{\n    0000FF000000\n}]\n")

    # The walks over the codecs keep their loop words to themselves.
    check("own words", run("""
name: codec: 'mine
i: make image! 1x1
save %y.png i
load %y.png
print [name codec]
""", d), "mine mine\n")

    # Every suffix in any letter case picks its codec.
    for name in ["x.PNG", "x.jpe", "x.jpeg", "x.jfif", "x.TIF"]:
        source = os.path.join(d, {"x.PNG": "x.png", "x.TIF": "x.tif"}.get(name, "x.jpg"))
        if os.path.exists(source):
            shutil.copy(source, os.path.join(d, name))
    check("suffixes", run("""
foreach name [%x.PNG %x.jpe %x.jpeg %x.jfif %x.TIF] [print [name image? load name]]
""", d), "x.PNG true\nx.jpe true\nx.jpeg true\nx.jfif true\nx.TIF true\n")

    # The libraries' own tools take every file we wrote.
    checks = {
        "x.png": ["pngcheck", "-q", "x.png"],
        "x.jpg": ["djpeg", "-outfile", os.devnull, "x.jpg"],
        "x.gif": ["giftext", "x.gif"],
        "x.tif": ["tiffinfo", "-D", "x.tif"],
        "x.bmp": ["bmptopnm", "x.bmp"],
    }
    for name, args in checks.items():
        if not os.path.exists(os.path.join(d, name)):
            check(f"{name} written", False, True)
            continue
        status, errors = tool(name, args, d)
        # bmptopnm describes the file on standard error; the others say nothing.
        check(f"{args[0]} {name}", (status, errors if args[0] != "bmptopnm" else ""), (0, ""))

    # A file that does not decode, and one that is not there.
    with open(os.path.join(d, "bad.png"), "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + b"\0" * 20)
    check("errors", run("""
foreach name [%bad.png %none.gif] [e: try [load name] print [e/type e/id]]
""", d), "access cannot-open\naccess cannot-open\n")
finally:
    shutil.rmtree(d)

finish()
