// Shared pieces of the independent-reader scripts: argument parsing, the
// normalised value forms of the `karvelta-jet schema` / `rows` output, running
// external commands, and the comparison of two schema or row sets.
//
// Normalised forms (the same as karvelta-jet prints):
//   schema: {"tables":[{"name","rowCount","columns":[{"name","type","size",
//            "autoIncrement","required","allowZeroLength"}]}]}
//            A field a reader cannot report is null; comparisons skip nulls.
//   rows:   one object per row, keys = column names in stored order.
//            boolean true/false, byte/integer/long/float/double numbers,
//            currency "-12.3400", datetime "YYYY-MM-DD HH:MM:SS",
//            text/memo strings, binary/ole lower-case hex,
//            guid "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", numeric decimal string.

import { spawnSync } from "node:child_process";

export const TYPE_NAMES = [
  "boolean", "byte", "integer", "long", "currency", "float", "double",
  "datetime", "binary", "text", "ole", "memo", "guid", "numeric",
];

// Parses "CMD POS... [--password P] [--flag VALUE]..." style arguments.
// `valued` lists option names that take a value; `bare` lists switches.
export function parseArgs(argv, { valued = ["password"], bare = [] } = {}) {
  const positional = [];
  const options = {};
  for (let i = 0; i < argv.length; ++i) {
    const a = argv[i];
    if (a.startsWith("--")) {
      let name = a.slice(2);
      let value;
      const eq = name.indexOf("=");
      if (eq >= 0) {
        value = name.slice(eq + 1);
        name = name.slice(0, eq);
      }
      if (valued.includes(name)) {
        if (value === undefined) {
          if (i + 1 >= argv.length) throw new UsageError(`option --${name} needs a value`);
          value = argv[++i];
        }
        options[name] = value;
      } else if (bare.includes(name) && value === undefined) {
        options[name] = true;
      } else {
        throw new UsageError(`unknown option ${a}`);
      }
    } else {
      positional.push(a);
    }
  }
  return { positional, options };
}

export class UsageError extends Error {}

// ---------------------------------------------------------------- values

// "3.5" -> "3.5000", "-12.34" -> "-12.3400"; exactly 4 decimals, no rounding
// (currency is a scaled 64-bit integer, so a reader never has more than 4).
export function currency4(text) {
  const s = String(text).trim();
  const m = /^(-?)(\d*)(?:\.(\d*))?$/.exec(s);
  if (!m) throw new Error(`not a currency value: ${JSON.stringify(text)}`);
  let [, sign, whole, frac = ""] = m;
  if (frac.length > 4) {
    if (/[1-9]/.test(frac.slice(4))) throw new Error(`currency with more than 4 decimals: ${text}`);
    frac = frac.slice(0, 4);
  }
  whole = whole.replace(/^0+(?=\d)/, "") || "0";
  frac = frac.padEnd(4, "0");
  if (whole === "0" && frac === "0000") sign = "";
  return `${sign}${whole}.${frac}`;
}

// Canonical decimal: no leading zeros, no trailing fractional zeros, no "-0".
export function canonicalDecimal(text) {
  const s = String(text).trim();
  const m = /^([+-]?)(\d*)(?:\.(\d*))?$/.exec(s);
  if (!m) return s;
  let [, sign, whole, frac = ""] = m;
  whole = whole.replace(/^0+(?=\d)/, "") || "0";
  frac = frac.replace(/0+$/, "");
  if (sign === "+") sign = "";
  if (whole === "0" && frac === "") sign = "";
  return frac ? `${sign}${whole}.${frac}` : `${sign}${whole}`;
}

export function guidBraced(text) {
  const hex = String(text).replace(/[{}\-\s]/g, "").toUpperCase();
  if (!/^[0-9A-F]{32}$/.test(hex)) throw new Error(`not a GUID: ${JSON.stringify(text)}`);
  return `{${hex.slice(0, 8)}-${hex.slice(8, 12)}-${hex.slice(12, 16)}-${hex.slice(16, 20)}-${hex.slice(20)}}`;
}

const pad = (n, w = 2) => String(n).padStart(w, "0");

