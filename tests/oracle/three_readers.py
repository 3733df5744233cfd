#!/usr/bin/env python3
"""Reads Access databases through three independent readers and compares
what they return: tabulary-cli (ours), mdbtools (mdb-tables, mdb-schema,
mdb-export) and the npm package mdb-reader (through mdb_reader_dump.mjs).

  three_readers.py CLI FILE... [--expect EXPECT.json] [--password PW]
                   [--node-modules DIR] [--corpus DIR] [--skip-missing] [--max-diffs N]

Compared per file: the user table names; per table the column names (by
name: our export keeps the design order, the others column-number order),
the column types through TYPES below, text sizes, decimal precision and
scale, AutoNumber flags; the row count and every cell, row by row in data-page
order. EXPECT.json, {table: {"columns": [...], "rows": [[...], ...]}}, holds
the values a writer meant to store; our export must match it too.

DIR (or TABULARY_NODE_MODULES) is the node_modules folder holding mdb-reader,
see scripts/oracle-deps.sh. Exit 0 when everything agrees, 1 on any
difference, 2 on bad usage, 77 when a reader is unavailable (or, with
--skip-missing, no FILE exists)."""
import argparse
import csv
import datetime as dt
import io
import json
import math
import os
import re
import shutil
import subprocess
import sys
from decimal import Decimal, InvalidOperation

csv.field_size_limit(1 << 30)
HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77

# One row per value kind: the type name in `tabulary-cli schema`, in
# `mdb-schema` (access backend) and in mdb-reader. None: that reader has no
# name for it (mdbtools 1.0 prints Unknown_00XX).
TYPES = [
    # kind          ours                   mdbtools           mdb-reader
    ("boolean",     "Yes/No",              "Boolean",         "boolean"),
    ("byte",        "Byte",                "Byte",            "byte"),
    ("integer",     "Integer",             "Integer",         "integer"),
    ("long",        "Long Integer",        "Long Integer",    "long"),
    ("currency",    "Currency",            "Currency",        "currency"),
    ("single",      "Single",              "Single",          "float"),
    ("double",      "Double",              "Double",          "double"),
    ("datetime",    "Date/Time",           "DateTime",        "datetime"),
    ("binary",      "Binary",              "Binary",          "binary"),
    ("text",        "Text",                "Text",            "text"),
    ("ole",         "OLE Object",          "OLE",             "ole"),
    ("memo",        "Memo",                "Memo/Hyperlink",  "memo"),
    ("guid",        "Replication ID",      "Replication ID",  "repid"),
    ("decimal",     "Decimal",             "Numeric",         "numeric"),
    ("complex",     "Complex",             "Unknown_0012",    "complex"),
    ("bigint",      "Large Number",        "Unknown_0013",    "bigint"),
    ("datetimeext", "Date/Time Extended",  "Unknown_0014",    "datetimextended"),
]
KIND_OF = [{row[0]: row[0] for row in TYPES}] + [{row[i]: row[0] for row in TYPES} for i in (1, 2, 3)]
# Longest names first: "Date/Time Extended" before "Date/Time".
OURS_TYPE_RE = re.compile("(%s)(?:\\((\\d+)(?:,(\\d+))?\\))?(?: |$)" % "|".join(
    re.escape(t) for t in sorted([row[1] for row in TYPES] + ["AutoNumber"], key=len, reverse=True)))
OURS, MDBTOOLS, MDBREADER = 1, 2, 3
READER_NAMES = {OURS: "ours", MDBTOOLS: "mdbtools", MDBREADER: "mdb-reader"}
# Kinds a reader cannot give values for: mdbtools 1.0 has no Large Number or
# Date/Time Extended and prints an id for complex columns; we render complex
# values differently from mdb-reader, which also fails on some of them.
NOT_COMPARED = {MDBTOOLS: {"bigint", "datetimeext", "complex"}, MDBREADER: {"complex"}, OURS: {"complex"}}

ISO = "%Y-%m-%dT%H:%M:%S"


class Unavailable(Exception):
    pass


def run(cmd, what):
    try:
        p = subprocess.run(cmd, capture_output=True)
    except FileNotFoundError as e:
        raise Unavailable(f"{what}: {e}")
    if p.returncode == SKIP and what == "mdb-reader":
        raise Unavailable(p.stderr.decode("utf-8", "replace").strip())
    if p.returncode != 0:
        raise RuntimeError(f"{what} failed ({p.returncode}): {p.stderr.decode('utf-8', 'replace').strip()}")
    return p.stdout.decode("utf-8")


