#!/usr/bin/env python3
"""Encrypted copies of plain .accdb files, one per scheme, read back.

  encrypted_databases.py CLI FILE... [--node-modules DIR]

For every FILE and scheme, `tabulary-cli encrypt` makes a copy; then our
checker must find nothing new (--strict if the plain file passes it), our
export of every table must equal the plain file's, a wrong password must be
refused, and mdb-reader (through mdb_reader_dump.mjs) must read the copy with
the password exactly as it reads the plain file and refuse a wrong one, for
the schemes it implements. For the others the copy must still be refused by
mdb-reader (it says why), so a newer mdb-reader that reads them shows up here.
Exit 0 when everything agrees, 1 on a difference, 77 when mdb-reader or node
is unavailable."""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77
PASSWORD = "Oracle pw \u00e4\u00df"

# scheme, does mdb-reader read it
SCHEMES = [
    ("agile", True),        # AES-256/SHA-512
    ("agile-sha1", False),  # mdb-reader compares the 20-byte SHA-1 with the padded 32-byte value
    ("standard", False),    # mdb-reader has no ECMA standard AES
    ("rc4", True),          # RC4 CryptoAPI
]


class Unavailable(Exception):
    pass


def mdb_reader(path, password, node_modules):
    node = shutil.which("node")
    if not node:
        raise Unavailable("node not installed")
    cmd = [node, os.path.join(HERE, "mdb_reader_dump.mjs"), path]
    if password is not None:
        cmd += ["--password", password]
    if node_modules:
        cmd += ["--node-modules", node_modules]
    p = subprocess.run(cmd, capture_output=True)
    if p.returncode == SKIP:
        raise Unavailable(p.stderr.decode("utf-8", "replace").strip())
    if p.returncode != 0:
        return None, p.stderr.decode("utf-8", "replace").strip()
    return json.loads(p.stdout.decode("utf-8"))["tables"], None


def cli(args, *rest):
    return subprocess.run([args.cli] + list(rest), capture_output=True, text=True)


def exports(args, path, password):
    pw = ["--password", password] if password else []
    tables = cli(args, "tables", path, *pw)
    if tables.returncode != 0:
        return None
    names = [line.split("\t")[0] for line in tables.stdout.splitlines() if line.endswith("\ttable")]
    return {n: cli(args, "export", path, n, *pw).stdout for n in names}


def check_file(args, plain, tmp):
    ok = True
    plain_check = cli(args, "check", plain, "--strict")
    strict = ["--strict"] if plain_check.returncode == 0 else []
    plain_rows = exports(args, plain, None)
    plain_reader, err = mdb_reader(plain, None, args.node_modules)
    if plain_reader is None:
        print(f"{plain}: mdb-reader cannot read the plain file: {err}")
        return False
    for scheme, readable in SCHEMES:
        enc = os.path.join(tmp, f"{os.path.basename(plain)}.{scheme}.accdb")
        made = cli(args, "encrypt", plain, enc, "--password", PASSWORD, "--scheme", scheme)
        where = f"{os.path.basename(plain)} {scheme}"
        if made.returncode != 0:
            print(f"{where}: encrypt failed: {made.stderr.strip()}")
            ok = False
            continue
        problems = []
        check = cli(args, "check", enc, "--password", PASSWORD, *strict)
        if check.returncode != 0:
            problems.append("check: " + check.stdout.strip().splitlines()[-1])
        if exports(args, enc, PASSWORD) != plain_rows:
            problems.append("our export differs from the plain file's")
        if cli(args, "tables", enc, "--password", PASSWORD + "x").returncode == 0:
            problems.append("we opened it with a wrong password")
        theirs, err = mdb_reader(enc, PASSWORD, args.node_modules)
        if readable:
            if theirs is None:
                problems.append(f"mdb-reader failed: {err}")
            elif theirs != plain_reader:
                problems.append("mdb-reader reads it differently from the plain file")
            wrong, _ = mdb_reader(enc, "wrong", args.node_modules)
            if wrong is not None:
                problems.append("mdb-reader opened it with a wrong password")
            note = "mdb-reader reads it as the plain file"
        elif theirs is None:
            note = f"mdb-reader cannot read this scheme ({err.splitlines()[-1] if err else '?'})"
        else:
            note = "mdb-reader now reads this scheme"
            if theirs != plain_reader:
                problems.append("mdb-reader reads it differently from the plain file")
        if problems:
            ok = False
            for p in problems:
                print(f"  DIFF {where}: {p}")
        else:
            print(f"{where}: check and export as plain, wrong password refused; {note}")
    return ok


def run(cli_path, files, node_modules):
    """The check over FILEs; 0, 1 or SKIP."""
    args = argparse.Namespace(cli=cli_path, node_modules=node_modules)
    with tempfile.TemporaryDirectory(prefix="tabulary-encrypted-") as tmp:
        try:
            ok = all([check_file(args, f, tmp) for f in files])
        except Unavailable as e:
            print(f"reader unavailable: {e}: skipped")
            return SKIP
    print("encrypted copies agree" if ok else "encrypted copies DIFFER")
    return 0 if ok else 1


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("cli", help="the tabulary-cli binary")
    ap.add_argument("files", nargs="+", metavar="FILE")
    ap.add_argument("--node-modules", default=os.environ.get("TABULARY_NODE_MODULES"))
    args = ap.parse_args()
    return run(args.cli, args.files, args.node_modules)


if __name__ == "__main__":
    sys.exit(main())
