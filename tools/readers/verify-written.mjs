#!/usr/bin/env node
// Checks that a database our engine has written is readable by the
// independent readers, for the write-side tests:
//
//   node tools/readers/verify-written.mjs DB [--password P] [--expect FILE.json]
//        [--rows-like ORIGINAL_DB [--renamed OLD=NEW[,OLD=NEW...]]]
//        [--allow-stderr REGEX]
//
//   DB           the written file (a copy; it is only read).
//   --password   passed to mdb-reader (mdbtools needs none).
//   --expect     a schema in the `karvelta-jet schema` form. Each reader's
//                schema must equal it: table names (in any order), columns
//                and their order, type, size, autoIncrement, required,
//                allowZeroLength, rowCount. A field missing from FILE.json or
//                null there, or one a reader cannot report (see dump.mjs /
//                mdbtools.mjs), is skipped.
//   --rows-like  every table of DB also in ORIGINAL_DB (after --renamed,
//                which maps an ORIGINAL_DB name to its DB name) must hold
//                the same rows in both files, as read by both readers;
//                columns added since must read as null (yes/no: false).
//                mdb-schema's stderr lines for ORIGINAL_DB are accepted for
//                DB too (mdbtools complains about some files Access made).
//   --allow-stderr  a regular expression of further stderr lines to accept.
//   --same-as    DB is a compacted copy of ORIGINAL_DB: each reader's schema
//                of DB (tables in order, columns, properties, row counts)
//                equals its schema of ORIGINAL_DB; every user table holds
//                the same rows (as --rows-like); MSysObjects, MSysACEs,
//                MSysQueries and MSysRelationships hold the same rows in
//                both readers once the ids of tables (their definition
//                pages) are mapped: a table's new id is that of the row with
//                its parent and name in DB.
//
// What is run: mdb-tables (user and system tables), mdb-schema (access
// backend with indexes and relations, and mysql), mdb-export of every user
// table and of MSysObjects, MSysACEs, MSysQueries and MSysRelationships,
// mdb-prop and mdb-count of every user table, and mdb-reader over the
// columns and rows of the same tables; then the two readers' schemas and
// rows are compared with each other.
//
// From a CTest test: find_program(KARVELTA_NODE node), then
//   ${KARVELTA_NODE} ${CMAKE_SOURCE_DIR}/tools/readers/verify-written.mjs COPY ...
// It needs `npm ci` in tools/readers (scripts/install-deps.sh) and mdbtools.
// Fails on a non-zero exit, a crash, or unexpected stderr output of any
// mdbtools command, on any mdb-reader exception, and on any difference.
//
// Exit status: 0 all good ("OK ..." on stdout), 1 a problem (each printed),
// 2 wrong arguments.

import { readFileSync } from "node:fs";
import { fileURLToPath } from "node:url";
import {
  parseArgs, runMain, run, describeExit, compareSchemas, compareRows, UsageError,
} from "./lib/common.mjs";
import * as mdbReader from "./dump.mjs";
import * as mdbtools from "./mdbtools.mjs";

const USAGE = "usage: verify-written.mjs DB [--password P] [--expect FILE.json] " +
  "[--rows-like ORIGINAL_DB [--renamed OLD=NEW[,OLD=NEW...]]] [--same-as ORIGINAL_DB] [--allow-stderr REGEX]";

// stderr lines mdbtools prints on sound files.
const BENIGN_STDERR = [/^No MSysRelationships$/];

// The engine's own system tables, exported and read in full. Tables the
// Access program adds (MSysAccessObjects, ...) hold column types neither
// reader decodes, and our engine does not write them.
const JET_SYSTEM_TABLES = ["MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"];

// stderr lines the mdbtools commands print for the original file
// (--rows-like) are not held against the written file: mdbtools prints
// "ERROR: can't find index #1." for delColTestV2000.mdb as Access made it.
function originalStderr(original) {
  const lines = new Set();
  for (const backend of ["access", "mysql"]) {
    const r = run("mdb-schema", ["--indexes", "--relations", original, backend]);
    for (const l of r.stderr.split("\n")) if (l.trim()) lines.add(l.trim());
  }
  return lines;
}

let benignLines = new Set();
let allowStderr = null;