// Milliseconds since 1970 (UTC, no time zone involved) -> "YYYY-MM-DD HH:MM:SS",
// rounded to the nearest second.
export function dateTimeFromMillis(ms) {
  const d = new Date(Math.round(ms / 1000) * 1000);
  if (Number.isNaN(d.getTime())) throw new Error(`date out of range: ${ms}`);
  return `${pad(d.getUTCFullYear(), 4)}-${pad(d.getUTCMonth() + 1)}-${pad(d.getUTCDate())} ` +
    `${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}:${pad(d.getUTCSeconds())}`;
}

// ---------------------------------------------------------------- commands

// Runs a command without a shell; returns {status, signal, stdout, stderr}.
// `encoding: "buffer"` keeps stdout as bytes.
// `timeout` (ms) kills a command that hangs; it then reports signal SIGTERM
// and timedOut true.
export function run(cmd, args, { encoding = "utf8", input, timeout } = {}) {
  const r = spawnSync(cmd, args, {
    encoding: encoding === "buffer" ? undefined : encoding,
    maxBuffer: 1 << 30,
    input,
    timeout,
    env: { ...process.env, LC_ALL: "C.UTF-8" },
  });
  const timedOut = !!(r.error && r.error.code === "ETIMEDOUT");
  if (r.error && !timedOut) throw new Error(`cannot run ${cmd}: ${r.error.message}`);
  return {
    timedOut,
    status: r.status,
    signal: r.signal,
    stdout: r.stdout,
    stderr: r.stderr === null ? "" : String(r.stderr),
  };
}

export function describeExit(r) {
  if (r.timedOut) return "still running after the time limit (a hang)";
  return r.signal ? `killed by signal ${r.signal}` : `exit status ${r.status}`;
}

// Runs and insists on success; the error message carries the command's stderr.
export function runOk(cmd, args, opts) {
  const r = run(cmd, args, opts);
  if (r.status !== 0 || r.signal) {
    throw new Error(`${cmd} ${args.join(" ")}: ${describeExit(r)}${r.stderr ? `\n${r.stderr.trim()}` : ""}`);
  }
  return r;
}

// ---------------------------------------------------------------- printing

export function printSchema(schema) {
  process.stdout.write(JSON.stringify(schema) + "\n");
}

export function printRows(rows) {
  const out = [];
  for (const row of rows) out.push(JSON.stringify(row));
  process.stdout.write(out.length ? out.join("\n") + "\n" : "");
}

// ---------------------------------------------------------------- comparing

const SCHEMA_FIELDS = ["type", "size", "autoIncrement", "required", "allowZeroLength"];

const known = (v) => v !== null && v !== undefined;

// Compares two schema forms. `fields` restricts the column fields compared
// (default all); a field null on either side is skipped. `tableOrder: false`
// compares the table names as a set (the order of new catalog rows is the
// engine's choice).
// Returns a list of human-readable differences.
export function compareSchemas(a, b, nameA, nameB, { fields = SCHEMA_FIELDS, rowCounts = true, tableOrder = true } = {}) {
  const diffs = [];
  const namesA = a.tables.map((t) => t.name);
  const namesB = b.tables.map((t) => t.name);
  const key = (names) => JSON.stringify(tableOrder ? names : [...names].sort());
  if (key(namesA) !== key(namesB)) {
    diffs.push(`tables: ${nameA} ${JSON.stringify(namesA)} vs ${nameB} ${JSON.stringify(namesB)}`);
  }
  const byNameB = new Map(b.tables.map((t) => [t.name, t]));
  for (const ta of a.tables) {
    const tb = byNameB.get(ta.name);
    if (!tb) continue;
    if (rowCounts && known(ta.rowCount) && known(tb.rowCount) && ta.rowCount !== tb.rowCount) {
      diffs.push(`table ${ta.name}: rowCount ${nameA} ${ta.rowCount} vs ${nameB} ${tb.rowCount}`);
    }
    const colsA = ta.columns.map((c) => c.name);
    const colsB = tb.columns.map((c) => c.name);
    if (JSON.stringify(colsA) !== JSON.stringify(colsB)) {
      diffs.push(`table ${ta.name}: columns ${nameA} ${JSON.stringify(colsA)} vs ${nameB} ${JSON.stringify(colsB)}`);
    }
    const byColB = new Map(tb.columns.map((c) => [c.name, c]));
    for (const ca of ta.columns) {
      const cb = byColB.get(ca.name);
      if (!cb) continue;
      for (const f of fields) {
        if (known(ca[f]) && known(cb[f]) && ca[f] !== cb[f]) {
          diffs.push(`table ${ta.name} column ${ca.name}: ${f} ${nameA} ${JSON.stringify(ca[f])} vs ${nameB} ${JSON.stringify(cb[f])}`);
        }
      }
    }
  }
  return diffs;
}

