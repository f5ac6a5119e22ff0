#!/usr/bin/env node
// Cross-checks karvelta-jet against two independent readers, mdb-reader and
// mdbtools:
//
//   node crosscheck.mjs KARVELTA_JET DB [--password P] [--limit N]
//   node crosscheck.mjs - DB            (only the two readers, against each other)
//
// Compared: table names and order, row counts (the stored count and the rows
// actually read), column names and order, type, size, autoIncrement,
// required and allowZeroLength (each where the reader knows it; see
// dump.mjs and mdbtools.mjs), and every value of every row (rows as a
// multiset: order is not part of the data). Text and memo compare exactly,
// character for character. karvelta-jet's output is also checked against
// its contract (key order, type names, value forms), and the database's
// bytes must be the same after every karvelta-jet command as before.
//
// Prints "OK ..." and exits 0, or prints every difference and exits 1.
// Differences between the two readers themselves are printed as notes
// (they help to tell which side is wrong) and do not fail the check, unless
// karvelta-jet is not given ("-"), where they are the result.

import { createHash } from "node:crypto";
import { readFileSync } from "node:fs";
import { fileURLToPath } from "node:url";
import {
  parseArgs, runMain, run, describeExit, compareSchemas, compareRows, TYPE_NAMES, UsageError,
} from "./lib/common.mjs";
import * as mdbReader from "./dump.mjs";
import * as mdbtools from "./mdbtools.mjs";

const USAGE = "usage: crosscheck.mjs KARVELTA_JET|- DB [--password P] [--limit N]";

const COLUMN_KEYS = ["name", "type", "size", "autoIncrement", "required", "allowZeroLength"];

const VALUE_FORMS = {
  currency: (v) => typeof v === "string" && /^-?\d+\.\d{4}$/.test(v),
  datetime: (v) => typeof v === "string" && /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/.test(v),
  binary: (v) => typeof v === "string" && /^([0-9a-f]{2})*$/.test(v),
  ole: (v) => typeof v === "string" && /^([0-9a-f]{2})*$/.test(v),
  guid: (v) => typeof v === "string" && /^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$/.test(v),
  numeric: (v) => typeof v === "string" && /^-?\d+(\.\d+)?$/.test(v),
  text: (v) => typeof v === "string",
  memo: (v) => typeof v === "string",
  boolean: (v) => typeof v === "boolean",
  byte: (v) => Number.isInteger(v) && v >= 0 && v <= 255,
  integer: (v) => Number.isInteger(v) && v >= -32768 && v <= 32767,
  long: (v) => Number.isInteger(v) && v >= -2147483648 && v <= 2147483647,
  float: (v) => typeof v === "number",
  double: (v) => typeof v === "number",
};

const sha256 = (path) => createHash("sha256").update(readFileSync(path)).digest("hex");

// Checks the schema JSON against the output contract.
function contractProblems(schema) {
  const p = [];
  if (!schema || !Array.isArray(schema.tables) || JSON.stringify(Object.keys(schema)) !== '["tables","sortOrder"]') {
    return ['schema: top level must be {"tables":[...],"sortOrder":{...}}'];
  }
  const o = schema.sortOrder;
  if (!o || JSON.stringify(Object.keys(o)) !== '["value","version","name"]' || !Number.isInteger(o.value) ||
      !Number.isInteger(o.version) || !(o.name === null || typeof o.name === "string")) {
    p.push(`schema: sortOrder ${JSON.stringify(o)}, expected {"value":N,"version":N,"name":text or null}`);
  }
  for (const t of schema.tables) {
    if (JSON.stringify(Object.keys(t)) !== '["name","rowCount","columns"]') {
      p.push(`table ${t.name}: keys ${JSON.stringify(Object.keys(t))}, expected name,rowCount,columns`);
    }
    if (!Number.isInteger(t.rowCount) || t.rowCount < 0) p.push(`table ${t.name}: rowCount ${JSON.stringify(t.rowCount)}`);
    for (const c of t.columns ?? []) {
      if (JSON.stringify(Object.keys(c)) !== JSON.stringify(COLUMN_KEYS)) {
        p.push(`table ${t.name} column ${c.name}: keys ${JSON.stringify(Object.keys(c))}, expected ${COLUMN_KEYS.join(",")}`);
      }
      if (!TYPE_NAMES.includes(c.type)) p.push(`table ${t.name} column ${c.name}: type ${JSON.stringify(c.type)} not a contract type name`);
      if (!Number.isInteger(c.size) || c.size < 0) p.push(`table ${t.name} column ${c.name}: size ${JSON.stringify(c.size)}`);
      for (const f of ["autoIncrement", "required", "allowZeroLength"]) {
        if (typeof c[f] !== "boolean") p.push(`table ${t.name} column ${c.name}: ${f} ${JSON.stringify(c[f])} not a boolean`);
      }
    }
  }
  return p;
}

