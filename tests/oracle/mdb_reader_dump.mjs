// Prints an Access database as the npm package mdb-reader sees it, as one JSON
// document, so that tests can compare it with tabulary-cli and mdbtools.
//
//   node mdb_reader_dump.mjs FILE [--password PW] [--node-modules DIR] [--table NAME]...
//
// DIR (or the environment variable TABULARY_NODE_MODULES) is the node_modules
// folder that holds mdb-reader; scripts/oracle-deps.sh fills one.
// Output: {"reader", "version", "tables": [{"name", "columns": [...], "rows": [[...]]}]}
// with rows in mdb-reader's order (data-page order) and values in column order:
//   null; booleans; numbers as numbers ("NaN", "Infinity", "-Infinity" as text);
//   Large Number as a string of digits; currency and decimal as mdb-reader's
//   decimal text; dates as YYYY-MM-DDTHH:MM:SS[.mmm] (Access keeps wall-clock
//   time, so the UTC fields are that time); binary and OLE as lower-case hex;
//   GUIDs and text as strings.
// Exit 77 when mdb-reader cannot be loaded, 2 on bad usage, 1 when the file
// cannot be read.
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { join, resolve } from "node:path";
import { pathToFileURL } from "node:url";

function usage(message) {
    if (message) console.error(`mdb_reader_dump: ${message}`);
    console.error("usage: node mdb_reader_dump.mjs FILE [--password PW] [--node-modules DIR] [--table NAME]...");
    process.exit(2);
}

function parseArgs(argv) {
    const o = { file: null, password: undefined, nodeModules: process.env.TABULARY_NODE_MODULES, tables: [] };
    for (let i = 0; i < argv.length; i++) {
        const a = argv[i];
        const value = () => {
            if (i + 1 >= argv.length) usage(`${a} needs a value`);
            return argv[++i];
        };
        if (a === "--password") o.password = value();
        else if (a.startsWith("--password=")) o.password = a.slice(11);
        else if (a === "--node-modules") o.nodeModules = value();
        else if (a === "--table") o.tables.push(value());
        else if (a.startsWith("--")) usage(`unknown option ${a}`);
        else if (o.file === null) o.file = a;
        else usage(`unexpected argument ${a}`);
    }
    if (o.file === null) usage("no file given");
    return o;
}

// Resolves mdb-reader from the given node_modules folder, else as a bare import.
async function loadReader(nodeModules) {
    let target = "mdb-reader";
    if (nodeModules) {
        const req = createRequire(join(resolve(nodeModules), "..", "resolve-from-here.js"));
        target = pathToFileURL(req.resolve("mdb-reader")).href;
    }
    const mod = await import(target);
    let version = null;
    try {
        const req = createRequire(nodeModules ? join(resolve(nodeModules), "..", "x.js") : import.meta.url);
        version = JSON.parse(readFileSync(req.resolve("mdb-reader/package.json"), "utf8")).version;
    } catch {
        // the version is informative only
    }
    return { MDBReader: mod.default, version };
}

const pad = (n, w) => String(n).padStart(w, "0");

function isoDate(d) {
    if (Number.isNaN(d.getTime())) return "Invalid Date";
    const y = d.getUTCFullYear();
    const year = y >= 0 && y <= 9999 ? pad(y, 4) : (y < 0 ? "-" : "+") + pad(Math.abs(y), 6);
    let s = `${year}-${pad(d.getUTCMonth() + 1, 2)}-${pad(d.getUTCDate(), 2)}T` +
        `${pad(d.getUTCHours(), 2)}:${pad(d.getUTCMinutes(), 2)}:${pad(d.getUTCSeconds(), 2)}`;
    if (d.getUTCMilliseconds()) s += "." + pad(d.getUTCMilliseconds(), 3);
    return s;
}

// mdb-reader returns Date/Time Extended as "YYYY.MM.DD HH:MM:SS.fffffff": same shape as other dates.
function isoExtendedDate(s) {
    const m = /^(\d{4})\.(\d\d)\.(\d\d) (\d\d):(\d\d):(\d\d)(?:\.(\d+))?$/.exec(s);
    if (!m) return s;
    const frac = (m[7] || "").replace(/0+$/, "");
    return `${m[1]}-${m[2]}-${m[3]}T${m[4]}:${m[5]}:${m[6]}` + (frac ? "." + frac : "");
}

function canonical(v, type) {
    if (v === null || v === undefined) return null;
    switch (typeof v) {
        case "boolean":
        case "string":
            return type === "datetimextended" ? isoExtendedDate(v) : v;
        case "number":
            if (Number.isFinite(v)) return v;
            return Number.isNaN(v) ? "NaN" : v > 0 ? "Infinity" : "-Infinity";
        case "bigint":
            return v.toString();
    }
    if (v instanceof Date) return isoDate(v);
    if (v instanceof Uint8Array) return Buffer.from(v).toString("hex");
    if (Array.isArray(v)) return v.map((x) => canonical(x, null));
    if (typeof v === "object") {
        // attachment items and the like: the same rules field by field
        const o = {};
        for (const [k, x] of Object.entries(v)) o[k] = canonical(x, null);
        return o;
    }
    return String(v);
}

function describeColumn(c) {
    const o = { name: c.name, type: c.type, size: c.size };
    if (c.precision !== undefined) o.precision = c.precision;
    if (c.scale !== undefined) o.scale = c.scale;
    for (const k of ["fixedLength", "nullable", "autoLong", "autoUUID"]) if (c[k] !== undefined) o[k] = c[k];
    return o;
}

function dumpTable(reader, name) {
    const out = { name };
    try {
        const table = reader.getTable(name);
        const columns = table.getColumns();
        out.rowCountHeader = table.rowCount;
        out.columns = columns.map(describeColumn);
        const names = columns.map((c) => c.name);
        const types = columns.map((c) => c.type);
        out.rows = table.getData().map((r) => names.map((n, i) => canonical(r[n], types[i])));
    } catch (e) {
        out.error = String(e && e.message ? e.message : e);
    }
    return out;
}

const args = parseArgs(process.argv.slice(2));
let loaded;
try {
    loaded = await loadReader(args.nodeModules);
} catch (e) {
    console.error(`mdb_reader_dump: mdb-reader not available (${e.message}); run scripts/oracle-deps.sh`);
    process.exit(77);
}
let reader;
try {
    reader = new loaded.MDBReader(readFileSync(args.file), { password: args.password });
} catch (e) {
    console.error(`mdb_reader_dump: ${args.file}: ${e.message}`);
    process.exit(1);
}
const names = args.tables.length ? args.tables : reader.getTableNames({ normalTables: true, systemTables: false, linkedTables: false });
const doc = { reader: "mdb-reader", version: loaded.version, tables: names.map((n) => dumpTable(reader, n)) };
process.stdout.write(JSON.stringify(doc) + "\n");
