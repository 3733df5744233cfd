#!/usr/bin/env python3
"""What our writer produces, read back by three independent readers.

Writes the test fixtures, a small benchmark database and takes the sample
database, and the workspace script once more as an ACE (.accdb) file, then for
each: our checker must find nothing at all (--strict), and tabulary-cli,
mdbtools and mdb-reader must agree on every table, column and cell; the
coverage fixture is also compared with the values it was written with. The
ACE file is also encrypted with every scheme and read back
(encrypted_databases.py). Exit 0 on agreement, 1 on a difference, 77 when an oracle is missing."""
import argparse
import os
import subprocess
import sys
import tempfile

import encrypted_databases

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("cli")
    ap.add_argument("make_fixtures")
    ap.add_argument("make_bench_db")
    ap.add_argument("sample")
    ap.add_argument("workspace_script")
    ap.add_argument("--node-modules")
    args = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix="tabulary-written-") as tmp:
        subprocess.run([args.make_fixtures, tmp, args.workspace_script], check=True)
        bench = os.path.join(tmp, "bench.mdb")
        # The full-size benchmark database takes minutes through mdb-reader: opt-in.
        size = [] if os.environ.get("TABULARY_ORACLE_FULL") else ["--rows", "20000", "--customers", "2000"]
        subprocess.run([args.make_bench_db, bench] + size, check=True)
        ace = os.path.join(tmp, "workspace.accdb")
        subprocess.run([args.cli, "create", ace, args.workspace_script], check=True,
                       stdout=subprocess.DEVNULL)
        files = [args.sample, os.path.join(tmp, "workspace.mdb"), bench, ace,
                 os.path.join(tmp, "coverage.mdb")]
        failed = False
        for f in files:
            check = subprocess.run([args.cli, "check", f, "--strict"], capture_output=True, text=True)
            print(f"check {os.path.basename(f)}: {check.stdout.strip().splitlines()[-1]}")
            if check.returncode != 0:
                print(check.stdout)
                failed = True
        common = [sys.executable, os.path.join(HERE, "three_readers.py"), args.cli]
        if args.node_modules:
            common += ["--node-modules", args.node_modules]
        runs = [common + files[:4], common + [files[4], "--expect", os.path.join(tmp, "coverage.expect.json")]]
        for cmd in runs:
            r = subprocess.run(cmd)
            if r.returncode == 77:
                return 77
            failed = failed or r.returncode != 0
        r = encrypted_databases.run(args.cli, [ace], args.node_modules)
        if r == 77:
            return 77
        failed = failed or r != 0
        return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