def read_csv(text):
    return list(csv.reader(io.StringIO(text, newline="")))


# ---- canonical values -------------------------------------------------------
# Every cell becomes a value of one shape per kind, whatever reader it came
# from; None stands for NULL and for what CSV cannot tell from it (an empty
# cell: mdbtools also exports a zero-length text as NULL).

def parse_date(s):
    """Datetime for ISO-ish text (space or T, optional fraction); None if it is not one."""
    m = re.fullmatch(r"(\d{4})-(\d\d)-(\d\d)(?:[T ](\d\d):(\d\d):(\d\d)(?:\.(\d+))?)?", s)
    if not m:
        return None
    y, mo, d, h, mi, se = (int(x) if x else 0 for x in m.groups()[:6])
    frac = m.group(7) or ""
    try:
        base = dt.datetime(y, mo, d, h, mi, se)
    except ValueError:
        return None
    return base + dt.timedelta(microseconds=round(float("0." + frac) * 1e6)) if frac else base


def canon(kind, v):
    """Canonical value of a cell given as CSV text (str) or as JSON (mdb-reader, EXPECT.json)."""
    if v is None or v == "":
        return None
    if kind == "boolean":
        if isinstance(v, bool):
            return v
        return {"True": True, "False": False, "1": True, "0": False, "true": True, "false": False}.get(v, ("?", v))
    if kind in ("byte", "integer", "long", "bigint"):
        try:
            return int(v)
        except (TypeError, ValueError):
            return ("?", v)
    if kind in ("currency", "decimal"):
        try:
            return Decimal(str(v))
        except InvalidOperation:
            return ("?", v)
    if kind in ("single", "double"):
        try:
            return float(v)  # also "NaN", "Infinity", "-Infinity"
        except (TypeError, ValueError):
            return ("?", v)
    if kind == "datetime":
        d = parse_date(v) if isinstance(v, str) else None
        return d if d is not None else ("?", v)
    if kind == "datetimeext":
        # seven fraction digits at most; trailing zeros say nothing
        m = re.fullmatch(r"(\d{4}-\d\d-\d\d)[T ](\d\d:\d\d:\d\d)(?:\.(\d+))?", str(v))
        if not m:
            return ("?", v)
        frac = (m.group(3) or "").rstrip("0")
        return f"{m.group(1)}T{m.group(2)}" + (f".{frac}" if frac else "")
    if kind in ("binary", "ole"):
        s = str(v)
        if s[:2] in ("0x", "0X"):
            s = s[2:]
        return s.lower() or None
    if kind == "guid":
        s = str(v)
        # mdb-export -b hex writes a GUID column as the hex of its "{...}" text
        if re.fullmatch(r"(7[bB])[0-9a-fA-F]{72}", s):
            s = bytes.fromhex(s).decode("ascii", "replace")
        return re.sub(r"[{}\-]", "", s).lower()
    if kind in ("text", "memo"):
        # memo line endings: CRLF and LF count as the same
        return str(v).replace("\r\n", "\n")
    return v


def same(kind, a, b):
    if a == b:
        return True
    if a is None or b is None or isinstance(a, tuple) or isinstance(b, tuple):
        return False
    if kind in ("single", "double"):
        if math.isnan(a) and math.isnan(b):
            return True
        # ours prints 7 / 15 significant digits, mdbtools 8 / 16, mdb-reader every digit
        return math.isclose(a, b, rel_tol=1e-6 if kind == "single" else 1e-14, abs_tol=0.0)
    if kind == "datetime":
        # ours rounds to the second, mdbtools prints whole seconds, mdb-reader milliseconds
        return abs((a - b).total_seconds()) < 1.0
    return False


def show(v, at=0):
    """Printable value; long text and hex are cut to a window around index `at`."""
    if isinstance(v, tuple):
        return f"unparsable {v[1]!r}"
    if isinstance(v, dt.datetime):
        return v.isoformat()
    if isinstance(v, Decimal):
        return str(v)
    if isinstance(v, str) and len(v) > 60:
        lo = max(0, at - 20)
        return f"{len(v)} chars, [{lo}:] {v[lo:lo + 40]!r}"
    return repr(v)


def show_pair(a, b):
    at = 0
    if isinstance(a, str) and isinstance(b, str):
        at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    return show(a, at), show(b, at)


