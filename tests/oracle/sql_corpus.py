#!/usr/bin/env python3
"""Runs a battery of Access SQL statements through `tabulary-cli query` on
every table of every corpus file, and compares the rows with mdbtools'
mdb-sql where mdb-sql understands the same statement.

  sql_corpus.py CLI FILES_DIR [--max-diffs N] [--timeout S]

FILES_DIR is the corpus' files/ folder ($TABULARY_CORPUS/files overrides it);
passwords come from the catalogue.json beside it. Per table (first column c):

  all       SELECT * FROM [t]                      rows = Count(*); vs mdb-sql
  count     SELECT Count(*) FROM [t]               vs mdb-sql
  top       SELECT TOP 5 <cols> FROM [t]           vs mdb-sql (no ORDER BY: data order)
  top-order SELECT TOP 5 * FROM [t] ORDER BY [c]   min(5, n) rows, more only on ties
  where     ... WHERE [c] = <c of the first row>   the first row among them; vs mdb-sql
  nulls     SELECT Count(*) ... WHERE [c] IS NULL  the empty cells of c in `all`
  group     SELECT [c], Count(*) ... GROUP BY [c]  counts add up to n
  distinct  SELECT DISTINCT [c] FROM [t]           as many rows as groups
  like      SELECT Count(*) ... WHERE [c] LIKE p   ANSI-92 patterns (% _ wildcards, * ? plain)
                                                   counted from `all` (text columns);
                                                   rows of LIKE 'x%' vs mdb-sql

mdb-sql (mdbtools 1.0) has no ORDER BY, GROUP BY, DISTINCT, aliases, joins,
IS NULL, nor Count(*) with WHERE (it crashes); it prints dates as
mm/dd/yy hh:mm:ss, Yes/No as 1/0 and rows without quoting, so tables whose
values hold line breaks, and columns it cannot print (binary, OLE, complex,
Large Number, Date/Time Extended, calculated columns, which it leaves Null
or 0), are not compared; it filters no Memo column, it prints every date
before 1900 as 01/00/00 00:00:00. Two kinds of difference are reported apart
and fail nothing: a Count(*) of mdb-sql that differs from the rows it lists
itself, and TOP without ORDER BY keeping other rows of an otherwise equal
table (the order is undefined).

A statement may fail with exit code 1 and a message; a signal, another exit
code or a hang is a crash. Exit 0 when nothing crashed and every check and
comparison holds, 1 otherwise, 77 when mdbtools or the corpus is missing."""
import argparse
import csv
import io
import json
import math
import os
import shutil
import subprocess
import sys
import time
from collections import Counter

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import three_readers as tr  # noqa: E402  (value normalisation shared with that oracle)

csv.field_size_limit(1 << 30)
SKIP = 77
SEP = "\x1f"  # mdb-sql's column delimiter: a byte no corpus text holds
# Kinds whose values mdb-sql prints in a form we can read back.
PEER_KINDS = {"boolean", "byte", "integer", "long", "currency", "single", "double",
              "datetime", "text", "memo", "guid", "decimal"}
# Kinds whose first-row value, written back as a literal, must find that row.
EXACT_KINDS = {"boolean", "byte", "integer", "long", "currency", "decimal", "text"}
# Kinds Access cannot group or compare.
UNGROUPABLE = {"memo", "ole", "binary", "complex"}


class Outcome:
    def __init__(self, code, out, err, crashed):
        self.code, self.out, self.err, self.crashed = code, out, err, crashed


