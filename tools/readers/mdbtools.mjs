#!/usr/bin/env node
// Reads a Jet database with the mdbtools commands and prints it in the same
// two forms as karvelta-jet:
//
//   node mdbtools.mjs schema DB [--password P]
//   node mdbtools.mjs rows DB TABLE [--password P]
//
// (mdbtools has no password option; Jet 4 files are not encrypted by a
// password, so the option is accepted and ignored.)
//
// Where each field comes from, and what mdbtools cannot say (null = unknown,
// skipped by the comparisons):
//   tables        mdb-tables -1 (catalog order)
//   rowCount      mdb-count DB TABLE (the table definition's row count)
//   name, type    mdb-schema DB access: "Text (50)", "Long Integer", ...
//   size          text: the "(n)" of mdb-schema, in characters; binary: its
//                 "(n)"; memo/ole: 0. mdb-schema prints no size for fixed
//                 types, so it is null for them.
//   autoIncrement mdb-schema DB mysql marks auto-increment longs
//                 ("auto_increment"); mdbtools cannot show an auto GUID,
//                 so for guid columns it is null.
//   required,     mdb-prop DB TABLE ("Required: yes", "AllowZeroLength: yes";
//   allowZero-    absent = false). mdb-prop prints the previous catalog row's
//   Length        properties when a table has none (its LvProp is null), so
//                 the LvProp column of MSysObjects is first read with
//                 mdb-export; a table whose LvProp is null has none.
//   rows          mdb-export with control-character delimiters and quote
//                 (-d 0x1f -R 0x1e -q 0x01 -X 0x01), so text with commas,
//                 quotes, CR LF or any printable character survives; -b hex
//                 for binary and ole; -D/-T "%Y-%m-%d %H:%M:%S" (mdbtools
//                 rounds to the second; "24:00:00", which it prints for a
//                 time just before midnight, is taken as the next day).
//                 Quoted = text (possibly empty),
//                 unquoted empty = null. mdb-export prints an empty memo
//                 (and possibly an empty text) unquoted, like null, so
//                 comparisons with mdbtools take "" and null as equal for
//                 text and memo (mdb-reader tells them apart).
//   values        boolean 0/1 -> false/true; currency padded to 4 decimals;
//                 hex lower-cased; guid upper-cased in braces; numbers parsed.
//                 mdb-export prints doubles with about 15 significant digits,
//                 so doubles compare to 15 digits (DOUBLE_DIGITS below).
// Not compared through mdbtools: sizes of fixed-length types, GUID
// auto-generation, dates before 1899-12-30 or after about 2700 (mdbtools
// does not decode them), index definitions.

import { fileURLToPath } from "node:url";
import {
  parseArgs, runMain, runOk, printSchema, printRows, currency4, guidBraced, UsageError,
} from "./lib/common.mjs";

const USAGE = "usage: mdbtools.mjs schema DB [--password P] | mdbtools.mjs rows DB TABLE [--password P]";

export const DOUBLE_DIGITS = 15;

const FIELD = "\x1f";
const RECORD = "\x1e";
const QUOTE = "\x01";
const DATE_FORMAT = "%Y-%m-%d %H:%M:%S";

const ACCESS_TYPES = new Map([
  ["Boolean", "boolean"],
  ["Byte", "byte"],
  ["Integer", "integer"],
  ["Long Integer", "long"],
  ["Currency", "currency"],
  ["Single", "float"],
  ["Double", "double"],
  ["DateTime", "datetime"],
  ["Binary", "binary"],
  ["Text", "text"],
  ["OLE", "ole"],
  ["Memo/Hyperlink", "memo"],
  ["Replication ID", "guid"],
  ["Numeric", "numeric"],
]);

// ---------------------------------------------------------------- mdb-export

// Splits mdb-export output made with the delimiters above into records of
// fields; a field is a string (quoted in the output) or null (unquoted and
// empty) or, for unquoted non-empty output, a string as well.
export function parseExport(text) {
  const records = [];
  let fields = [];
  let i = 0;
  const n = text.length;
  if (n === 0) return records;
  for (;;) {
    let value;
    if (text[i] === QUOTE) {
      let j = i + 1;
      let s = "";
      for (;;) {
        const k = text.indexOf(QUOTE, j);
        if (k < 0) throw new Error(`mdb-export output: unterminated quoted field at ${i}`);
        s += text.slice(j, k);
        if (text[k + 1] === QUOTE) {
          s += QUOTE;
          j = k + 2;
        } else {
          i = k + 1;
          break;
        }
      }
      value = s;
    } else {
      let k = i;
      while (k < n && text[k] !== FIELD && text[k] !== RECORD) ++k;
      const raw = text.slice(i, k);
      value = raw === "" ? null : raw;
      i = k;
    }
    fields.push(value);
    if (i >= n) {
      records.push(fields);
      break;
    }
    if (text[i] === FIELD) {
      ++i;
    } else if (text[i] === RECORD) {
      records.push(fields);
      fields = [];
      ++i;
      if (i >= n) break;
    } else {
      throw new Error(`mdb-export output: unexpected character after field at ${i}`);
    }
  }
  return records;
}

