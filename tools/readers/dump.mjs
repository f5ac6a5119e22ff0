#!/usr/bin/env node
// Reads a Jet database with the npm package mdb-reader and prints it in the
// same two forms as karvelta-jet, so the outputs can be compared directly:
//
//   node dump.mjs schema DB [--password P]
//   node dump.mjs rows DB TABLE [--password P]
//
// What mdb-reader reports and how it is normalised:
//   - tables: user tables in catalog order (getTableNames()).
//   - rowCount: the row count stored in the table definition.
//   - type: mdb-reader's names, "repid" renamed "guid".
//   - size: mdb-reader gives bytes; text is halved to characters, memo and
//     ole are 0. mdb-reader always says 0 for booleans, so their stored size
//     is unknown here (null).
//   - autoIncrement: the column's auto-long or auto-GUID flag.
//   - required / allowZeroLength: mdb-reader does not decode column
//     properties, so the table's LvProp blob (an MSysObjects column, read with
//     mdb-reader) is decoded here: the "MR2" chunks, boolean properties
//     Required and AllowZeroLength of each column; absent means false.
//   - currency: mdb-reader gives a decimal string; padded to 4 decimals.
//   - datetime: mdb-reader gives a Date whose UTC fields are the stored date
//     (milliseconds rounded); rounded here to the second. Dates before
//     1899-12-30 are not decoded the Jet way by mdb-reader.
//   - binary / ole: Buffer, printed as lower-case hex.
//   - guid: printed in braces, upper case.
//   - numeric: mdb-reader's decimal string, unchanged.
// The password is passed on; mdb-reader checks it only on encrypted files.
// Row flags: mdb-reader skips every row whose offset entry has the 0x4000 bit
// (an overflow pointer; Access marks a deleted row 0xC000) and reads every
// row with the 0x8000 bit alone where it is stored: that is the target of an
// overflow pointer (so such rows come in another order than in readers that
// follow the pointer), but also a row deleted with the 0x8000 bit alone,
// which mdb-reader would show as live. Deleted rows should carry 0xC000.

import { readFileSync } from "node:fs";
import { fileURLToPath } from "node:url";
import MDBReader from "mdb-reader";
import {
  parseArgs, runMain, printSchema, printRows, currency4, guidBraced, dateTimeFromMillis, UsageError,
} from "./lib/common.mjs";

const USAGE = "usage: dump.mjs schema DB [--password P] | dump.mjs rows DB TABLE [--password P]";

export function openReader(path, password) {
  const buffer = readFileSync(path);
  return new MDBReader(buffer, password !== undefined ? { password } : undefined);
}

const TYPE_RENAMES = { repid: "guid" };

// ---------------------------------------------------------------- properties

// Decodes an LvProp blob ("MR2\0" then chunks). Returns
// Map(objectName -> Map(propertyName -> value)); the table itself is "".
// Throws on a malformed blob.
export function decodeProperties(blob) {
  const props = new Map();
  if (!blob || blob.length === 0) return props;
  if (blob.length < 4 || blob.toString("latin1", 0, 4) !== "MR2\0") {
    throw new Error(`property blob does not start with MR2: ${blob.subarray(0, 4).toString("hex")}`);
  }
  const u16 = (o) => blob.readUInt16LE(o);
  const u32 = (o) => blob.readUInt32LE(o);
  const need = (o, n, what) => {
    if (o < 0 || o + n > blob.length) throw new Error(`property blob: ${what} at ${o} runs past the end (${blob.length})`);
  };
  const names = [];
  let pos = 4;
  while (pos < blob.length) {
    need(pos, 6, "chunk header");
    const chunkLen = u32(pos);
    const chunkType = u16(pos + 4);
    if (chunkLen < 6) throw new Error(`property blob: chunk length ${chunkLen} at ${pos}`);
    need(pos, chunkLen, "chunk");
    const end = pos + chunkLen;
    let p = pos + 6;
    if (chunkType === 0x80) {
      while (p < end) {
        need(p, 2, "name length");
        const n = u16(p);
        need(p + 2, n, "name");
        if (p + 2 + n > end) throw new Error("property blob: name runs past its chunk");
        names.push(blob.toString("utf16le", p + 2, p + 2 + n));
        p += 2 + n;
      }
    } else if (chunkType === 0x00 || chunkType === 0x01) {
      need(p, 6, "value block header");
      const headerLen = u32(p);
      const nameLen = u16(p + 4);
      if (headerLen < 6 + nameLen || p + headerLen > end) throw new Error(`property blob: value block header length ${headerLen}`);
      const objName = blob.toString("utf16le", p + 6, p + 6 + nameLen);
      const values = props.get(objName) ?? new Map();
      props.set(objName, values);
      p += headerLen;
      while (p < end) {
        need(p, 8, "property entry");
        const entryLen = u16(p);
        const dataType = blob[p + 3];
        const nameIndex = u16(p + 4);
        const valueLen = u16(p + 6);
        if (entryLen < 8 || p + entryLen > end || 8 + valueLen > entryLen) {
          throw new Error(`property blob: entry length ${entryLen} / value length ${valueLen} at ${p}`);
        }
        if (nameIndex >= names.length) throw new Error(`property blob: name index ${nameIndex} of ${names.length}`);
        const raw = blob.subarray(p + 8, p + 8 + valueLen);
        values.set(names[nameIndex], decodePropertyValue(dataType, raw));
        p += entryLen;
      }
    }
    // Other chunk types are skipped.
    pos = end;
  }
  return props;
}

