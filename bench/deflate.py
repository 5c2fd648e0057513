#!/usr/bin/env python3
"""DEFLATE and digests: zuv's compress and decompress against zlib (through
Python's zlib module, levels 1 and 6), and zuv's checksum against hashlib
and zlib's CRC-32 and Adler-32, on 1 MB of text and 1 MB of random bytes.

Speeds are plain megabytes per CPU second. zuv's decompress decodes twice
(it measures the size first, then decodes into a binary! of that size);
zlib stores random bytes as stored blocks, which it only copies.
A zuv run loads the data as a #{...} literal; a run that only loads it is
timed too and taken off. Ratios are compressed size / plain size. zuv's
coder writes one fixed-code block with a 4-candidate match search, so its
ratio trails zlib's on text by design. A benchmark, not a test: it always
exits 0.

Usage: deflate.py PATH-TO-ZUV [RUNS]   (a Release build)
"""
import glob
import hashlib
import os
import random
import resource
import subprocess
import sys
import tempfile
import time
import zlib

ZUV = sys.argv[1]
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
SIZE = 1 << 20
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def corpus_text():
    text = b""
    for pattern in ("runtime/*.cpp", "evaluator/*.cpp", "runtime/datatypes/*.cpp", "lexer/*.cpp"):
        for path in sorted(glob.glob(os.path.join(ROOT, pattern))):
            with open(path, "rb") as f:
                text += f.read()
    while len(text) < SIZE:
        text += text
    return text[:SIZE]


DATA = {"text": corpus_text(), "random": random.Random(1).randbytes(SIZE)}


def cpu_time(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def zuv_seconds(data, setup, body, repeats):
    """CPU seconds of one run of body, less the loading and the setup."""
    scripts = []
    for text in (setup, f"{setup}\nloop {repeats} [{body}]"):
        with tempfile.NamedTemporaryFile("w", suffix=".zuv", delete=False) as f:
            f.write(f"Zuv []\nx: #{{{data.hex()}}}\n{text}\n")
        scripts.append(f.name)
    try:
        base = min(cpu_time([ZUV, scripts[0]]) for _ in range(RUNS))
        full = min(cpu_time([ZUV, scripts[1]]) for _ in range(RUNS))
    finally:
        for s in scripts:
            os.unlink(s)
    return max(full - base, 1e-9) / repeats


def zuv_value(data, expression):
    with tempfile.NamedTemporaryFile("w", suffix=".zuv", delete=False) as f:
        f.write(f"Zuv []\nx: #{{{data.hex()}}}\nprint {expression}\n")
    try:
        return subprocess.run([ZUV, f.name], check=True, stdout=subprocess.PIPE).stdout.decode().strip()
    finally:
        os.unlink(f.name)


def python_seconds(function, repeats):
    best = float("inf")
    for _ in range(RUNS):
        start = time.process_time()
        for _ in range(repeats):
            function()
        best = min(best, time.process_time() - start)
    return best / repeats


def speed(seconds):
    return SIZE / seconds / 1e6


print(f"{'':28} {'compress MB/s':>14} {'inflate MB/s':>13} {'ratio':>7}")
for name, data in DATA.items():
    size = int(zuv_value(data, "length? compress x 'deflate"))
    zc = zuv_seconds(data, "", "compress x 'deflate", 10)
    zd = zuv_seconds(data, "y: compress x 'deflate", "decompress y 'deflate", 10)
    print(f"zuv deflate, {name:15} {speed(zc):14.1f} {speed(zd):13.1f} {size / SIZE:7.3f}")
    rows = {}
    for level in (1, 6):
        packed = zlib.compress(data, level)
        pc = python_seconds(lambda: zlib.compress(data, level), 10)
        pd = python_seconds(lambda: zlib.decompress(packed), 10)
        rows[level] = (pc, pd)
        print(f"zlib level {level}, {name:15} {speed(pc):14.1f} {speed(pd):13.1f} {len(packed) / SIZE:7.3f}")
    # zuv decoding zlib's own level-6 stream: the same input for both inflaters.
    packed = zlib.compress(data, 6)
    zz = zuv_seconds(data, f"y: #{{{packed.hex()}}}", "decompress y 'zlib", 10)
    print(f"zuv inflating zlib level 6, {name:6} {'':>5} {speed(zz):13.1f}")
    for level in (1, 6):
        pc, pd = rows[level]
        print(f"  zuv / zlib level {level} time: compress {zc / pc:5.2f}, inflate {zd / pd:5.2f}")
    print(f"  zuv / zlib inflating zlib's level 6 stream: {zz / rows[6][1]:5.2f}")

print()
print(f"{'checksum of 1 MB':20} {'zuv MB/s':>10} {'python3 MB/s':>13} {'zuv / python3 time':>19}")
data = DATA["random"]
references = {
    "crc32": lambda: zlib.crc32(data),
    "adler32": lambda: zlib.adler32(data),
    "md5": lambda: hashlib.md5(data).digest(),
    "sha1": lambda: hashlib.sha1(data).digest(),
    "sha256": lambda: hashlib.sha256(data).digest(),
    "sha512": lambda: hashlib.sha512(data).digest(),
}
for method, reference in references.items():
    z = zuv_seconds(data, "", f"checksum x '{method}", 20)
    p = python_seconds(reference, 20)
    print(f"{method:20} {speed(z):10.1f} {speed(p):13.1f} {z / p:19.2f}")
