#!/usr/bin/env python3
"""Statements that change a database, checked by three independent readers.

  changes_oracle.py CLI SUITE_SQL CHANGES_TEST --corpus DIR [--node-modules DIR]

1. Every change case of CHANGES_TEST runs, step by step, through
   `tabulary-cli query` on a fresh copy of the database SUITE_SQL makes.
   After each step that changes the file: `tabulary-cli check` finds no error,
   and tabulary-cli, mdbtools and mdb-reader agree on the user tables and on
   every column and cell of each of them.
2. Copies of Access-made Jet4 and ACE files of the corpus get statements built
   from their schema (UPDATE, INSERT ... SELECT of a row under a new key,
   DELETE, CREATE TABLE / INSERT / DROP TABLE), with the same checks on the
   tables touched. A refusal naming something this program does not support
   counts as a skip; Access 97 files must be refused as read-only and stay
   unchanged.

Exit 0 when all agree, 1 on any difference or failure, 77 when mdbtools,
node or mdb-reader (or the corpus) is missing."""
import argparse
import csv
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile

import three_readers as tr

# Access-made files of the corpus (relative to its files folder) and what they
# exercise; tables with foreign keys are left alone (deletes would meet the
# relationship rules, which is not what this battery is about).
CORPUS_FILES = [
    "jackcess/V2000/compIndexTestV2000.mdb",   # 512 rows, composite indexes
    "jackcess/V2000/test2V2000.mdb",           # memo, OLE, non-ASCII text, no primary key
    "jackcess/V2000/indexTestV2000.mdb",       # several indexed tables
    "jackcess/V2003/testUnicodeCompV2003.mdb", # compressed Unicode text
    "jackcess/V2003/testV2003.mdb",            # currency, GUID
    "ucanaccess/functionsV2003.mdb",           # memo, decimal
    "jackcess/V2007/testV2007.accdb",          # currency, dates, GUID AutoNumber
    "jackcess/V2007/compIndexTestV2007.accdb",
    "jackcess/V2010/fixedNumericTestV2010.accdb",  # decimal
    "jackcess/V2010/calcFieldTestV2010.accdb", # calculated columns
    "jackcess/V2007/complexDataTestV2007.accdb",   # complex columns
    "mdb-reader/V2016/currency.accdb",
    "ucanaccess/float.accdb",                  # single
]
JET3_FILES = ["jackcess/V1997/testV1997.mdb", "jackcess/V1997/compIndexTestV1997.mdb"]
TABLES_PER_FILE = 2
# Words of a refusal for something the program does not do (yet).
UNSUPPORTED_RE = re.compile(r"unsupported|not supported|does not support|does not write yet", re.I)
NUMBER_TYPES = ("Byte", "Integer", "Long Integer", "Single", "Double", "Currency")


class Failure(Exception):
    pass


