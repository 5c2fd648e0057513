#!/usr/bin/env python3
"""The JSON and CSV codecs against Python's json (its C accelerator and its
pure-Python mode) and csv.

A JSON document of a few MB (records of numbers, strings with escapes and
non-ASCII text, nested arrays and objects) is decoded and encoded again;
a CSV text of a few MB (some values quoted, with commas, quotes and line
ends) is read and written again. Each program reads the file first and
times only the decoding and the encoding, best of RUNS. What zuv wrote is
checked with Python's own modules. A benchmark, not a test: it always
exits 0.

Usage: codecs.py PATH-TO-ZUV [RECORDS] [RUNS]   (a Release build)
"""
import csv
import io
import json
import os
import random
import subprocess
import sys
import tempfile

ZUV = os.path.abspath(sys.argv[1])
PYTHON = os.environ.get("PYTHON", "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else "python3")
RECORDS = int(sys.argv[2]) if len(sys.argv) > 2 else 20_000
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
rng = random.Random(1)

WORDS = ["alpha", "beta", "gamma", "delta", "café", "naïve", "東京", "emoji 😀", 'say "hi"', "tab\there",
         "line\nend", "back\\slash", "a, b", ""]


def record(i):
    return {
        "id": i,
        "name": " ".join(rng.choice(WORDS) for _ in range(3)),
        "score": round(rng.uniform(-1000, 1000), 3),
        "active": rng.random() < 0.5,
        "tags": [rng.choice(WORDS) for _ in range(rng.randint(0, 4))],
        "point": {"x": rng.randint(-500, 500), "y": rng.randint(-500, 500), "note": None},
    }


def csv_row(i):
    return [str(i), rng.choice(WORDS), str(rng.randint(0, 99999)), f"{rng.uniform(0, 1):.6f}",
            rng.choice(WORDS) + " " + rng.choice(WORDS), "x" * rng.randint(0, 12)]


ZUV_SCRIPT = """Zuv []
json-text: to string! read/binary %doc.json
csv-text: to string! read/binary %data.csv
best: func [code /local t b] [
    b: none
    loop {runs} [
        t: to float! dt code
        b: either b [min b t] [t]
    ]
    b
]
print ["json-decode" best [v: load-json json-text]]
print ["json-encode" best [out: to-json v]]
write %zuv.json out
print ["csv-decode" best [rows: load-csv csv-text]]
print ["csv-encode" best [text: to-csv rows]]
write %zuv.csv text
"""

PY_SCRIPT = """import sys, time, io
if sys.argv[1] == "pure":
    sys.modules["_json"] = None
import json, csv
json_text = open("doc.json", encoding="utf-8").read()
csv_text = open("data.csv", encoding="utf-8", newline="").read()
def best(f):
    b = None
    for _ in range({runs}):
        t = time.perf_counter(); r = f(); t = time.perf_counter() - t
        b = t if b is None else min(b, t)
    return b, r
t, v = best(lambda: json.loads(json_text)); print("json-decode", t)
t, out = best(lambda: json.dumps(v, ensure_ascii=False, separators=(",", ":"))); print("json-encode", t)
if sys.argv[1] == "c":
    t, rows = best(lambda: list(csv.reader(io.StringIO(csv_text, newline=""))));  print("csv-decode", t)
    def write():
        buf = io.StringIO(newline=""); csv.writer(buf, lineterminator="\\n").writerows(rows); return buf.getvalue()
    t, _ = best(write); print("csv-encode", t)
"""


def times(command, folder):
    out = subprocess.run(command, cwd=folder, capture_output=True, text=True)
    if out.returncode != 0:
        print(f"{command[0]} failed: {out.stdout[-400:]} {out.stderr[-400:]}")
        return {}
    return {line.split()[0]: float(line.split()[1]) for line in out.stdout.splitlines() if len(line.split()) == 2}


def main():
    data = [record(i) for i in range(RECORDS)]
    rows = [csv_row(i) for i in range(RECORDS * 5)]
    with tempfile.TemporaryDirectory() as folder:
        doc = json.dumps(data, ensure_ascii=False, indent=1)
        with open(os.path.join(folder, "doc.json"), "w", encoding="utf-8") as f:
            f.write(doc)
        buf = io.StringIO(newline="")
        csv.writer(buf).writerows(rows)
        with open(os.path.join(folder, "data.csv"), "w", encoding="utf-8", newline="") as f:
            f.write(buf.getvalue())
        print(f"JSON {len(doc.encode()) / 1e6:.1f} MB ({RECORDS} records), "
              f"CSV {len(buf.getvalue().encode()) / 1e6:.1f} MB ({len(rows)} rows), best of {RUNS}")

        script = os.path.join(folder, "bench.zuv")
        with open(script, "w", encoding="utf-8") as f:
            f.write(ZUV_SCRIPT.replace("{runs}", str(RUNS)))
        pyscript = os.path.join(folder, "bench.py")
        with open(pyscript, "w", encoding="utf-8") as f:
            f.write(PY_SCRIPT.replace("{runs}", str(RUNS)))
        zuv = times([ZUV, script], folder)
        py_c = times([PYTHON, pyscript, "c"], folder)
        py_pure = times([PYTHON, pyscript, "pure"], folder)

        with open(os.path.join(folder, "zuv.json"), encoding="utf-8") as f:
            if json.loads(f.read()) != data:
                print("zuv's JSON does not read back to the document")
        with open(os.path.join(folder, "zuv.csv"), encoding="utf-8", newline="") as f:
            if list(csv.reader(f)) != rows:
                print("zuv's CSV does not read back to the rows")

    print(f"{'':12} {'zuv':>9} {'python C':>9} {'py pure':>9} {'/ C':>7} {'/ pure':>7}")
    for key in ["json-decode", "json-encode", "csv-decode", "csv-encode"]:
        z = zuv.get(key)
        c = py_c.get(key)
        p = py_pure.get(key)
        cells = [f"{x:9.3f}" if x else f"{'-':>9}" for x in (z, c, p)]
        ratios = [f"{z / x:7.2f}" if z and x else f"{'-':>7}" for x in (c, p)]
        print(f"{key:12} {' '.join(cells)} {' '.join(ratios)}")


main()