function runTool(problems, cmd, args) {
  let r;
  try {
    r = run(cmd, args);
  } catch (e) {
    problems.push(e.message);
    return null;
  }
  const what = `${cmd} ${args.map((a) => (/[\s\x00-\x1f]/.test(a) ? JSON.stringify(a) : a)).join(" ")}`;
  if (r.signal || r.status !== 0) {
    const lines = [...new Set(r.stderr.split("\n").map((l) => l.trim()).filter((l) => l))];
    const shown = lines.slice(0, 4).join(" | ") + (lines.length > 4 ? ` | ... (${lines.length - 4} more)` : "");
    problems.push(`${what}: ${describeExit(r)}${shown ? `: ${shown}` : ""}`);
    return null;
  }
  const noise = r.stderr.split("\n").filter((l) => l.trim() !== "" &&
    !BENIGN_STDERR.some((re) => re.test(l.trim())) && !benignLines.has(l.trim()) &&
    !(allowStderr && allowStderr.test(l)));
  const distinct = [...new Set(noise.map((l) => l.trim()))];
  if (distinct.length) {
    problems.push(`${what}: printed on stderr: ${distinct.slice(0, 4).join(" | ")}` +
      (distinct.length > 4 ? ` | ... (${distinct.length - 4} more)` : ""));
  }
  return r.stdout;
}

function readerRows(problems, db, password, schemaMdbtools, handle) {
  // Map(table -> {mdbReader: rows, mdbtools: rows, columns})
  const out = new Map();
  for (const t of schemaMdbtools.tables) out.set(t.name, { columns: t.columns });
  for (const [name, entry] of out) {
    try {
      entry.mdbReader = mdbReader.readRows(db, name, password, handle);
    } catch (e) {
      problems.push(`mdb-reader rows of ${name}: ${e.message}`);
    }
    try {
      entry.mdbtools = mdbtools.readRows(db, name, entry.columns);
    } catch (e) {
      problems.push(`mdbtools rows of ${name}: ${e.message}`);
    }
  }
  return out;
}

// The rows of the engine's system tables in one reader, as lists of
// objects: mdb-reader's values, or mdbtools' exported text.
function systemRows(db, password, table, who) {
  if (who === "mdb-reader") {
    const t = mdbReader.openReader(db, password).getTable(table);
    const columns = t.getColumns();
    return t.getData().map((row) => Object.fromEntries(columns.map((c) => [c.name, mdbReader.normaliseValue(c.type, row[c.name])])));
  }
  const { header, records } = mdbtools.exportTable(db, table);
  return records.map((rec) => Object.fromEntries(header.map((h, i) => [h, rec[i]])));
}

// Rows of the system tables of a compacted file against its original's,
// table ids mapped; both readers.
function compareSystemTables(problems, db, original, password) {
  const ID_COLUMNS = { MSysObjects: ["Id", "ParentId"], MSysACEs: ["ObjectId"], MSysQueries: ["ObjectId"] };
  for (const who of ["mdb-reader", "mdbtools"]) {
    let before, after;
    try {
      before = systemRows(original, password, "MSysObjects", who);
      after = systemRows(db, password, "MSysObjects", who);
    } catch (e) {
      problems.push(`${who} MSysObjects: ${e.message}`);
      continue;
    }
    const newIds = new Map(after.map((r) => [`${r.ParentId}/${r.Name}`, r.Id]));
    const ids = new Map();
    for (const r of before) {
      if (Number(r.Type) !== 1) continue;
      const id = newIds.get(`${r.ParentId}/${r.Name}`);
      if (id === undefined) problems.push(`${who}: table ${r.Name} is missing from the catalog`);
      else ids.set(String(r.Id), id);
    }
    for (const table of JET_SYSTEM_TABLES) {
      try {
        const mapped = systemRows(original, password, table, who).map((r) => {
          const out = { ...r };
          for (const c of ID_COLUMNS[table] ?? []) if (ids.has(String(out[c]))) out[c] = ids.get(String(out[c]));
          return out;
        });
        const now = systemRows(db, password, table, who);
        const key = (r) => JSON.stringify(Object.keys(r).sort().map((k) => [k, r[k]]));
        const count = new Map();
        for (const r of mapped) count.set(key(r), (count.get(key(r)) ?? 0) + 1);
        for (const r of now) count.set(key(r), (count.get(key(r)) ?? 0) - 1);
        const diffs = [...count].filter(([, n]) => n !== 0);
        if (mapped.length !== now.length || diffs.length) {
          problems.push(`${who} ${table}: ${mapped.length} rows before, ${now.length} after, ${diffs.length} differ` +
            (diffs.length ? `, e.g. ${diffs[0][1] > 0 ? "lost" : "new"} ${diffs[0][0].slice(0, 300)}` : ""));
        }
      } catch (e) {
        problems.push(`${who} ${table}: ${e.message}`);
      }
    }
  }
}