class Battery:
    def __init__(self, args):
        self.args = args
        self.cli = args.cli
        self.failures = []
        self.skips = []
        self.steps = 0
        self.compared = 0

    def fail(self, where, text):
        self.failures.append(f"{where}: {text}")
        print(f"  FAIL {where}: {text}")

    def query(self, path, sql):
        p = subprocess.run([self.cli, "query", path, sql], capture_output=True, text=True)
        return p.returncode, p.stdout, p.stderr.strip()

    def check(self, path, where):
        p = subprocess.run([self.cli, "check", path], capture_output=True, text=True)
        last = (p.stdout.strip().splitlines() or [""])[-1]
        if p.returncode != 0 or not re.search(r"\b0 errors\b", last):
            errors = [ln for ln in p.stdout.splitlines() if ln.startswith("error")]
            self.fail(where, f"check: {last or p.stderr.strip()}; " + "; ".join(errors[:5]))

    def compare(self, path, where, tables=None):
        """Table names, columns and cells of `tables` (None: every user table) by the three readers."""
        rep = tr.Report(10)
        shown = []
        orig = rep.diff

        def diff(w, text):
            shown.append(f"{w}: {text}")
            orig(f"{where}: {w}", text)

        rep.diff = diff
        t_ours = tr.ours_tables(self.cli, path, [])
        t_tools = tr.run(["mdb-tables", "-1", path], "mdb-tables").splitlines()
        dump = tr.mdbreader_dump(path, None, self.args.node_modules)
        sets = {tr.OURS: set(t_ours), tr.MDBTOOLS: set(t_tools), tr.MDBREADER: set(dump)}
        for r in (tr.MDBTOOLS, tr.MDBREADER):
            if sets[r] != sets[tr.OURS]:
                rep.diff("tables", f"ours only {sorted(sets[tr.OURS] - sets[r])}, "
                                   f"{tr.READER_NAMES[r]} only {sorted(sets[r] - sets[tr.OURS])}")
        s_ours = tr.ours_schema(self.cli, path, [])
        s_tools = tr.mdbtools_schema(path)
        jet3 = tr.version_byte(path) == 0
        for table in t_ours if tables is None else [t for t in tables if t in sets[tr.OURS]]:
            if table not in sets[tr.MDBTOOLS] or table not in sets[tr.MDBREADER]:
                continue
            d = dump[table]
            if "error" in d:
                rep.diff(table, f"mdb-reader: {d['error']}")
                continue
            kinds = tr.compare_columns(rep, table, s_ours.get(table, {}), s_tools.get(table, {}),
                                       d["columns"], jet3)
            ours = tr.read_csv(tr.run([self.cli, "export", path, table], "tabulary-cli export"))
            theirs = tr.read_csv(tr.run(["mdb-export", "-b", "hex", "-D", tr.ISO, "-T", tr.ISO, path, table],
                                        "mdb-export"))
            rnames = [c["name"] for c in d["columns"]]
            tr.compare_rows(rep, table, kinds, {
                tr.OURS: tr.by_name(ours[0], ours[1:]) if ours else [],
                tr.MDBTOOLS: tr.by_name(theirs[0], theirs[1:]) if theirs else [],
                tr.MDBREADER: tr.by_name(rnames, d["rows"]),
            })
            self.compared += 1
        for s in shown:
            self.failures.append(f"{where}: {s}")
        return not shown

    # ---- 1. the change cases ------------------------------------------------

    def suite(self, tmp):
        base = os.path.join(tmp, "suite.mdb")
        p = subprocess.run([self.cli, "create", base, self.args.suite_sql], capture_output=True, text=True)
        if p.returncode != 0:
            raise Failure(f"create {self.args.suite_sql}: {p.stderr.strip()}")
        cases = parse_changes(self.args.changes_test)
        for name, steps in cases:
            copy = os.path.join(tmp, "case.mdb")
            shutil.copyfile(base, copy)
            changed = 0
            for n, (line, sql, head) in enumerate(steps, start=1):
                where = f"case {name} step {n} (line {line})"
                rc, out, err = self.query(copy, sql)
                self.steps += 1
                if head.startswith("error "):
                    if rc == 0:
                        self.fail(where, f"expected an error ({head[6:]}), the statement succeeded")
                    continue
                if rc != 0:
                    self.fail(where, f"{sql!r} failed: {err}")
                    break
                if not head.startswith("affected "):
                    continue  # a SELECT: nothing changed
                m = re.search(r"(\d+) record\(s\) affected", out)
                if not m or f"affected {m.group(1)}" != head:
                    self.fail(where, f"{sql!r}: expected {head}, got {out.strip()!r}")
                self.check(copy, where)
                self.compare(copy, where)
                changed += 1
            print(f"case {name}: {len(steps)} steps, {changed} compared")
        return len(cases)

    # ---- 2. corpus copies ---------------------------------------------------

    def run_step(self, path, where, sql, tables):
        """One statement on a corpus copy; False when it was refused as unsupported."""
        self.steps += 1
        rc, out, err = self.query(path, sql)
        if rc != 0:
            if UNSUPPORTED_RE.search(err):
                self.skips.append(f"{where}: {sql} -> {err}")
                print(f"  skip {where}: {err}")
                return False
            self.fail(where, f"{sql!r} failed: {err}")
            return False
        self.check(path, where)
        self.compare(path, where, tables)
        return True

    def corpus_file(self, src, rel, tmp):
        copy = os.path.join(tmp, os.path.basename(rel))
        shutil.copyfile(src, copy)
        schema = parse_schema(tr.run([self.cli, "schema", copy], "tabulary-cli schema"))
        picked = 0
        for table, (cols, indexes) in schema.items():
            if picked == TABLES_PER_FILE:
                break
            if any("foreign key" in ix["flags"] for ix in indexes):
                continue
            plan = plan_table(table, cols, indexes, read_rows(self.cli, copy, table))
            if not plan:
                continue
            picked += 1
            print(f"{rel} {table}: {len(plan)} statements")
            for what, sql in plan:
                self.run_step(copy, f"{rel} {table} {what}", sql, [table])
        new = unused_name(schema, "TabularyNew")
        where = f"{rel} {new}"
        if self.run_step(copy, f"{where} create", f"CREATE TABLE [{new}] (ID COUNTER PRIMARY KEY, "
                         "Name TEXT(50) NOT NULL, Amount CURRENCY, Seen DATETIME, N LONG)", [new]):
            if self.run_step(copy, f"{where} insert",
                             f"INSERT INTO [{new}] (Name, Amount, Seen, N) VALUES ('Zoë', 12.5, #2024-02-29 13:45:00#, 7)",
                             [new]):
                self.run_step(copy, f"{where} insert select",
                              f"INSERT INTO [{new}] (Name, N) SELECT Name & ' again', N + 1 FROM [{new}]", [new])
            self.run_step(copy, f"{where} drop", f"DROP TABLE [{new}]", [])
        return picked

    def jet3_file(self, src, rel, tmp):
        copy = os.path.join(tmp, os.path.basename(rel))
        shutil.copyfile(src, copy)
        with open(copy, "rb") as f:
            before = f.read()
        schema = parse_schema(tr.run([self.cli, "schema", copy], "tabulary-cli schema"))
        table = next(iter(schema), "Nothing")
        for sql in (f"DELETE FROM [{table}]", "CREATE TABLE Tabulary97 (ID LONG)"):
            self.steps += 1
            rc, _, err = self.query(copy, sql)
            where = f"{rel} {sql}"
            if rc == 0:
                self.fail(where, "an Access 97 file was changed")
            elif not ("Access 97" in err and "read-only" in err):
                self.fail(where, f"refusal does not say Access 97 files are read-only: {err}")
            else:
                self.skips.append(f"{where} -> {err}")
        with open(copy, "rb") as f:
            if f.read() != before:
                self.fail(rel, "the refused statements changed the file")
        print(f"{rel}: refused as read-only")


