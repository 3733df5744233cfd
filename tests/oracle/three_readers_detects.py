#!/usr/bin/env python3
"""Proves that three_readers.py notices differences instead of passing
everything: on one corpus file it must pass with a faithful EXPECT.json and
fail (exit 1, naming the cell) with altered ones and with a tabulary-cli
whose export is corrupted.

  three_readers_detects.py CLI CORPUS_DIR [--node-modules DIR]

The expected values come from mdb-reader (an independent reader), written to
a temporary folder. Exit 0 when every fault was caught, 1 otherwise, 77 when
the readers or the corpus file are unavailable."""
import copy
import csv
import io
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
HARNESS = os.path.join(HERE, "three_readers.py")
# Jet4/ACE file with numbers, currency, dates, booleans and text in Table1.
FILE = "jackcess/V2007/testV2007.accdb"


def harness(cli, path, extra, env):
    p = subprocess.run([sys.executable, HARNESS, cli, path] + extra, capture_output=True, text=True, env=env)
    return p.returncode, p.stdout + p.stderr


def main():
    cli, corpus = sys.argv[1], sys.argv[2]
    env = dict(os.environ)
    if len(sys.argv) > 4 and sys.argv[3] == "--node-modules":
        env["TABULARY_NODE_MODULES"] = sys.argv[4]
    path = os.path.join(env.get("TABULARY_CORPUS") or corpus, "files", FILE)
    if not os.path.exists(path):
        print(f"{FILE} not in the corpus: skipped")
        return 77
    rc, out = harness(cli, path, [], env)
    if rc == 77:
        print(out + "readers unavailable: skipped")
        return 77
    if rc != 0:
        print(out + "FAIL: the readers do not agree on the unaltered file")
        return 1

    dump = subprocess.run(["node", os.path.join(HERE, "mdb_reader_dump.mjs"), path], capture_output=True,
                          text=True, env=env, check=True)
    tables = json.loads(dump.stdout)["tables"]
    header = {}
    for t in tables:
        out = subprocess.run([cli, "export", path, t["name"]], capture_output=True, check=True).stdout
        header[t["name"]] = next(csv.reader(io.StringIO(out.decode("utf-8"), newline="")))
    expect = {}
    for t in tables:
        # in our export's column order, which is the design order a writer would use
        pos = [[c["name"] for c in t["columns"]].index(n) for n in header[t["name"]]]
        expect[t["name"]] = {"columns": header[t["name"]], "rows": [[r[i] for i in pos] for r in t["rows"]]}
    t1 = expect["Table1"]
    col = t1["columns"].index("E")
    # r: the row holding the distinctive values, o: the other one
    r = [row[col] for row in t1["rows"]].index(333333333)
    o = 1 - r

    def with_cell(table, row, name, value):
        e = copy.deepcopy(expect)
        e[table]["rows"][row][e[table]["columns"].index(name)] = value
        return e

    def without_row(table, row):
        e = copy.deepcopy(expect)
        del e[table]["rows"][row]
        return e

    def renamed(table, old, new):
        e = copy.deepcopy(expect)
        cols = e[table]["columns"]
        cols[cols.index(old)] = new
        return e

    def extra_table():
        e = copy.deepcopy(expect)
        e["Missing"] = {"columns": ["x"], "rows": []}
        return e

    # (description, expect document, text the report must contain)
    cases = [
        ("wrong long integer", with_cell("Table1", r, "E", 333333334), f"Table1 row {r + 1} E"),
        ("wrong text", with_cell("Table1", o, "A", "b"), f"Table1 row {o + 1} A"),
        ("wrong currency", with_cell("Table1", r, "H", "3.5001"), f"Table1 row {r + 1} H"),
        ("wrong date", with_cell("Table1", r, "G", "1974-09-22T00:00:00"), f"Table1 row {r + 1} G"),
        ("wrong boolean", with_cell("Table1", o, "I", True), f"Table1 row {o + 1} I"),
        ("NULL instead of a value", with_cell("Table1", r, "F", None), f"Table1 row {r + 1} F"),
        ("missing row", without_row("Table1", o), "Table1 rows"),
        ("renamed column", renamed("Table1", "B", "BB"), "Table1 columns"),
        ("table that is not there", extra_table(), "tables"),
    ]
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        good = os.path.join(tmp, "expect.json")
        with open(good, "w", encoding="utf-8") as f:
            json.dump(expect, f)
        rc, out = harness(cli, path, ["--expect", good], env)
        print(f"faithful expect file: exit {rc}")
        if rc != 0:
            print(out)
            failures += 1
        for n, (what, doc, needle) in enumerate(cases):
            bad = os.path.join(tmp, f"bad{n}.json")
            with open(bad, "w", encoding="utf-8") as f:
                json.dump(doc, f)
            rc, out = harness(cli, path, ["--expect", bad], env)
            caught = rc == 1 and needle in out
            print(f"{what}: exit {rc}, {'caught' if caught else 'MISSED'}")
            if not caught:
                print(out)
                failures += 1

        # A reader fault rather than a writer fault: our export with one digit changed.
        fake = os.path.join(tmp, "corrupt-cli")
        with open(fake, "w", encoding="utf-8") as f:
            f.write("#!%s\nimport subprocess, sys\n"
                    "out = subprocess.run([%r] + sys.argv[1:], capture_output=True).stdout\n"
                    "if sys.argv[1] == 'export':\n"
                    "    out = out.replace(b'444.555', b'444.556')\n"
                    "sys.stdout.buffer.write(out)\n" % (sys.executable, os.path.abspath(cli)))
        os.chmod(fake, 0o755)
        rc, out = harness(fake, path, [], env)
        caught = rc == 1 and f"Table1 row {r + 1} F" in out
        print(f"corrupted export: exit {rc}, {'caught' if caught else 'MISSED'}")
        if not caught:
            print(out)
            failures += 1
    print(f"{len(cases) + 2 - failures} passed, {failures} failed")
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
