#!/usr/bin/env python3
"""The JSON and CSV codecs against Python's json and csv modules.

JSON: json.loads reads every to-json output (compact, /ascii, /pretty) of
what load-json read from random documents (written by json.dumps in its
several styles) and of the examples of RFC 8259 back to the same data.
CSV: csv.reader reads every to-csv output back to the same rows, and
load-csv reads what csv.writer wrote (CRLF and LF line ends, minimal and
full quoting) back to the same rows. The data goes through files: rows
reach to-csv as JSON text, and load-csv's rows come back as JSON text.
Then save and load of .json and .csv files, and the codec objects'
decode of a file.

Usage: codecs_interop_test.py PATH-TO-ZUV
"""
import csv
import io
import json
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zuvtest import ZUV, check_that, finish  # noqa: E402

rng = random.Random(43)

# Characters that need care: escapes, controls, quotes, delimiters, line
# ends, non-ASCII in both planes.
CHARS = list("abcXYZ019 ,;\"'\\/\t\n\r\x01\x1f\x7f") + ["é", "中", "\u2028", "😀", "\U0010FFFF"]


def check(name, got, expected):
    """A check whose failure shows the head of each side: the data can be long."""
    check_that(name, got == expected, f"  expected: {str(expected)[:300]}\n  got:      {str(got)[:300]}")


def text(n=8):
    return "".join(rng.choice(CHARS) for _ in range(rng.randint(0, n)))


def json_value(depth=0):
    kind = rng.randrange(9 if depth < 4 else 6)
    if kind == 0:
        return None
    if kind == 1:
        return rng.choice([True, False])
    if kind == 2:
        return rng.randint(-2**31, 2**31 - 1)
    if kind == 3:
        return rng.choice([0.1, -2.5, 1e-20, 1.7976931348623157e308, 5e-324, 123456.789, rng.uniform(-1e6, 1e6)])
    if kind == 4:
        return rng.choice([2**40, -2**33])  # beyond 32 bits: read as floats, equal in value
    if kind == 5:
        return text()
    if kind in (6, 7):
        return [json_value(depth + 1) for _ in range(rng.randint(0, 4))]
    # Keys as words, strings with blanks and marks, and the empty key.
    keys = ["a", "Name", "name", "x-y", "first name", "1st", "@id", "a/b", "", "-1", "é"]
    return {k: json_value(depth + 1) for k in rng.sample(keys, rng.randint(0, 5))}