// Canonical text of one value for comparing; `type` from the schema.
// `doubleDigits` (e.g. 15) compares doubles to that many significant digits,
// for a reader that prints them rounded.
// `emptyIsNull` treats "" in text and memo as null, for a reader that cannot
// tell them apart.
export function canonicalValue(type, v, { doubleDigits, emptyIsNull } = {}) {
  if (v === null || v === undefined) return "null";
  if (emptyIsNull && v === "" && (type === "text" || type === "memo")) return "null";
  switch (type) {
    case "float":
      return typeof v === "number" ? `f:${Math.fround(v)}` : `?${JSON.stringify(v)}`;
    case "double":
      if (typeof v !== "number") return `?${JSON.stringify(v)}`;
      return doubleDigits ? `d:${Number(v.toPrecision(doubleDigits))}` : `d:${v}`;
    case "currency":
      try { return `c:${currency4(v)}`; } catch { return `?${JSON.stringify(v)}`; }
    case "numeric":
      return `n:${canonicalDecimal(v)}`;
    case "binary":
    case "ole":
      return `h:${String(v).toLowerCase()}`;
    case "guid":
      try { return `g:${guidBraced(v)}`; } catch { return `?${JSON.stringify(v)}`; }
    default:
      return JSON.stringify(v);
  }
}

function rowKey(row, columns, opts) {
  return columns.map((c) => canonicalValue(c.type, row[c.name], opts)).join("\u0000");
}

// Shows where two strings first differ, with a little context.
function describeStringDifference(a, b) {
  let i = 0;
  while (i < a.length && i < b.length && a[i] === b[i]) ++i;
  const cp = (s) => (i < s.length ? `U+${s.codePointAt(i).toString(16).toUpperCase().padStart(4, "0")}` : "end");
  const ctx = (s) => JSON.stringify(s.slice(Math.max(0, i - 20), i + 20));
  return `lengths ${a.length} vs ${b.length}; first difference at character ${i} (${cp(a)} vs ${cp(b)}); ` +
    `around it: ${ctx(a)} vs ${ctx(b)}`;
}

function show(v) {
  const s = JSON.stringify(v);
  return s !== undefined && s.length > 120 ? `${s.slice(0, 117)}...(${s.length} chars)` : s;
}

function describeValueDifference(type, va, vb) {
  if (typeof va === "string" && typeof vb === "string" && (va.length > 60 || vb.length > 60)) {
    return describeStringDifference(va, vb);
  }
  return `${show(va)} vs ${show(vb)}`;
}