function decodePropertyValue(type, raw) {
  switch (type) {
    case 0x01: return raw.length > 0 && raw[0] !== 0; // yes/no
    case 0x02: return raw.length >= 1 ? raw[0] : null;
    case 0x03: return raw.length >= 2 ? raw.readInt16LE(0) : null;
    case 0x04: return raw.length >= 4 ? raw.readInt32LE(0) : null;
    case 0x0a:
    case 0x0c: return raw.toString("utf16le");
    default: return raw.toString("hex");
  }
}

// LvProp of every user table, by table name.
function tableProperties(reader) {
  const result = new Map();
  const sys = reader.getTable("MSysObjects");
  for (const row of sys.getData({ columns: ["Name", "Type", "LvProp"] })) {
    if ((row.Type & 0x7fff) !== 1 || row.Name === null) continue;
    result.set(row.Name, row.LvProp);
  }
  return result;
}

// ---------------------------------------------------------------- schema

export function readSchema(path, password) {
  const reader = openReader(path, password);
  const blobs = tableProperties(reader);
  const tables = [];
  for (const name of reader.getTableNames()) {
    const table = reader.getTable(name);
    let props;
    try {
      props = decodeProperties(blobs.get(name));
    } catch (e) {
      throw new Error(`table ${name}: ${e.message}`);
    }
    const columns = table.getColumns().map((c) => {
      const type = TYPE_RENAMES[c.type] ?? c.type;
      let size = c.size;
      if (type === "text") size = c.size / 2;
      else if (type === "memo" || type === "ole") size = 0;
      else if (type === "boolean") size = null;
      const p = props.get(c.name) ?? new Map();
      return {
        name: c.name,
        type,
        size,
        autoIncrement: !!(c.autoLong || c.autoUUID),
        required: p.get("Required") === true,
        allowZeroLength: p.get("AllowZeroLength") === true,
      };
    });
    tables.push({ name, rowCount: table.rowCount, columns });
  }
  return { tables };
}

// ---------------------------------------------------------------- rows

export function normaliseValue(type, v) {
  if (v === null || v === undefined) return null;
  switch (type) {
    case "currency": return currency4(v);
    case "datetime": return dateTimeFromMillis(v.getTime());
    case "binary":
    case "ole": return Buffer.from(v).toString("hex");
    case "repid":
    case "guid": return guidBraced(v);
    default: return v;
  }
}

export function readRows(path, tableName, password, reader = openReader(path, password)) {
  const table = reader.getTable(tableName);
  const columns = table.getColumns();
  return table.getData().map((row) => {
    const out = {};
    for (const c of columns) out[c.name] = normaliseValue(c.type, row[c.name]);
    return out;
  });
}

async function main(argv) {
  const { positional, options } = parseArgs(argv);
  const [cmd, db, table] = positional;
  if (cmd === "schema" && positional.length === 2) {
    printSchema(readSchema(db, options.password));
  } else if (cmd === "rows" && positional.length === 3) {
    const reader = openReader(db, options.password);
    if (!reader.getTableNames().includes(table)) throw new Error(`no table ${table}`);
    printRows(readRows(db, table, options.password, reader));
  } else {
    throw new UsageError("wrong arguments");
  }
  return 0;
}

if (process.argv[1] && fileURLToPath(import.meta.url) === process.argv[1]) {
  runMain(main, USAGE);
}