// Runs mdb-export on one table: {header: [names], records: [[field...]...]}.
export function exportTable(db, table) {
  const r = runOk("mdb-export", [
    "-d", FIELD, "-R", RECORD, "-q", QUOTE, "-X", QUOTE, "-b", "hex",
    "-D", DATE_FORMAT, "-T", DATE_FORMAT, db, table,
  ]);
  const records = parseExport(r.stdout);
  if (!records.length) throw new Error(`mdb-export ${table}: no header line`);
  const header = records.shift();
  for (const rec of records) {
    if (rec.length !== header.length) {
      throw new Error(`mdb-export ${table}: a record has ${rec.length} fields, the header ${header.length}`);
    }
  }
  return { header, records };
}

// ---------------------------------------------------------------- schema

// Parses `mdb-schema DB access` output: Map(table -> [{name, typeText}]).
export function parseAccessSchema(text) {
  const tables = new Map();
  let current = null;
  for (const line of text.split("\n")) {
    let m = /^CREATE TABLE \[(.*)\]\s*$/.exec(line);
    if (m) {
      current = [];
      tables.set(m[1], current);
      continue;
    }
    if (current && /^\);/.test(line)) {
      current = null;
      continue;
    }
    m = current && /^\t\[(.*)\]\t+(.*?)(?:,\s*)?$/.exec(line);
    if (m) current.push({ name: m[1], typeText: m[2].trim() });
  }
  return tables;
}

// Parses `mdb-schema DB mysql` output: Map(table -> Map(column -> auto)).
export function parseMysqlAutoIncrement(text) {
  const tables = new Map();
  let current = null;
  for (const line of text.split("\n")) {
    let m = /^CREATE TABLE `(.*)`\s*$/.exec(line);
    if (m) {
      current = new Map();
      tables.set(m[1], current);
      continue;
    }
    if (current && /^\);/.test(line)) {
      current = null;
      continue;
    }
    m = current && /^\t`(.*)`\t+(.*?)(?:,\s*)?$/.exec(line);
    if (m) current.set(m[1], /\bauto_increment\b/i.test(m[2]));
  }
  return tables;
}

function columnFromTypeText(name, typeText) {
  const m = /^(.*?)(?:\s*\(([^)]*)\))?(?:\s+NOT NULL)?(?:\s+DEFAULT .*)?$/.exec(typeText);
  const base = m ? m[1] : typeText;
  const arg = m ? m[2] : undefined;
  const type = ACCESS_TYPES.get(base) ?? `unknown (${typeText})`;
  let size = null;
  if (type === "text" || type === "binary") size = arg !== undefined ? Number(arg) : null;
  else if (type === "memo" || type === "ole") size = 0;
  return { name, type, size };
}

// Parses mdb-prop output: Map(objectName -> Map(property -> text value)).
export function parseProps(text) {
  const objects = new Map();
  let current = null;
  for (const line of text.split("\n")) {
    let m = /^name: (.*)$/.exec(line);
    if (m) {
      current = new Map();
      objects.set(m[1], current);
      continue;
    }
    m = current && /^\t([^:]+): (.*)$/.exec(line);
    if (m) current.set(m[1], m[2]);
  }
  return objects;
}

// Names of the user tables whose catalog row has a property blob.
function tablesWithProperties(db) {
  const { header, records } = exportTable(db, "MSysObjects");
  const iName = header.indexOf("Name");
  const iType = header.indexOf("Type");
  const iProp = header.indexOf("LvProp");
  if (iName < 0 || iType < 0 || iProp < 0) throw new Error("MSysObjects export lacks Name, Type or LvProp");
  const result = new Set();
  for (const rec of records) {
    if ((Number(rec[iType]) & 0x7fff) === 1 && rec[iProp] !== null) result.add(rec[iName]);
  }
  return result;
}

