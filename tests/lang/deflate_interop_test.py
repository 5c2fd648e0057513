#!/usr/bin/env python3
"""compress, decompress and checksum against independent implementations:
Python's zlib (raw, zlib and gzip framing) and `gzip -d` decode what
`compress` makes; `decompress` decodes what zlib makes at every level, with
the fixed, Huffman-only and RLE strategies and every window size, gzip files
with optional header fields, and the system's own .gz files; damaged streams
raise invalid-data; digests and HMACs agree with hashlib and hmac on random
data around the block sizes.

Data goes into the script as #{...} literals and comes back as base-16 text,
one printed line per case.

Usage: deflate_interop_test.py PATH-TO-ZUV
"""
import glob
import gzip
import hashlib
import hmac
import os
import random
import shutil
import struct
import subprocess
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zuvtest import ZUV, script, check_that, finish  # noqa: E402

rng = random.Random(26)


def check(name, got, expected):
    """Equality, shown cut to 200 characters: the values are long runs of data."""
    check_that(name, got == expected, f"  expected: {repr(expected)[:200]}\n  got:      {repr(got)[:200]}")


def lit(data):
    return "#{" + data.hex() + "}"


def run_script(lines):
    """Runs the statements, one printed line each; answers the printed lines."""
    path = script("Zuv []\n" + "\n".join(lines) + "\n")
    try:
        # Standard error too: a sanitizer's report is shown with the failure.
        p = subprocess.run([ZUV, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    finally:
        os.unlink(path)
    out = p.stdout.decode("utf-8", "replace").splitlines()
    if p.returncode != 0 or len(out) != len(lines):
        check_that("the script of the cases", False,
                   f"ended with {p.returncode} after {len(out)} of {len(lines)} lines:\n"
                   + p.stdout.decode()[-500:] + p.stderr.decode()[-500:])
        return [""] * len(lines)
    return out


def hex_print(expr):
    return f"print enbase/base {expr} 16"


def unhex(text):
    return bytes.fromhex("".join(text.split()))


# ---- inputs ----
def source_text(limit):
    here = os.path.dirname(os.path.abspath(__file__))
    text = b""
    for path in sorted(glob.glob(os.path.join(here, "*.cases"))):
        with open(path, "rb") as f:
            text += f.read()
        if len(text) >= limit:
            break
    return text[:limit]


TEXT = source_text(60000)
inputs = {
    "empty": b"",
    "one byte": b"x",
    "random 1k": rng.randbytes(1000),
    "random 70k": rng.randbytes(70000),
    "small alphabet 50k": bytes(rng.choice(b"ab") for _ in range(50000)),
    "text": TEXT,
    "gzip magic first": b"\x1f\x8b\x08" + TEXT[:3000],
}
WBITS = {"deflate": -15, "zlib": 15, "gzip": 31}

# ---- compress, read by zlib and gzip -d; and the round trip in zuv ----
lines = []
for data in inputs.values():
    for method in WBITS:
        lines.append(hex_print(f"compress {lit(data)} '{method}"))
        lines.append(f"print equal? {lit(data)} decompress compress {lit(data)} '{method} '{method}")
out = run_script(lines)
k = 0
gzip_tool = shutil.which("gzip")
for name, data in inputs.items():
    for method, wbits in WBITS.items():
        packed = unhex(out[k])
        try:
            check(f"zlib reads compress/{method} of {name}", zlib.decompress(packed, wbits), data)
        except zlib.error as e:
            check(f"zlib reads compress/{method} of {name}", str(e), "")
        if method == "gzip" and gzip_tool:
            p = subprocess.run([gzip_tool, "-dc"], input=packed, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            check(f"gzip -d reads compress/gzip of {name}", (p.returncode, p.stdout), (0, data))
        check(f"round trip {method} of {name}", out[k + 1], "true")
        k += 2

# ---- decompress what zlib makes ----
cases = []  # (name, method, packed, plain)


def zlib_compress(data, level=6, wbits=15, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, wbits, 9, strategy)
    return c.compress(data) + c.flush()


for level in range(10):
    cases.append((f"zlib level {level}", "zlib", zlib_compress(TEXT, level), TEXT))
    cases.append((f"raw level {level} random", "deflate", zlib_compress(inputs["random 1k"], level, -15),
                  inputs["random 1k"]))
for sname, strategy in (("fixed", zlib.Z_FIXED), ("Huffman only", zlib.Z_HUFFMAN_ONLY), ("RLE", zlib.Z_RLE)):
    for data_name in ("text", "small alphabet 50k"):
        data = inputs[data_name]
        cases.append((f"{sname} {data_name}", "zlib", zlib_compress(data, 6, 15, strategy), data))
for wbits in range(9, 16):
    cases.append((f"window bits {wbits}", "zlib", zlib_compress(TEXT, 9, wbits), TEXT))
    cases.append((f"raw window bits {wbits}", "deflate", zlib_compress(TEXT, 9, -wbits), TEXT))
# Flushes in the middle leave empty stored blocks and block boundaries.
c = zlib.compressobj(6, zlib.DEFLATED, 15)
flushed = c.compress(TEXT[:20000]) + c.flush(zlib.Z_SYNC_FLUSH) + c.compress(TEXT[20000:]) + \
    c.flush(zlib.Z_FULL_FLUSH) + c.flush()
cases.append(("sync and full flushes", "zlib", flushed, TEXT))
cases.append(("gzip module", "gzip", gzip.compress(TEXT, 9), TEXT))
cases.append(("empty gzip", "gzip", gzip.compress(b""), b""))


def gzip_member(data, flags, extra=b"", name=b"", comment=b""):
    header = bytes([0x1F, 0x8B, 8, flags]) + struct.pack("<I", 1234567) + bytes([2, 3])
    if flags & 4:
        header += struct.pack("<H", len(extra)) + extra
    if flags & 8:
        header += name + b"\0"
    if flags & 16:
        header += comment + b"\0"
    if flags & 2:
        header += struct.pack("<H", zlib.crc32(header) & 0xFFFF)
    return header + zlib_compress(data, 6, -15) + struct.pack("<II", zlib.crc32(data), len(data))


short = TEXT[:5000]
for fname, flags in (("FNAME", 8), ("FEXTRA", 4), ("FCOMMENT", 16), ("FHCRC", 2), ("all fields", 30)):
    cases.append((f"gzip {fname}", "gzip", gzip_member(short, flags, b"\1\2\3\4", b"file.txt", b"a comment"),
                  short))
system_files = []
candidates = sorted(glob.glob("/usr/share/doc/*/*.gz")) + sorted(glob.glob("/usr/share/man/man1/*.gz"))
for path in candidates[::max(1, len(candidates) // 40)]:
    with open(path, "rb") as f:
        packed = f.read()
    if not 0 < len(packed) < 200000:
        continue
    d = zlib.decompressobj(31)
    try:
        plain = d.decompress(packed) + d.flush()
    except zlib.error:
        continue
    if d.unused_data or not d.eof:
        continue  # more than one member
    system_files.append(path)
    cases.append((f"system file {path}", "gzip", packed, plain))
    if len(system_files) == 8:
        break
check("found system .gz files", len(system_files) > 0, True)

lines = [f"print enbase/base checksum decompress {lit(p)} '{m} 'sha1 16" for _, m, p, _ in cases]
out = run_script(lines)
for (name, _, _, plain), line in zip(cases, out):
    check(f"decompress {name}", line.replace("\n", ""), hashlib.sha1(plain).hexdigest().upper())

# ---- damaged streams raise invalid-data ----
packed_zlib = zlib_compress(TEXT[:8000], 6)
packed_gzip = gzip.compress(TEXT[:8000])
packed_raw = zlib_compress(TEXT[:8000], 6, -15)
stored = zlib_compress(rng.randbytes(300), 0, -15)
# A raw stream of 2 GiB + 1 MiB of zeros: more than a binary! holds. Each
# repeated middle part codes 1 MiB of zeros after zeros, ending byte-aligned.
c = zlib.compressobj(9, zlib.DEFLATED, -15)
zeros = bytes(1 << 20)
first = c.compress(zeros) + c.flush(zlib.Z_SYNC_FLUSH)
middle = c.compress(zeros) + c.flush(zlib.Z_SYNC_FLUSH)
too_big = first + middle * 2048 + c.flush()
damaged = [
    ("raw stream of more than 2 GiB", "deflate", too_big),
    ("zlib cut", "zlib", packed_zlib[:len(packed_zlib) // 2]),
    ("zlib without its trailer", "zlib", packed_zlib[:-4]),
    ("zlib bad Adler-32", "zlib", packed_zlib[:-1] + bytes([packed_zlib[-1] ^ 1])),
    ("gzip cut", "gzip", packed_gzip[:len(packed_gzip) - 12]),
    ("gzip bad CRC-32", "gzip", packed_gzip[:-8] + bytes([packed_gzip[-8] ^ 1]) + packed_gzip[-7:]),
    ("gzip stated size 4 GiB - 1", "gzip", packed_gzip[:-4] + b"\xff\xff\xff\xff"),
    ("gzip stated size one more", "gzip", packed_gzip[:-4] + struct.pack("<I", 8001)),
    ("raw cut", "deflate", packed_raw[:len(packed_raw) // 3]),
    ("stored block with a wrong NLEN", "deflate", stored[:3] + bytes([stored[3] ^ 1]) + stored[4:]),
]
lines = [f"print either error! = type? e: try [decompress {lit(p)} '{m}] [e/id] ['no-error]" for _, m, p in damaged]
out = run_script(lines)
for (name, _, _), line in zip(damaged, out):
    check(f"damaged: {name}", line, "invalid-data")

# ---- digests and HMAC around the block sizes ----
METHODS = ("md5", "sha1", "sha256", "sha384", "sha512")
lines, expected = [], []
for n in (0, 1, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129, 1000):
    data = rng.randbytes(n)
    for m in METHODS:
        lines.append(hex_print(f"checksum {lit(data)} '{m}"))
        expected.append(hashlib.new(m, data).hexdigest().upper())
for key_length in (0, 1, 63, 64, 65, 127, 128, 129, 300):
    key, data = rng.randbytes(key_length), rng.randbytes(rng.randrange(200))
    for m in METHODS:
        lines.append(hex_print(f"checksum/with {lit(data)} '{m} {lit(key)}"))
        expected.append(hmac.new(key, data, m).hexdigest().upper())
data = rng.randbytes(5000)
lines += [f"print checksum {lit(data)} 'crc32", f"print checksum {lit(data)} 'adler32"]
# integer! is 32-bit signed
expected += [str(struct.unpack("<i", struct.pack("<I", f(data)))[0]) for f in (zlib.crc32, zlib.adler32)]
out = run_script(lines)
for i, (line, want) in enumerate(zip(out, expected)):
    check(f"checksum case {i}", line, want)

finish()