export function verifyWritten({ db, password, expect, rowsLike, renamed = new Map(), allow = null, sameAs = null }) {
  if (sameAs) rowsLike = sameAs;
  const problems = [];
  const notes = [];
  allowStderr = allow;
  benignLines = rowsLike ? originalStderr(rowsLike) : new Set();

  // 1. mdbtools commands, raw.
  const userTables = (runTool(problems, "mdb-tables", ["-1", db]) ?? "").split("\n").filter((s) => s);
  const allTables = (runTool(problems, "mdb-tables", ["-S", "-1", db]) ?? "").split("\n").filter((s) => s);
  for (const t of userTables) {
    if (!allTables.includes(t)) problems.push(`mdb-tables -S does not list user table ${t}`);
  }
  if (allTables.length && !allTables.includes("MSysObjects")) problems.push("mdb-tables -S does not list MSysObjects");
  const readTables = allTables.filter((t) => userTables.includes(t) || JET_SYSTEM_TABLES.includes(t));
  runTool(problems, "mdb-schema", ["--indexes", "--relations", db, "access"]);
  runTool(problems, "mdb-schema", ["--indexes", "--relations", db, "mysql"]);
  for (const t of readTables) {
    runTool(problems, "mdb-export", ["-b", "hex", db, t]);
  }
  for (const t of userTables) {
    runTool(problems, "mdb-prop", [db, t]);
    runTool(problems, "mdb-count", [db, t]);
  }

  // 2. mdb-reader over everything.
  let handle = null;
  try {
    handle = mdbReader.openReader(db, password);
    for (const name of handle.getTableNames({ normalTables: true, systemTables: true })) {
      if (name.startsWith("MSys") && !JET_SYSTEM_TABLES.includes(name)) continue;
      const t = handle.getTable(name);
      t.getColumns();
      const rows = t.getData();
      // The stored count of MSysACEs is stale in files made by Access
      // (testV2000.mdb: 61 stored, 64 rows for both readers), so only user
      // tables and MSysObjects are held to it.
      if ((userTables.includes(name) || name === "MSysObjects") && rows.length !== t.rowCount) {
        problems.push(`mdb-reader: table ${name} stores rowCount ${t.rowCount} but has ${rows.length} rows`);
      }
    }
  } catch (e) {
    problems.push(`mdb-reader: ${e.message}`);
  }

  // 3. Normalised schemas and rows of both readers, compared.
  let sReader = null;
  let sTools = null;
  try { sReader = mdbReader.readSchema(db, password); } catch (e) { problems.push(`mdb-reader schema: ${e.message}`); }
  try { sTools = mdbtools.readSchema(db); } catch (e) { problems.push(`mdbtools schema: ${e.message}`); }
  if (sReader && sTools) problems.push(...compareSchemas(sReader, sTools, "mdb-reader", "mdbtools"));
  if (expect) {
    const opts = { tableOrder: false };
    if (sReader) problems.push(...compareSchemas(expect, sReader, "expected", "mdb-reader", opts));
    if (sTools) problems.push(...compareSchemas(expect, sTools, "expected", "mdbtools", opts));
  }
  let rows = null;
  if (sTools && handle) {
    // A reader of its own: mdb-reader negates a negative currency value in
    // the file buffer it reads from, so a second pass over the same handle
    // sees it positive.
    rows = readerRows(problems, db, password, sTools, mdbReader.openReader(db, password));
    for (const [name, e] of rows) {
      if (e.mdbReader && e.mdbtools) {
        const res = compareRows(name, e.columns, e.mdbReader, e.mdbtools, "mdb-reader", "mdbtools",
          { doubleDigits: mdbtools.DOUBLE_DIGITS, emptyIsNull: true });
        problems.push(...res.diffs);
      }
    }
  }

  // 4. A compacted file: schemas and system tables as in the original.
  if (sameAs) {
    try {
      const origReader = mdbReader.readSchema(sameAs, password);
      if (sReader) problems.push(...compareSchemas(origReader, sReader, "original (mdb-reader)", "compacted (mdb-reader)"));
    } catch (e) {
      problems.push(`original ${sameAs} (mdb-reader schema): ${e.message}`);
    }
    try {
      const origTools = mdbtools.readSchema(sameAs);
      if (sTools) problems.push(...compareSchemas(origTools, sTools, "original (mdbtools)", "compacted (mdbtools)"));
    } catch (e) {
      problems.push(`original ${sameAs} (mdbtools schema): ${e.message}`);
    }
    compareSystemTables(problems, db, sameAs, password);
  }

  // 5. Rows against the original file.
  if (rowsLike && rows) {
    let origHandle = null;
    let origTools = null;
    try {
      origHandle = mdbReader.openReader(rowsLike, password);
      origTools = mdbtools.readSchema(rowsLike);
    } catch (e) {
      problems.push(`original ${rowsLike}: ${e.message}`);
    }
    if (origHandle && origTools) {
      for (const t of origTools.tables) {
        const newName = renamed.get(t.name) ?? t.name;
        const now = rows.get(newName);
        if (!now) continue;
        const label = newName === t.name ? t.name : `${t.name} -> ${newName}`;
        // Columns added since: the old rows must read them as null (false
        // for yes/no, which has no null); the rest must be as before.
        const oldNames = new Set(t.columns.map((c) => c.name));
        const added = now.columns.filter((c) => !oldNames.has(c.name));
        const project = (rows, who) => rows.map((row, i) => {
          for (const c of added) {
            const empty = c.type === "boolean" ? false : null;
            if (row[c.name] !== empty && problems.length < 200) {
              problems.push(`table ${label} row ${i} (${who}): added column ${c.name} reads ${JSON.stringify(row[c.name])}, expected ${empty}`);
            }
          }
          return Object.fromEntries(t.columns.map((c) => [c.name, row[c.name]]));
        });
        try {
          const before = mdbReader.readRows(rowsLike, t.name, password, origHandle);
          if (now.mdbReader) {
            problems.push(...compareRows(label, t.columns, before, project(now.mdbReader, "mdb-reader"),
              "original (mdb-reader)", "written (mdb-reader)").diffs);
          }
          const beforeTools = mdbtools.readRows(rowsLike, t.name, t.columns);
          if (now.mdbtools) {
            problems.push(...compareRows(label, t.columns, beforeTools, project(now.mdbtools, "mdbtools"),
              "original (mdbtools)", "written (mdbtools)").diffs);
          }
        } catch (e) {
          problems.push(`rows of ${label}: ${e.message}`);
        }
      }
      for (const [from, to] of renamed) {
        if (!origTools.tables.some((t) => t.name === from)) problems.push(`--renamed: no table ${from} in ${rowsLike}`);
        if (!rows.has(to)) problems.push(`--renamed: no table ${to} in ${db}`);
      }
    }
  }
  return { problems, notes };
}