def run(cmd, stdin=None, timeout=30.0):
    try:
        p = subprocess.run(cmd, input=stdin, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return Outcome(None, "", f"no answer after {timeout:g} s", True)
    out = p.stdout.decode("utf-8", "replace")
    err = p.stderr.decode("utf-8", "replace").strip()
    return Outcome(p.returncode, out, err, p.returncode < 0)


class Battery:
    def __init__(self, args):
        self.args = args
        self.stats = Counter()
        self.diffs = []       # (where, text)
        self.crashes = []     # (where, text)
        self.failures = []    # (where, message): ours exit 1
        self.check_fails = []  # (where, text): a rule our answer breaks
        self.explained = []   # (where, text): an mdb-sql defect or undefined order accounts for it

    # ---- ours ---------------------------------------------------------------
    def ours(self, where, path, pw, sql):
        """Rows (header first) or None when the statement failed or crashed."""
        self.stats["queries"] += 1
        o = run([self.args.cli, "query", path, sql, "--csv"] + pw, timeout=self.args.timeout)
        if o.crashed or o.code not in (0, 1) or (o.code == 1 and not o.err):
            self.crashes.append((where, f"{sql}: exit {o.code} {o.err[:200]}"))
            return None
        if o.code == 1:
            self.failures.append((where, f"{sql}: {o.err[:200]}"))
            return None
        return list(csv.reader(io.StringIO(o.out, newline="")))

    def check(self, where, ok, text):
        self.stats["checks"] += 1
        if not ok:
            self.check_fails.append((where, text))

    # ---- mdb-sql ------------------------------------------------------------
    def peer(self, path, sql):
        """(header, rows) from mdb-sql, or None where it does not answer."""
        o = run(["mdb-sql", "-FP", "-d", SEP, path], stdin=(sql + "\n").encode("utf-8"),
                timeout=self.args.timeout)
        # mdb-sql exits 0 after syntax errors; only its message tells
        if o.crashed or o.code != 0 or "Got no result" in o.err or "syntax error" in o.err:
            self.stats["peer unsupported"] += 1
            return None
        lines = o.out.split("\n")
        if lines and lines[0] == "":
            lines = lines[1:]
        if lines and lines[-1] == "":
            lines = lines[:-1]
        if not lines:
            return None
        return lines[0].split(SEP), [ln.split(SEP) for ln in lines[1:]]

    def compare(self, where, sql_ours, ours, sql_peer, path, kinds, aggregate=False,
                explain=None):
        """Compares our rows with mdb-sql's as multisets of normalised rows.
        Returns (ours, theirs) as multisets, None when nothing was compared.
        `explain(ours, theirs)` names a known reason for a difference."""
        theirs = self.peer(path, sql_peer)
        if theirs is None or ours is None:
            return None
        self.stats["compared"] += 1
        t_head, t_rows = theirs
        o_head, o_rows = ours[0], ours[1:]
        # mdb-sql names an aggregate "count", Access Expr1000: only the values count
        if not aggregate and [h.lower() for h in t_head] != [h.lower() for h in o_head]:
            self.diffs.append((where, f"{sql_ours}: columns {o_head}, mdb-sql {t_head}"))
            return None
        bad = [r for r in t_rows if len(r) != len(t_head)]
        if bad:
            self.diffs.append((where, f"{sql_peer}: mdb-sql row with {len(bad[0])} cells"))
            return None
        ks = [kinds.get(h, "text") for h in o_head]
        a = Counter(tuple(norm(k, v, False) for k, v in zip(ks, r)) for r in o_rows)
        b = Counter(tuple(norm(k, v, True) for k, v in zip(ks, r)) for r in t_rows)
        if a == b:
            self.stats["agree"] += 1
            return a, b
        only_a, only_b = list((a - b).elements()), list((b - a).elements())
        text = f"{sql_ours}: {len(o_rows)} rows, mdb-sql {len(t_rows)}"
        if only_a or only_b:
            text += f"; ours only {show_row(only_a)}, mdb-sql only {show_row(only_b)}"
        reason = explain(a, b) if explain else None
        if reason:
            self.explained.append((where, f"{text} [{reason}]"))
        else:
            self.diffs.append((where, text))
        return a, b


def norm(kind, v, peer):
    """A cell as a comparable value; mdb-sql's dates and numbers differ in form."""
    if v == "":
        return None
    if kind == "datetime":
        if peer:
            return v
        d = tr.parse_date(v)
        if d is None:
            return ("?", v)
        if d.year < 1900:
            # mdbtools 1.0 prints every date before 1900 so
            return "01/00/00 00:00:00"
        # mdb-sql's mm/dd/yy hh:mm:ss, two-digit year and all
        return d.strftime("%m/%d/%y %H:%M:%S")
    c = tr.canon(kind, v)
    if kind in ("single", "double") and isinstance(c, float) and math.isfinite(c):
        # ours 7 / 15 significant digits, mdb-sql more: compare at 6 / 14
        return float(f"{c:.{6 if kind == 'single' else 14}g}")
    return c


def show_row(rows):
    if not rows:
        return "-"
    r = rows[0]
    s = "(" + ", ".join(tr.show(v) for v in r) + ")"
    return s + (f" and {len(rows) - 1} more" if len(rows) > 1 else "")


def literal(kind, v):
    """Access literal for a value as `query --csv` prints it; None if none fits."""
    if kind in ("byte", "integer", "long", "currency", "decimal", "single", "double", "bigint"):
        return v
    if kind == "boolean":
        return {"True": "True", "False": "False"}.get(v)
    if kind == "text":
        return "'" + v.replace("'", "''") + "'"
    if kind == "datetime":
        return f"#{v}#" if tr.parse_date(v) else None
    return None


def bracket(name):
    return "[" + name + "]"


def check_table(b, path, pw, table, cols, calculated, peer_ok):
    where = f"{os.path.relpath(path, b.args.files)} [{table}]"
    t = bracket(table)
    kinds = {c: tr.KIND_OF[tr.OURS].get(info["type"], "text") for c, info in cols.items()}

    rows = b.ours(where, path, pw, f"SELECT * FROM {t}")
    cnt = b.ours(where, path, pw, f"SELECT Count(*) FROM {t}")
    n = None
    if cnt is not None:
        b.check(where, len(cnt) == 2 and len(cnt[1]) == 1 and cnt[1][0].isdigit(),
                f"Count(*) answered {cnt[1:]}")
        if len(cnt) == 2 and cnt[1] and cnt[1][0].isdigit():
            n = int(cnt[1][0])
    if rows is not None and n is not None:
        b.check(where, len(rows) - 1 == n, f"SELECT * gave {len(rows) - 1} rows, Count(*) {n}")
    if rows is None or not rows:
        return
    header = rows[0]
    n = len(rows) - 1 if n is None else n
    first = header[0] if header else None

    # mdb-sql comparisons, on the columns it prints readably
    # mdbtools reads no calculated column (it gives Null or 0)
    peer_cols = [h for h in header if kinds.get(h) in PEER_KINDS and h not in calculated]
    printable = not any(("\n" in v or "\r" in v or SEP in v) for r in rows[1:] for v in r)
    full = listed = None
    if peer_ok and peer_cols and printable:
        lst = ", ".join(bracket(c) for c in peer_cols)
        sql = f"SELECT {lst} FROM {t}"
        full = b.compare(where, sql, rows if peer_cols == header else b.ours(where, path, pw, sql),
                         sql, path, kinds)
        listed = sum(full[1].values()) if full else None

    def stale_count(a, theirs):
        # its own listing of the table disagrees with its Count(*)
        return "mdb-sql's Count(*) differs from the rows it lists itself" \
            if listed is not None and a == Counter({(listed,): 1}) else None

    if peer_ok and cnt is not None:
        b.compare(where, "SELECT Count(*)", cnt, f"SELECT Count(*) FROM {t}", path,
                  {cnt[0][0]: "long"} if cnt and cnt[0] else {}, aggregate=True,
                  explain=stale_count)
    if peer_ok and peer_cols and printable:

        def scan_order(a, theirs):
            # without ORDER BY the rows TOP keeps depend on the scan order
            if full and full[0] == full[1] and sum(a.values()) == sum(theirs.values()) \
                    and not (a - full[0]) and not (theirs - full[0]):
                return "other rows of the same table: scan order, undefined without ORDER BY"
            return None

        sql = f"SELECT TOP 5 {lst} FROM {t}"
        b.compare(where, sql, b.ours(where, path, pw, sql), sql, path, kinds, explain=scan_order)
    if first is None:
        return
    c, kind = bracket(first), kinds.get(first, "text")

    top = b.ours(where, path, pw, f"SELECT TOP 5 * FROM {t} ORDER BY {c}")
    if top is not None and kind not in UNGROUPABLE:
        got = len(top) - 1
        # TOP keeps every row tied with the last one
        b.check(where, min(5, n) <= got <= n, f"TOP 5 ORDER BY {first}: {got} rows of {n}")

    if n > 0:
        v = rows[1][0]
        lit = literal(kind, v) if v != "" else None
        if v == "" and kind != "text":
            sql = f"SELECT * FROM {t} WHERE {c} IS NULL"
        elif lit is not None:
            sql = f"SELECT * FROM {t} WHERE {c} = {lit}"
        else:
            sql = None
        if sql:
            got = b.ours(where, path, pw, sql)
            # a Double printed with 15 digits may not find itself again
            if got is not None and (v == "" or kind in EXACT_KINDS):
                b.check(where, any(r == rows[1] for r in got[1:]),
                        f"{sql}: the first row is not among {len(got) - 1} rows")
            if peer_ok and lit is not None and kind in ("byte", "integer", "long", "text") \
                    and printable and peer_cols:
                lst = ", ".join(bracket(x) for x in peer_cols)
                sql = f"SELECT {lst} FROM {t} WHERE {c} = {lit}"
                b.compare(where, sql, b.ours(where, path, pw, sql), sql, path, kinds)

    nulls = b.ours(where, path, pw, f"SELECT Count(*) FROM {t} WHERE {c} IS NULL")
    if nulls is not None and kind not in ("text", "memo"):
        # a CSV cell is empty only for Null outside text
        empty = sum(1 for r in rows[1:] if r and r[0] == "")
        b.check(where, nulls[1:] == [[str(empty)]],
                f"IS NULL counted {nulls[1:]}, {empty} empty cells")

    if kind not in UNGROUPABLE:
        grp = b.ours(where, path, pw, f"SELECT {c}, Count(*) AS N FROM {t} GROUP BY {c}")
        dis = b.ours(where, path, pw, f"SELECT DISTINCT {c} FROM {t}")
        if grp is not None:
            total = sum(int(r[1]) for r in grp[1:] if len(r) == 2 and r[1].isdigit())
            b.check(where, total == n, f"GROUP BY {first}: counts add up to {total}, not {n}")
            if dis is not None:
                b.check(where, len(dis) == len(grp),
                        f"DISTINCT {first}: {len(dis) - 1} rows, GROUP BY {len(grp) - 1}")
    if kind in ("text", "memo"):
        # mdb-sql filters no Memo column (no row passes): Text only
        check_like(b, where, path, pw, t, c, rows, nulls,
                   peer_ok and printable and kind == "text", peer_cols, kinds)


# Like patterns (ANSI-92, as the OLE DB providers take them: % and _ are the
# wildcards, * and ? plain characters): whether a non-empty text matches and
# whether a zero-length one does (CSV shows it empty, like Null).
LIKE_CASES = [
    ("%", lambda v: True, True),
    ("_%", lambda v: True, False),
    ("*", lambda v: v == "*", False),
    ("?", lambda v: v == "?", False),
    ("%[!a-z0-9 ]%", None, None),  # only run: brackets and negation
]


def check_like(b, where, path, pw, t, c, rows, nulls, peer_ok, peer_cols, kinds):
    cells = [r[0] for r in rows[1:]]
    nul = nulls[1][0] if nulls is not None and len(nulls) == 2 and nulls[1] else ""
    # the empty cells that are not Null hold a zero-length text
    zero_length = len(cells) - int(nul) - sum(1 for v in cells if v) if nul.isdigit() else None
    for pattern, matches, matches_empty in LIKE_CASES:
        got = b.ours(where, path, pw, f"SELECT Count(*) FROM {t} WHERE {c} LIKE '{pattern}'")
        if got is None or matches is None or zero_length is None:
            continue
        want = sum(1 for v in cells if v and matches(v)) + (zero_length if matches_empty else 0)
        b.check(where, got[1:] == [[str(want)]],
                f"LIKE '{pattern}' counted {got[1:]}, expected {want}")
    # mdb-sql's Like takes the same wildcards; rows, since it cannot count with WHERE
    first = next((r[0] for r in rows[1:] if r[0][:1].isalnum()), None)
    if peer_ok and peer_cols and first:
        lst = ", ".join(bracket(x) for x in peer_cols)
        sql = f"SELECT {lst} FROM {t} WHERE {c} LIKE '{first[0]}%'"
        b.compare(where, sql, b.ours(where, path, pw, sql), sql, path, kinds)


def calculated_columns(cli, path, pw):
    """{table: names of its calculated columns}, from `tabulary-cli schema`."""
    out, table = {}, None
    for ln in tr.run([cli, "schema", path] + pw, "tabulary-cli schema").splitlines():
        if ln.startswith("TABLE "):
            table = ln[6:]
        elif ln.startswith("  ") and not ln.startswith("  INDEX ") and table is not None:
            name, _, rest = ln[2:].partition("\t")
            if " calculated" in rest:
                out.setdefault(table, set()).add(name)
    return out


def load_catalogue(files_dir):
    path = os.path.join(os.path.dirname(os.path.abspath(files_dir)), "catalogue.json")
    try:
        with open(path, encoding="utf-8") as f:
            entries = json.load(f)
        # a file described but not copied has no "file"
        return {os.path.normpath(e["file"]): e for e in entries
                if isinstance(e, dict) and e.get("file")}
    except (OSError, ValueError, TypeError):
        return {}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("cli", help="the tabulary-cli binary")
    ap.add_argument("files", help="the corpus' files/ folder")
    ap.add_argument("--max-diffs", type=int, default=40, help="differences shown")
    ap.add_argument("--timeout", type=float, default=30.0, help="seconds per statement")
    args = ap.parse_args()
    if os.environ.get("TABULARY_CORPUS"):
        args.files = os.path.join(os.environ["TABULARY_CORPUS"], "files")
    if not shutil.which("mdb-sql"):
        print("mdb-sql not installed: skipped")
        return SKIP
    if not os.path.isdir(args.files):
        print(f"no corpus at {args.files}: skipped")
        return SKIP
    paths = sorted(os.path.join(d, f) for d, _, fs in os.walk(args.files) for f in fs
                   if f.lower().endswith((".mdb", ".accdb")))
    if not paths:
        print(f"no .mdb/.accdb under {args.files}: skipped")
        return SKIP
    catalogue = load_catalogue(args.files)
    base = os.path.dirname(os.path.abspath(args.files))
    b = Battery(args)
    start = time.monotonic()
    for path in paths:
        entry = catalogue.get(os.path.normpath(os.path.relpath(path, base)), {})
        pw = ["--password", entry["password"]] if entry.get("password") else []
        # mdb-sql knows no passwords; an encrypted file it cannot open says nothing
        peer_ok = entry.get("mdbtoolsOpens", True) and not entry.get("passwordNeeded")
        where = os.path.relpath(path, args.files)
        b.stats["files"] += 1
        o = run([args.cli, "tables", path] + pw, timeout=args.timeout)
        if o.crashed or o.code not in (0, 1):
            b.crashes.append((where, f"tables: exit {o.code} {o.err[:200]}"))
            continue
        if o.code == 1:
            b.failures.append((where, f"tables: {o.err[:200]}"))
            continue
        tables = [ln.split("\t")[0] for ln in o.out.splitlines()
                  if ln.split("\t")[1:2] == ["table"]]
        try:
            schema = tr.ours_schema(args.cli, path, pw)
            calc = calculated_columns(args.cli, path, pw)
        except RuntimeError as e:
            b.failures.append((where, f"schema: {e}"))
            schema, calc = {}, {}
        for table in tables:
            b.stats["tables"] += 1
            check_table(b, path, pw, table, schema.get(table, {}), calc.get(table, set()), peer_ok)
    s = b.stats
    print(f"{s['files']} files, {s['tables']} tables, {s['queries']} queries through tabulary-cli, "
          f"{s['checks']} checks, {time.monotonic() - start:.1f} s")
    print(f"mdb-sql: {s['compared']} statements compared, {s['agree']} agree, "
          f"{len(b.diffs)} disagree, {len(b.explained)} differ for a known reason, "
          f"{s['peer unsupported']} it did not answer")
    for title, items in (("crashes", b.crashes), ("broken checks", b.check_fails),
                         ("disagreements with mdb-sql", b.diffs),
                         ("explained differences (mdb-sql defect, undefined order)", b.explained),
                         ("statements we refused (exit 1)", b.failures)):
        print(f"{title}: {len(items)}")
        for where, text in items[:args.max_diffs]:
            print(f"  {where}: {text}")
        if len(items) > args.max_diffs:
            print(f"  ... {len(items) - args.max_diffs} more")
    return 1 if b.crashes or b.check_fails or b.diffs else 0


if __name__ == "__main__":
    sys.exit(main())