# ---- the three readers ------------------------------------------------------

def ours_tables(cli, path, pw):
    out = run([cli, "tables", path] + pw, "tabulary-cli tables")
    return [ln.split("\t")[0] for ln in out.splitlines() if ln.split("\t")[1:2] == ["table"]]


def ours_schema(cli, path, pw):
    """{table: {column: {"type", "size"?, "precision"?, "scale"?, "auto", "required"}}}."""
    out = run([cli, "schema", path] + pw, "tabulary-cli schema")
    tables, cur = {}, None
    for ln in out.splitlines():
        if ln.startswith("TABLE "):
            cur = tables.setdefault(ln[6:], {})
        elif ln.startswith("  INDEX ") or cur is None:
            continue
        elif ln.startswith("  "):
            name, _, rest = ln[2:].partition("\t")
            col = {"auto": False, "required": " required" in rest}
            m = OURS_TYPE_RE.match(rest)
            t = m.group(1) if m else rest
            if t == "AutoNumber":
                t, col["auto"] = "Long Integer", True
            if t == "Replication ID" and "AutoNumber" in rest:
                col["auto"] = True
            col["type"] = t
            if m and m.group(2):
                if t == "Text":
                    col["size"] = int(m.group(2))
                else:
                    col["precision"], col["scale"] = int(m.group(2)), int(m.group(3) or 0)
            cur[name] = col
    return tables


def mdbtools_schema(path):
    out = run(["mdb-schema", path, "access"], "mdb-schema")
    tables, cur = {}, None
    for ln in out.splitlines():
        m = re.match(r"CREATE TABLE \[(.*)\]$", ln)
        if m:
            cur = tables.setdefault(m.group(1), {})
            continue
        m = re.match(r"\t\[(.*)\]\t+(.*?),? *$", ln)
        if m and cur is not None:
            rest = m.group(2)
            col = {"required": rest.endswith(" NOT NULL")}
            rest = rest.removesuffix(" NOT NULL")
            tm = re.match(r"(.*?)(?: \((\d+)(?:, (\d+))?\))?$", rest)
            col["type"] = tm.group(1)
            if tm.group(2) and tm.group(1) == "Text":
                col["size"] = int(tm.group(2))
            elif tm.group(3) and tm.group(1) == "Numeric":
                # calculated columns come out as "Numeric (39)": no scale, nothing to compare
                col["precision"], col["scale"] = int(tm.group(2)), int(tm.group(3))
            cur[m.group(1)] = col
    return tables


def mdbreader_dump(path, password, node_modules):
    node = shutil.which("node")
    if not node:
        raise Unavailable("node not installed")
    cmd = [node, os.path.join(HERE, "mdb_reader_dump.mjs"), path]
    if password is not None:
        cmd += ["--password", password]
    if node_modules:
        cmd += ["--node-modules", node_modules]
    doc = json.loads(run(cmd, "mdb-reader"))
    return {t["name"]: t for t in doc["tables"]}


def version_byte(path):
    with open(path, "rb") as f:
        head = f.read(0x15)
    return head[0x14] if len(head) > 0x14 else None


# ---- comparison -------------------------------------------------------------

class Report:
    def __init__(self, max_diffs):
        self.max_diffs = max_diffs
        self.count = 0

    def diff(self, where, text):
        self.count += 1
        if self.count <= self.max_diffs:
            print(f"  DIFF {where}: {text}")
        elif self.count == self.max_diffs + 1:
            print("  ... (further differences not shown)")


