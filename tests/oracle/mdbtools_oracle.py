#!/usr/bin/env python3
"""Differential test: every row of the benchmark databases as tabulary-cli
exports it, compared with mdb-export (mdbtools), an independent reader.

Exit 0 on agreement, 1 on a difference, 77 (skipped) when mdbtools or the
databases are missing."""
import csv
import io
import math
import os
import shutil
import subprocess
import sys
from decimal import Decimal, InvalidOperation

csv.field_size_limit(1 << 30)


def run(cmd):
    out = subprocess.run(cmd, check=True, capture_output=True).stdout
    return list(csv.reader(io.StringIO(out.decode("utf-8"), newline="")))


def same_number(a, b, rel):
    try:
        x, y = float(a), float(b)
    except ValueError:
        return False
    if x == y:
        return True
    return math.isclose(x, y, rel_tol=rel, abs_tol=0.0)


def same_cell(ours, theirs, kind):
    if kind == "bool":
        return {"True": "1", "False": "0"}.get(ours) == theirs
    if ours == theirs:
        return True
    if kind == "currency":
        try:
            return Decimal(ours) == Decimal(theirs)
        except InvalidOperation:
            return False
    if kind == "double":
        # mdb-export prints 16 significant digits, we print 15 as Windows does.
        return same_number(ours, theirs, 1e-14)
    if kind == "date":
        # ours: YYYY-MM-DD[ HH:MM:SS]; theirs: YYYY-MM-DDTHH:MM:SS
        full = ours if " " in ours else ours + " 00:00:00"
        return full.replace(" ", "T") == theirs
    return False


def compare(cli, path, table, kinds):
    ours = run([cli, "export", path, table])
    theirs = run(["mdb-export", "-D", "%Y-%m-%dT%H:%M:%S", "-T", "%Y-%m-%dT%H:%M:%S", path, table])
    if ours[0] != theirs[0]:
        print(f"{path} {table}: header differs: {ours[0]} vs {theirs[0]}")
        return False
    if len(ours) != len(theirs):
        print(f"{path} {table}: {len(ours) - 1} rows, mdb-export {len(theirs) - 1}")
        return False
    bad = 0
    for n, (a, b) in enumerate(zip(ours[1:], theirs[1:]), start=1):
        for col, x, y, kind in zip(ours[0], a, b, kinds):
            if not same_cell(x, y, kind):
                bad += 1
                if bad <= 10:
                    print(f"{path} {table} row {n} {col}: ours {x!r} mdb-export {y!r}")
    print(f"{path} {table}: {len(ours) - 1} rows compared, {bad} differing cells")
    return bad == 0


def main():
    cli, bench = sys.argv[1], sys.argv[2]
    if not shutil.which("mdb-export"):
        print("mdb-export not installed: skipped")
        return 77
    kinds = ["text", "text", "text", "text", "double", "currency", "date", "bool", "text"]
    names = ["big250k.mdb"]
    if os.environ.get("TABULARY_ORACLE_FULL"):  # the million-row file takes a minute
        names.append("big1m.accdb")
    files = [os.path.join(bench, f) for f in names]
    files = [f for f in files if os.path.exists(f)]
    if not files:
        print("benchmark databases absent: skipped")
        return 77
    ok = all([compare(cli, f, "Big", kinds) for f in files])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