def parse_changes(path):
    """[(case name, [(line, statement, first expected line)])] of the change cases."""
    with open(path, encoding="utf-8") as f:
        lines = [ln.rstrip("\r\n") for ln in f]
    cases, i = [], 0
    while i < len(lines):
        words = lines[i].split()
        if not words or lines[i].startswith("#"):
            i += 1
            continue
        if words[0] != "change":
            while i < len(lines) and lines[i].strip():
                i += 1
            continue
        name, steps = words[1], []
        i += 1
        while i < len(lines) and lines[i].strip():
            start, sql = i + 1, []
            while i < len(lines) and lines[i].strip() and lines[i].rstrip() != "----":
                sql.append(lines[i].rstrip())
                i += 1
            if i == len(lines) or lines[i].rstrip() != "----" or not sql:
                raise Failure(f"{path}:{start}: a step needs its statement and a '----' line")
            i += 1
            expected = []
            while i < len(lines) and lines[i].strip() and lines[i].rstrip() != "====":
                expected.append(lines[i])
                i += 1
            if not expected:
                raise Failure(f"{path}:{start}: a step needs what it gives after '----'")
            steps.append((start, "\n".join(sql), expected[0]))
            if i < len(lines) and lines[i].rstrip() == "====":
                i += 1
        cases.append((name, steps))
    return cases


def parse_schema(text):
    """{table: ([(column, type text)], [{"columns", "flags"}])} from `tabulary-cli schema`."""
    tables, cur = {}, None
    for ln in text.splitlines():
        if ln.startswith("TABLE "):
            cur = tables.setdefault(ln[6:], ([], []))
        elif cur is None:
            continue
        elif ln.startswith("  INDEX "):
            m = re.match(r"  INDEX .*? \((.*)\)(.*)$", ln)
            if m:
                cur[1].append({"columns": [c.strip() for c in m.group(1).split(",")], "flags": m.group(2)})
        elif ln.startswith("  "):
            name, _, rest = ln[2:].partition("\t")
            cur[0].append((name, rest))
    return tables


def read_rows(cli, path, table):
    rows = tr.read_csv(tr.run([cli, "export", path, table], "tabulary-cli export"))
    return (rows[0], [dict(zip(rows[0], r)) for r in rows[1:]]) if rows else ([], [])


def base_type(rest):
    m = re.match(r"(AutoNumber|Large Number|Long Integer|Replication ID|Date/Time Extended|[A-Za-z/ ]+?)"
                 r"(?:\((\d+)(?:,\d+)?\))?(?: |$)", rest)
    return (m.group(1), int(m.group(2)) if m.group(2) else None) if m else (rest, None)


def literal(type_name, value):
    if type_name in NUMBER_TYPES or type_name == "AutoNumber":
        return value
    return "'" + value.replace("'", "''") + "'"