def compare_columns(rep, table, ours, tools, rdr, jet3):
    """Compares the three column descriptions; returns {column: kind} for our columns."""
    where = f"{table} columns"
    rdr_cols = {c["name"]: c for c in rdr}
    names = {OURS: set(ours), MDBTOOLS: set(tools), MDBREADER: set(rdr_cols)}
    for r in (MDBTOOLS, MDBREADER):
        if names[r] != names[OURS]:
            rep.diff(where, f"ours only {sorted(names[OURS] - names[r])}, "
                            f"{READER_NAMES[r]} only {sorted(names[r] - names[OURS])}")
    kinds = {}
    for name, oc in ours.items():
        k = {OURS: KIND_OF[OURS].get(oc["type"])}
        if name in tools:
            k[MDBTOOLS] = KIND_OF[MDBTOOLS].get(tools[name]["type"])
        if name in rdr_cols:
            k[MDBREADER] = KIND_OF[MDBREADER].get(rdr_cols[name]["type"])
        if len(set(k.values())) != 1 or None in k.values():
            rep.diff(f"{where} {name}", "type: ours %r, mdbtools %r, mdb-reader %r" % (
                oc["type"], tools.get(name, {}).get("type"), rdr_cols.get(name, {}).get("type")))
        kind = k[OURS] or k.get(MDBREADER) or "text"
        kinds[name] = kind
        tc, rc = tools.get(name, {}), rdr_cols.get(name, {})
        if kind == "text":
            # mdb-reader counts bytes; Jet4 and later keep two bytes per character
            rsize = rc.get("size")
            if rsize is not None and not jet3:
                rsize //= 2
            sizes = (oc.get("size"), tc.get("size", oc.get("size")), rsize if rc else oc.get("size"))
            if len(set(sizes)) != 1:
                rep.diff(f"{where} {name}", f"text size: ours {sizes[0]}, mdbtools {sizes[1]}, mdb-reader {sizes[2]}")
        if kind == "decimal":
            ps = [(oc.get("precision"), oc.get("scale"))]
            if "precision" in tc:
                ps.append((tc.get("precision"), tc.get("scale")))
            if rc:
                ps.append((rc.get("precision"), rc.get("scale")))
            if len(set(ps)) != 1:
                rep.diff(f"{where} {name}", f"precision/scale: {ps}")
        if rc and kind in ("long", "guid"):
            rauto = rc.get("autoLong") if kind == "long" else rc.get("autoUUID")
            if rauto is not None and rauto != oc["auto"]:
                rep.diff(f"{where} {name}", f"AutoNumber: ours {oc['auto']}, mdb-reader {rauto}")
        # mdbtools marks every Yes/No column NOT NULL; mdb-reader 3.2 calls every
        # column nullable, so only mdbtools is asked
        if kind != "boolean" and tc and tc["required"] != oc["required"]:
            rep.diff(f"{where} {name}", f"required: ours {oc['required']}, mdbtools {tc['required']}")
    return kinds


def by_name(header, rows):
    """Rows as {column: cell} dictionaries."""
    return [dict(zip(header, r)) for r in rows]


def compare_rows(rep, table, kinds, sources):
    """sources: {reader: list of {column: raw cell}}; compares cell by cell in order."""
    counts = {r: len(rows) for r, rows in sources.items()}
    if len(set(counts.values())) != 1:
        rep.diff(f"{table} rows", ", ".join(f"{READER_NAMES.get(r, r)} {n}" for r, n in counts.items()))
    n = min(counts.values())
    readers = list(sources)
    for i in range(n):
        for col, kind in kinds.items():
            vals = {}
            for r in readers:
                if kind in NOT_COMPARED.get(r, ()) or col not in sources[r][i]:
                    continue
                vals[r] = canon(kind, sources[r][i][col])
            for a in range(len(readers)):
                for b in range(a + 1, len(readers)):
                    ra, rb = readers[a], readers[b]
                    if ra in vals and rb in vals and not same(kind, vals[ra], vals[rb]):
                        sa, sb = show_pair(vals[ra], vals[rb])
                        rep.diff(f"{table} row {i + 1} {col}",
                                 f"{READER_NAMES.get(ra, ra)} {sa}, {READER_NAMES.get(rb, rb)} {sb}")
    return counts