def run(folder, lines):
    """Runs a script of the lines in the folder; answers its output."""
    script = os.path.join(folder, "run.zuv")
    with open(script, "w", encoding="utf-8") as f:
        f.write("Zuv []\n" + "\n".join(lines) + "\n")
    p = subprocess.run([ZUV, script], cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    check_that("the script ends with status 0", p.returncode == 0,
               f"status {p.returncode}:\n" + p.stdout.decode()[-800:] + p.stderr.decode()[-400:])
    return p.stdout.decode("utf-8", "replace")


def write(folder, name, data, mode="w"):
    with open(os.path.join(folder, name), mode, encoding=None if "b" in mode else "utf-8", newline="") as f:
        f.write(data)


def read(folder, name):
    try:
        with open(os.path.join(folder, name), encoding="utf-8", newline="") as f:
            return f.read()
    except OSError as e:
        return f"<{e}>"


# The examples of RFC 8259, section 13, and its scalar texts.
RFC8259 = [
    """{
      "Image": {
          "Width":  800,
          "Height": 600,
          "Title":  "View from 15th Floor",
          "Thumbnail": {
              "Url":    "http://www.example.com/image/481989943",
              "Height": 125,
              "Width":  100
          },
          "Animated" : false,
          "IDs": [116, 943, 234, 38793]
        }
    }""",
    """[
      {
         "precision": "zip",
         "Latitude":  37.7668,
         "Longitude": -122.3959,
         "Address":   "",
         "City":      "SAN FRANCISCO",
         "State":     "CA",
         "Zip":       "94107",
         "Country":   "US"
      },
      {
         "precision": "zip",
         "Latitude":  37.371991,
         "Longitude": -122.026020,
         "Address":   "",
         "City":      "SUNNYVALE",
         "State":     "CA",
         "Zip":       "94085",
         "Country":   "US"
      }
    ]""",
    '"Hello world!"',
    "42",
    "true",
]


def json_round_trips(folder):
    docs = []
    for i in range(60):
        data = json_value()
        style = i % 4
        if style == 0:
            doc = json.dumps(data)
        elif style == 1:
            doc = json.dumps(data, ensure_ascii=False, separators=(",", ":"))
        elif style == 2:
            doc = json.dumps(data, indent=2)
        else:
            doc = json.dumps(data, ensure_ascii=False, indent="\t").replace("\n", "\r\n")
        docs.append((f"random {i}", doc, data))
    docs += [(f"RFC 8259 example {i}", doc, json.loads(doc)) for i, doc in enumerate(RFC8259)]
    lines = []
    for i, (_, doc, _) in enumerate(docs):
        write(folder, f"in{i}.json", doc)
        lines.append(
            f"v: load-json to string! read/binary %in{i}.json"
            f" write %c{i}.json to-json v write %a{i}.json to-json/ascii v"
            f' write %p{i}.json to-json/pretty v "  "'
        )
    run(folder, lines)
    for i, (name, _, data) in enumerate(docs):
        for kind in "cap":
            out = read(folder, f"{kind}{i}.json")
            try:
                got = json.loads(out)
            except ValueError as e:
                got = f"<not JSON: {e}: {out[:200]!r}>"
            check(f"JSON {name} ({kind})", got, data)
            if kind == "a":
                check(f"JSON {name} is ASCII", all(ord(c) < 128 for c in out), True)


def csv_rows(width, count):
    rows = []
    for _ in range(count):
        rows.append([text(6) for _ in range(width)])
    return rows


def python_reads(out):
    return list(csv.reader(io.StringIO(out, newline="")))


def csv_round_trips(folder):
    cases = [csv_rows(rng.randint(2, 5), rng.randint(1, 6)) for _ in range(30)]
    lines = []
    for i, rows in enumerate(cases):
        write(folder, f"rows{i}.json", json.dumps(rows))
        lines.append(f"write %out{i}.csv to-csv load-json to string! read/binary %rows{i}.json")
        # What Python's writer writes, in two dialects.
        buf = io.StringIO(newline="")
        csv.writer(buf).writerows(rows)
        write(folder, f"py{i}.csv", buf.getvalue())
        buf = io.StringIO(newline="")
        csv.writer(buf, lineterminator="\n", quoting=csv.QUOTE_ALL).writerows(rows)
        write(folder, f"pq{i}.csv", buf.getvalue())
        for name in (f"py{i}", f"pq{i}"):
            lines.append(f"write %{name}.json to-json load-csv to string! read/binary %{name}.csv")
    run(folder, lines)
    for i, rows in enumerate(cases):
        check(f"csv.reader of to-csv {i}", python_reads(read(folder, f"out{i}.csv")), rows)
        for name in (f"py{i}", f"pq{i}"):
            out = read(folder, f"{name}.json")
            try:
                got = json.loads(out)
            except ValueError:
                got = out
            check(f"load-csv of csv.writer {name}", got, rows)


def codec_files(folder):
    write(folder, "crlf.csv", 'a,"b\r\nc"\r\nd,e\r\n')
    write(folder, "doc.json", '{"k": [1, "\u00e9"]}\r\n')
    out = run(folder, [
        "print mold system/codecs/csv/decode %crlf.csv",
        "print mold/flat system/codecs/json/decode %doc.json",
    ])
    check("codec decode of files", out, '[["a" "b^M^/c"] ["d" "e"]]\n#[k: [1 "é"]]\n')


def save_load(folder):
    out = run(folder, [
        'd: load-json {{"a": [1, 2.5, "x"], "b c": null}}',
        "save %x.json d",
        "print mold/flat load %x.json",
        'save %x.csv [["a,b" "c"] ["d^M^/e" "f"]]',
        "print mold load %x.csv",
    ])
    check("save and load by suffix", out,
          '#[a: [1 2.5 "x"] "b c" none]\n[["a,b" "c"] ["d^M^/e" "f"]]\n')
    check("saved .json is JSON", json.loads(read(folder, "x.json")), {"a": [1, 2.5, "x"], "b c": None})


def main():
    with tempfile.TemporaryDirectory() as folder:
        json_round_trips(folder)
        csv_round_trips(folder)
        codec_files(folder)
        save_load(folder)
    finish()


main()