export function readSchema(db) {
  const names = runOk("mdb-tables", ["-1", db]).stdout.split("\n").filter((s) => s !== "");
  const access = parseAccessSchema(runOk("mdb-schema", [
    "--no-indexes", "--no-relations", "--no-not-null", "--no-default-values", "--no-comments", db, "access",
  ]).stdout);
  const mysql = parseMysqlAutoIncrement(runOk("mdb-schema", [
    "--no-indexes", "--no-relations", "--no-comments", db, "mysql",
  ]).stdout);
  const withProps = tablesWithProperties(db);
  const tables = [];
  for (const name of names) {
    const cols = access.get(name);
    if (!cols) throw new Error(`mdb-schema printed no table ${name}`);
    const autos = mysql.get(name) ?? new Map();
    const count = runOk("mdb-count", [db, name]).stdout.trim();
    if (!/^\d+$/.test(count)) throw new Error(`mdb-count ${name}: ${JSON.stringify(count)}`);
    const props = withProps.has(name) ? parseProps(runOk("mdb-prop", [db, name]).stdout) : new Map();
    const columns = cols.map(({ name: colName, typeText }) => {
      const col = columnFromTypeText(colName, typeText);
      const p = props.get(colName) ?? new Map();
      return {
        ...col,
        autoIncrement: col.type === "guid" ? null : (autos.get(colName) ?? null),
        required: p.get("Required") === "yes",
        allowZeroLength: p.get("AllowZeroLength") === "yes",
      };
    });
    tables.push({ name, rowCount: Number(count), columns });
  }
  return { tables };
}

// ---------------------------------------------------------------- rows

const INTEGER = /^-?\d+$/;
const DATETIME = /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/;

export function convertValue(type, s) {
  if (s === null) return null;
  const bad = () => new Error(`mdb-export: ${type} value ${JSON.stringify(s)}`);
  switch (type) {
    case "boolean":
      if (s === "1") return true;
      if (s === "0") return false;
      throw bad();
    case "byte":
    case "integer":
    case "long":
      if (!INTEGER.test(s)) throw bad();
      return Number(s);
    case "float":
    case "double": {
      const v = Number(s);
      if (s.trim() === "" || Number.isNaN(v)) throw bad();
      return v;
    }
    case "currency":
      return currency4(s);
    case "datetime":
      if (!DATETIME.test(s)) throw bad();
      // mdbtools rounds the time of day to the second and can reach
      // 24:00:00 (a time just before midnight): that is the next day.
      if (s.endsWith(" 24:00:00")) {
        const [y, m, d] = s.slice(0, 10).split("-").map(Number);
        const next = new Date(Date.UTC(y, m - 1, d + 1));
        return `${String(next.getUTCFullYear()).padStart(4, "0")}-${String(next.getUTCMonth() + 1).padStart(2, "0")}-` +
          `${String(next.getUTCDate()).padStart(2, "0")} 00:00:00`;
      }
      return s;
    case "binary":
    case "ole":
      if (!/^[0-9A-Fa-f]*$/.test(s) || s.length % 2) throw bad();
      return s.toLowerCase();
    case "guid":
      return guidBraced(s);
    default:
      return s;
  }
}

// Rows of one table; `columns` ([{name, type}]) from readSchema.
export function readRows(db, table, columns) {
  const { header, records } = exportTable(db, table);
  const names = columns.map((c) => c.name);
  if (JSON.stringify(header) !== JSON.stringify(names)) {
    throw new Error(`mdb-export ${table}: header ${JSON.stringify(header)}, mdb-schema ${JSON.stringify(names)}`);
  }
  return records.map((rec) => {
    const row = {};
    columns.forEach((c, i) => { row[c.name] = convertValue(c.type, rec[i]); });
    return row;
  });
}

async function main(argv) {
  const { positional } = parseArgs(argv);
  const [cmd, db, table] = positional;
  if (cmd === "schema" && positional.length === 2) {
    printSchema(readSchema(db));
  } else if (cmd === "rows" && positional.length === 3) {
    const t = readSchema(db).tables.find((x) => x.name === table);
    if (!t) throw new Error(`no table ${table}`);
    printRows(readRows(db, table, t.columns));
  } else {
    throw new UsageError("wrong arguments");
  }
  return 0;
}

if (process.argv[1] && fileURLToPath(import.meta.url) === process.argv[1]) {
  runMain(main, USAGE);
}