function valueFormProblems(table, columns, rows, limit) {
  const p = [];
  for (let i = 0; i < rows.length && p.length < limit; ++i) {
    for (const c of columns) {
      const v = rows[i][c.name];
      if (v === null) continue;
      const ok = VALUE_FORMS[c.type];
      if (ok && !ok(v)) p.push(`table ${table} row ${i} column ${c.name} (${c.type}): value ${JSON.stringify(v).slice(0, 80)} not in the contract form`);
    }
  }
  return p;
}

export async function crosscheck({ jet, db, password, limit = 20, log = console.log }) {
  const failures = [];
  const notes = [];
  const hashBefore = sha256(db);
  const jetArgs = password !== undefined ? ["--password", password] : [];

  const runJet = (args) => {
    const r = run(jet, [...args, ...jetArgs]);
    const after = sha256(db);
    if (after !== hashBefore) failures.push(`karvelta-jet ${args.join(" ")} changed the database's bytes`);
    if (r.status !== 0 || r.signal) {
      failures.push(`karvelta-jet ${args.join(" ")}: ${describeExit(r)}: ${r.stderr.trim()}`);
      return null;
    }
    return r.stdout;
  };

  // Schemas.
  const readers = [];
  try {
    readers.push({ name: "mdb-reader", schema: mdbReader.readSchema(db, password), mod: "mdb-reader" });
  } catch (e) {
    failures.push(`mdb-reader cannot read the schema: ${e.message}`);
  }
  try {
    readers.push({ name: "mdbtools", schema: mdbtools.readSchema(db), mod: "mdbtools" });
  } catch (e) {
    failures.push(`mdbtools cannot read the schema: ${e.message}`);
  }

  let ours = null;
  if (jet) {
    const out = runJet(["schema", db]);
    if (out !== null) {
      try {
        ours = JSON.parse(out);
      } catch (e) {
        failures.push(`karvelta-jet schema: output is not JSON (${e.message}): ${out.slice(0, 200)}`);
      }
    }
    if (ours) {
      failures.push(...contractProblems(ours).map((s) => `karvelta-jet contract: ${s}`));
      for (const r of readers) {
        failures.push(...compareSchemas(ours, r.schema, "karvelta-jet", r.name));
      }
    }
  }
  if (readers.length === 2) {
    const d = compareSchemas(readers[0].schema, readers[1].schema, readers[0].name, readers[1].name);
    (jet ? notes : failures).push(...d);
  }

  // Rows, table by table. The reference list of tables and column types is
  // karvelta-jet's when there is one, else mdb-reader's.
  const reference = ours ?? readers[0]?.schema;
  let rowTotal = 0;
  let tableTotal = 0;
  if (reference && Array.isArray(reference.tables)) {
    let mdbReaderHandle = null;
    try {
      mdbReaderHandle = mdbReader.openReader(db, password);
    } catch (e) {
      failures.push(`mdb-reader cannot open the file: ${e.message}`);
    }
    for (const t of reference.tables) {
      ++tableTotal;
      const sets = [];
      if (jet) {
        const out = runJet(["rows", db, t.name]);
        if (out !== null) {
          const rows = [];
          const lines = out.split("\n");
          if (lines[lines.length - 1] === "") lines.pop();
          let parseFailed = false;
          for (let i = 0; i < lines.length; ++i) {
            try {
              rows.push(JSON.parse(lines[i]));
            } catch (e) {
              failures.push(`karvelta-jet rows ${t.name}: line ${i + 1} is not JSON (${e.message}): ${lines[i].slice(0, 120)}`);
              parseFailed = true;
              break;
            }
          }
          if (!parseFailed) {
            sets.push({ name: "karvelta-jet", rows });
            failures.push(...valueFormProblems(t.name, t.columns, rows, limit).map((s) => `karvelta-jet contract: ${s}`));
            if (rows.length !== t.rowCount) {
              failures.push(`table ${t.name}: karvelta-jet schema says rowCount ${t.rowCount}, karvelta-jet rows printed ${rows.length}`);
            }
          }
        }
      }
      for (const r of readers) {
        const rt = r.schema.tables.find((x) => x.name === t.name);
        if (!rt) continue;
        try {
          const rows = r.mod === "mdb-reader"
            ? (mdbReaderHandle ? mdbReader.readRows(db, t.name, password, mdbReaderHandle) : null)
            : mdbtools.readRows(db, t.name, rt.columns);
          if (rows) sets.push({ name: r.name, rows });
        } catch (e) {
          failures.push(`${r.name} cannot read the rows of ${t.name}: ${e.message}`);
        }
      }
      if (sets.length) rowTotal += sets[0].rows.length;
      // Types for comparing: the reference's, unless a column's names differ
      // (then the schema comparison has already failed).
      const columns = t.columns.map((c) => ({ name: c.name, type: c.type }));
      for (let i = 0; i < sets.length; ++i) {
        for (let j = i + 1; j < sets.length; ++j) {
          const a = sets[i];
          const b = sets[j];
          const opts = { limit };
          if (a.name === "mdbtools" || b.name === "mdbtools") {
            opts.doubleDigits = mdbtools.DOUBLE_DIGITS;
            opts.emptyIsNull = true; // mdb-export prints an empty memo as null
          }
          const res = compareRows(t.name, columns, a.rows, b.rows, a.name, b.name, opts);
          const readerPair = a.name !== "karvelta-jet" && b.name !== "karvelta-jet";
          (readerPair && jet ? notes : failures).push(...res.diffs);
          notes.push(...res.notes);
        }
      }
    }
  }

  if (jet && sha256(db) !== hashBefore) failures.push("the database's bytes changed during the check");
  const label = jet ? "karvelta-jet, mdb-reader and mdbtools" : "mdb-reader and mdbtools";
  for (const n of notes) log(`note: ${n}`);
  if (failures.length) {
    log(`MISMATCH ${db}: ${failures.length} difference(s) between ${label}:`);
    for (const f of failures) log(`  ${f}`);
    return false;
  }
  log(`OK ${db}: ${tableTotal} table(s), ${rowTotal} row(s) agree between ${label}`);
  return true;
}

async function main(argv) {
  const { positional, options } = parseArgs(argv, { valued: ["password", "limit"] });
  if (positional.length !== 2) throw new UsageError("wrong arguments");
  const [jet, db] = positional;
  const ok = await crosscheck({
    jet: jet === "-" ? null : jet,
    db,
    password: options.password,
    limit: options.limit ? Number(options.limit) : 20,
  });
  return ok ? 0 : 1;
}

if (process.argv[1] && fileURLToPath(import.meta.url) === process.argv[1]) {
  runMain(main, USAGE);
}