def plan_table(table, cols, indexes, rows):
    """Statements for one table from its schema and rows: UPDATE, INSERT ... SELECT, DELETE."""
    header, data = rows
    if not data:
        return []
    types = {name: base_type(rest) for name, rest in cols}
    unique_cols = {c for ix in indexes if "unique" in ix["flags"] for c in ix["columns"]}
    pk = next((ix["columns"] for ix in indexes if "primary key" in ix["flags"]), None)
    simple = lambda c: types[c][0] in NUMBER_TYPES + ("Text", "AutoNumber")
    if pk and (len(pk) != 1 or not simple(pk[0])):
        return []
    key = pk[0] if pk else next((c for c in header if types[c][0] in ("Long Integer", "Integer", "Text")
                                 and c not in unique_cols and all(r[c] for r in data)), None)
    if key is None:
        return []
    kt = types[key][0]
    t = f"[{table}]"
    where = lambda row: f"[{key}] = {literal(kt, row[key])}"
    # a one-row table loses its original row and keeps the copy
    first, second = data[0], data[1] if len(data) > 1 else data[0]
    plan = []
    # UPDATE: a text or number column outside unique indexes, on the first row
    target = next((c for c, (ty, _) in types.items() if c != key and c not in unique_cols
                   and "calculated" not in dict(cols)[c] and ty in ("Text",) + NUMBER_TYPES), None)
    if target:
        ty, size = types[target]
        value = literal("Text", "Changed ü"[:size or 255]) if ty == "Text" else "42"
        plan.append(("update", f"UPDATE {t} SET [{target}] = {value} WHERE {where(first)}"))
    # INSERT ... SELECT: the first row again under a new key (AutoNumber keys are given one)
    if pk and not (unique_cols - {key}):
        copy_cols = [c for c, rest in cols if types[c][0] not in ("AutoNumber", "Complex")
                     and "calculated" not in rest and not (types[c][0] == "Replication ID" and "AutoNumber" in rest)]
        if kt == "AutoNumber":
            exprs = [f"[{c}]" for c in copy_cols]
        elif kt == "Text":
            used = {r[key] for r in data}
            new = next(f"N{i}" for i in range(10 ** 6) if f"N{i}" not in used)
            exprs = [literal("Text", new) if c == key else f"[{c}]" for c in copy_cols]
        else:
            new = str(max(int(float(r[key])) for r in data) + 1)
            exprs = [new if c == key else f"[{c}]" for c in copy_cols]
        if key in copy_cols or kt == "AutoNumber":
            plan.append(("insert select", f"INSERT INTO {t} ({', '.join(f'[{c}]' for c in copy_cols)}) "
                                          f"SELECT {', '.join(exprs)} FROM {t} WHERE {where(first)}"))
    plan.append(("delete", f"DELETE FROM {t} WHERE {where(second)}"))
    return plan


def unused_name(schema, stem):
    names = {n.lower() for n in schema}
    return next(f"{stem}{i}" for i in range(1, 1000) if f"{stem}{i}".lower() not in names)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("cli")
    ap.add_argument("suite_sql")
    ap.add_argument("changes_test")
    ap.add_argument("--corpus", help="the corpus folder; $TABULARY_CORPUS overrides it")
    ap.add_argument("--node-modules", default=os.environ.get("TABULARY_NODE_MODULES"))
    args = ap.parse_args()
    for tool in ("mdb-tables", "mdb-schema", "mdb-export"):
        if not shutil.which(tool):
            print(f"{tool} not installed: skipped")
            return tr.SKIP
    bat = Battery(args)
    files = 0
    try:
        with tempfile.TemporaryDirectory(prefix="tabulary-changes-") as tmp:
            cases = bat.suite(tmp)
            corpus = os.environ.get("TABULARY_CORPUS") or args.corpus
            base = os.path.join(corpus, "files") if corpus else None
            if base and os.path.isdir(base):
                for rel in CORPUS_FILES + JET3_FILES:
                    src = os.path.join(base, rel)
                    if not os.path.exists(src):
                        print(f"{rel}: not in the corpus")
                        continue
                    files += 1
                    (bat.jet3_file if rel in JET3_FILES else bat.corpus_file)(src, rel, tmp)
            else:
                print("corpus absent: only the change cases ran")
    except tr.Unavailable as e:
        print(f"reader unavailable: {e}: skipped")
        return tr.SKIP
    except (Failure, RuntimeError) as e:
        print(f"FAIL: {e}")
        return 1
    print(f"{cases} change cases, {files} corpus files, {bat.steps} statements, "
          f"{bat.compared} tables compared, {len(bat.skips)} skips, {len(bat.failures)} failures")
    for s in bat.skips:
        print(f"  skipped: {s}")
    for f in bat.failures:
        print(f"  failed: {f}")
    return 1 if bat.failures else 0


if __name__ == "__main__":
    sys.exit(main())