async function main(argv) {
  const { positional, options } = parseArgs(argv, { valued: ["password", "expect", "rows-like", "renamed", "allow-stderr", "same-as"] });
  if (positional.length !== 1) throw new UsageError("wrong arguments");
  const [db] = positional;
  let expect;
  if (options.expect) expect = JSON.parse(readFileSync(options.expect, "utf8"));
  const renamed = new Map();
  if (options.renamed) {
    if (!options["rows-like"]) throw new UsageError("--renamed needs --rows-like");
    for (const pair of options.renamed.split(",")) {
      const i = pair.indexOf("=");
      if (i <= 0 || i === pair.length - 1) throw new UsageError(`--renamed: ${pair} is not OLD=NEW`);
      renamed.set(pair.slice(0, i), pair.slice(i + 1));
    }
  }
  const allow = options["allow-stderr"] ? new RegExp(options["allow-stderr"]) : null;
  const { problems, notes } = verifyWritten({
    db, password: options.password, expect, rowsLike: options["rows-like"], renamed, allow,
    sameAs: options["same-as"],
  });
  for (const n of notes) console.log(`note: ${n}`);
  if (problems.length) {
    console.log(`PROBLEMS reading ${db}:`);
    for (const p of problems) console.log(`  ${p}`);
    return 1;
  }
  console.log(`OK ${db}: mdbtools and mdb-reader read every table and row and agree` +
    (expect ? `; schema as in ${options.expect}` : "") +
    (options["rows-like"] ? `; rows as in ${options["rows-like"]}` : "") +
    (options["same-as"] ? `; schema, rows and catalog as in ${options["same-as"]}` : ""));
  return 0;
}

if (process.argv[1] && fileURLToPath(import.meta.url) === process.argv[1]) {
  runMain(main, USAGE);
}