// Compares two row lists of one table. Row order is not part of the stored
// data (a table without an index has no order, and overflow rows are placed
// differently by different readers), so rows are compared as multisets;
// a difference in order alone is returned as a note.
// Returns {diffs: [...], notes: [...]}.
export function compareRows(table, columns, rowsA, rowsB, nameA, nameB, opts = {}) {
  const diffs = [];
  const notes = [];
  const limit = opts.limit ?? 20;
  const colNames = columns.map((c) => c.name);
  const checkKeys = (rows, who) => {
    for (let i = 0; i < rows.length; ++i) {
      const keys = Object.keys(rows[i]);
      if (JSON.stringify(keys) !== JSON.stringify(colNames)) {
        diffs.push(`table ${table} row ${i}: ${who} keys ${JSON.stringify(keys)}, expected ${JSON.stringify(colNames)}`);
        return false;
      }
    }
    return true;
  };
  if (!checkKeys(rowsA, nameA) | !checkKeys(rowsB, nameB)) return { diffs, notes };
  if (rowsA.length !== rowsB.length) {
    diffs.push(`table ${table}: ${nameA} has ${rowsA.length} rows, ${nameB} has ${rowsB.length}`);
  }
  const keysA = rowsA.map((r) => rowKey(r, columns, opts));
  const keysB = rowsB.map((r) => rowKey(r, columns, opts));
  if (keysA.length === keysB.length && keysA.every((k, i) => k === keysB[i])) return { diffs, notes };

  const pool = new Map();
  keysB.forEach((k, i) => {
    if (!pool.has(k)) pool.set(k, []);
    pool.get(k).push(i);
  });
  const onlyA = [];
  keysA.forEach((k, i) => {
    const list = pool.get(k);
    if (list && list.length) list.shift();
    else onlyA.push(i);
  });
  const onlyB = [];
  for (const list of pool.values()) onlyB.push(...list);
  onlyB.sort((x, y) => x - y);
  if (!onlyA.length && !onlyB.length) {
    notes.push(`table ${table}: same rows, in a different order in ${nameA} and ${nameB}`);
    return { diffs, notes };
  }
  // Pair each unmatched row of A with the unmatched row of B that agrees on
  // most columns, then list the differing columns.
  const canon = (rows, i) => columns.map((c) => canonicalValue(c.type, rows[i][c.name], opts));
  const cacheB = new Map();
  const canonB = (i) => {
    if (!cacheB.has(i)) cacheB.set(i, canon(rowsB, i));
    return cacheB.get(i);
  };
  const freeB = new Set(onlyB);
  let shown = 0;
  let pairedA = 0;
  for (const ia of onlyA) {
    if (shown >= limit) break;
    const ca = canon(rowsA, ia);
    let best = -1;
    let bestScore = -1;
    for (const ib of freeB) {
      const cb = canonB(ib);
      const score = ca.reduce((s, v, j) => s + (v === cb[j] ? 1 : 0), 0);
      if (score > bestScore) { bestScore = score; best = ib; }
    }
    const ident = `${colNames[0]}=${show(rowsA[ia][colNames[0]])}`;
    if (best < 0) {
      diffs.push(`table ${table}: row ${ia} (${ident}) of ${nameA} not in ${nameB}: ${show(rowsA[ia])}`);
    } else {
      freeB.delete(best);
      const cb = canonB(best);
      const parts = [];
      columns.forEach((c, j) => {
        if (ca[j] !== cb[j]) {
          parts.push(`column ${c.name} (${c.type}): ${describeValueDifference(c.type, rowsA[ia][c.name], rowsB[best][c.name])}`);
        }
      });
      diffs.push(`table ${table}: ${nameA} row ${ia} (${ident}) vs ${nameB} row ${best}: ${parts.join("; ")}`);
    }
    ++shown;
    ++pairedA;
  }
  let shownB = 0;
  for (const ib of freeB) {
    if (shown >= limit) break;
    diffs.push(`table ${table}: row ${ib} of ${nameB} not in ${nameA}: ${show(rowsB[ib])}`);
    ++shown;
    ++shownB;
  }
  const moreA = onlyA.length - pairedA;
  const moreB = freeB.size - shownB;
  if (moreA > 0 || moreB > 0) {
    diffs.push(`table ${table}: ... and ${moreA} more ${nameA} row(s) and ${moreB} more ${nameB} row(s) ` +
      "without an equal row on the other side");
  }
  return { diffs, notes };
}

// Entry point helper: runs `main`, prints errors, sets the exit status.
export async function runMain(main, usage) {
  try {
    const code = await main(process.argv.slice(2));
    process.exitCode = code ?? 0;
  } catch (e) {
    if (e instanceof UsageError) {
      process.stderr.write(`${e.message}\n${usage}\n`);
      process.exitCode = 2;
    } else {
      process.stderr.write(`${e && e.stack ? e.stack : e}\n`);
      process.exitCode = 1;
    }
  }
}