def check_file(args, path, expect, rep):
    pw = ["--password", args.password] if args.password is not None else []
    before = rep.count
    jet3 = version_byte(path) == 0
    t_ours = ours_tables(args.cli, path, pw)
    t_tools = run(["mdb-tables", "-1", path], "mdb-tables").splitlines()
    dump = mdbreader_dump(path, args.password, args.node_modules)
    print(f"{path}: {len(t_ours)} user tables")
    sets = {OURS: set(t_ours), MDBTOOLS: set(t_tools), MDBREADER: set(dump)}
    for r in (MDBTOOLS, MDBREADER):
        if sets[r] != sets[OURS]:
            rep.diff("tables", f"ours only {sorted(sets[OURS] - sets[r])}, "
                               f"{READER_NAMES[r]} only {sorted(sets[r] - sets[OURS])}")
    if expect is not None and set(expect) != sets[OURS]:
        rep.diff("tables", f"expected {sorted(expect)}, ours {sorted(sets[OURS])}")
    s_ours = ours_schema(args.cli, path, pw)
    s_tools = mdbtools_schema(path)
    for table in t_ours:
        if table not in sets[MDBTOOLS] or table not in sets[MDBREADER]:
            continue
        start = rep.count
        d = dump[table]
        if "error" in d:
            rep.diff(table, f"mdb-reader: {d['error']}")
            continue
        kinds = compare_columns(rep, table, s_ours.get(table, {}), s_tools.get(table, {}), d["columns"], jet3)
        ours = read_csv(run([args.cli, "export", path, table] + pw, "tabulary-cli export"))
        theirs = read_csv(run(["mdb-export", "-b", "hex", "-D", ISO, "-T", ISO, path, table], "mdb-export"))
        if ours and list(kinds) != ours[0]:
            rep.diff(f"{table} columns", f"export header {ours[0]} differs from schema {list(kinds)}")
        if theirs and sorted(theirs[0]) != sorted(ours[0] if ours else []):
            rep.diff(f"{table} columns", f"mdb-export header {theirs[0]}")
        rnames = [c["name"] for c in d["columns"]]
        sources = {
            OURS: by_name(ours[0], ours[1:]) if ours else [],
            MDBTOOLS: by_name(theirs[0], theirs[1:]) if theirs else [],
            MDBREADER: by_name(rnames, d["rows"]),
        }
        counts = compare_rows(rep, table, kinds, sources)
        note = "3 readers agree"
        readers_for = [sum(k not in NOT_COMPARED[r] for r in (OURS, MDBTOOLS, MDBREADER)) for k in kinds.values()]
        if readers_for.count(2):
            note += f"; values of {readers_for.count(2)} column(s) from 2 readers only"
        if sum(n < 2 for n in readers_for):
            note += f"; values of {sum(n < 2 for n in readers_for)} column(s) not compared"
        if expect is not None and table in expect:
            e = expect[table]
            if e.get("columns") != (ours[0] if ours else []):
                rep.diff(f"{table} columns", f"expected {e.get('columns')}, ours {ours[0] if ours else []}")
            exp_rows = by_name(e.get("columns", []), e.get("rows", []))
            compare_rows(rep, table, kinds, {OURS: sources[OURS], "expected": exp_rows})
            note += ", as expected"
        if rep.count > start:
            note = f"{rep.count - start} differences"
        print(f"{table}: {counts[OURS]} rows, {len(kinds)} columns, {note}")
    return rep.count == before


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("cli", help="the tabulary-cli binary")
    ap.add_argument("files", nargs="+", metavar="FILE")
    ap.add_argument("--expect", help="JSON file with the intended content (one FILE only)")
    ap.add_argument("--password")
    ap.add_argument("--node-modules", default=os.environ.get("TABULARY_NODE_MODULES"),
                    help="node_modules folder holding mdb-reader (default: $TABULARY_NODE_MODULES)")
    ap.add_argument("--corpus", help="FILEs are relative to DIR/files; $TABULARY_CORPUS overrides DIR")
    ap.add_argument("--skip-missing", action="store_true", help="skip FILEs that do not exist")
    ap.add_argument("--max-diffs", type=int, default=10, help="differences shown per file")
    args = ap.parse_args()
    if args.expect and len(args.files) != 1:
        ap.error("--expect needs exactly one FILE")
    for tool in ("mdb-tables", "mdb-schema", "mdb-export"):
        if not shutil.which(tool):
            print(f"{tool} not installed: skipped")
            return SKIP
    files = args.files
    if args.corpus:
        base = os.path.join(os.environ.get("TABULARY_CORPUS") or args.corpus, "files")
        files = [os.path.join(base, f) for f in files]
    if args.skip_missing:
        files = [f for f in files if os.path.exists(f)]
        if not files:
            print("none of the files exist: skipped")
            return SKIP
    expect = None
    if args.expect:
        with open(args.expect, encoding="utf-8") as f:
            expect = json.load(f)
    ok = True
    try:
        for path in files:
            rep = Report(args.max_diffs)
            try:
                good = check_file(args, path, expect, rep)
            except RuntimeError as e:
                print(f"{path}: {e}")
                good = False
            ok = ok and good
    except Unavailable as e:
        print(f"reader unavailable: {e}: skipped")
        return SKIP
    print("all readers agree" if ok else "readers DIFFER")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
