#!/usr/bin/env node
// The update run's whole sequence through karvelta-jet's write commands, on a
// copy of a fixture, checked by the independent readers after every step:
//
//   write_sequence.mjs JET FIXTURE WORK_DIR [--password P] [--verify-at-end]
//
// Steps: rename fisno -> fisnoeski and satislar -> satislareski, create
// fisno and add its 7 fields, create satislar and add its 23 fields (the
// schema catalogue, in order). Each step is expected to succeed or be
// refused exactly as the engine's rules say (a missing or taken table, a
// taken field name). After a success, verify-written must pass with the
// expected schema (new tables: "no" first and auto-increment, then the
// fields in order with their types and text sizes, text and memo not
// required and allowing zero-length text) and the rows of every old table
// unchanged; after a refusal, the file's bytes must be unchanged. Then
// further refusals (taken names in other letter case, bad size texts, bad
// names, a missing table), and finally the read cross-check. After every
// success `karvelta-jet check` must find the file sound. With
// --verify-at-end (for databases of hundreds of tables) verify-written runs
// once, after the last step, instead of after each.
// Exits 77 (skipped) while karvelta-jet has no write commands, or answers
// one of them with "not supported yet".

import { createHash } from "node:crypto";
import { chmodSync, copyFileSync, mkdirSync, readFileSync } from "node:fs";
import { basename, dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const readers = join(here, "..", "..", "tools", "readers");
const { parseArgs, run, describeExit, compareSchemas } = await import(join(readers, "lib", "common.mjs"));
const { verifyWritten } = await import(join(readers, "verify-written.mjs"));
const { crosscheck } = await import(join(readers, "crosscheck.mjs"));
const mdbReader = await import(join(readers, "dump.mjs"));

const sha256 = (path) => createHash("sha256").update(readFileSync(path)).digest("hex");

const RENAMES = [["fisno", "fisnoeski"], ["satislar", "satislareski"]];
// [table, [[field, typeCode, size]...]]
const BLOCKS = [
  ["fisno", [
    ["fisno", 4], ["tarih", 8], ["saat", 8], ["odemesi", 10, "50"], ["musteriadi", 10, "100"],
    ["toplam", 5], ["musterikodu", 10, "100"]]],
  ["satislar", [
    ["tarih", 8], ["musterikod", 10, "100"], ["fiyat", 5], ["adet", 10, "100"], ["toplam", 5],
    ["kar", 5], ["urunstok", 10, "100"], ["musteriadi", 12, "100"], ["urun2", 10, "100"],
    ["grub2", 10, "100"], ["odemesi", 10, "100"], ["satisiyapan", 12, "100"], ["saat", 8],
    ["barkod2", 10, "100"], ["urunlernosu", 4], ["iskonto", 4], ["tutar", 5], ["verilen", 5],
    ["kalan", 5], ["teslim", 4], ["durum", 10, "100"], ["fisno", 10, "100"], ["tarih2", 8]]],
];
const TYPES = { 1: ["boolean", 1], 4: ["long", 4], 5: ["currency", 8], 8: ["datetime", 8], 10: ["text"], 12: ["memo", 0] };

const same = (a, b) => a.toLowerCase() === b.toLowerCase();

function newColumn(name, code, size) {
  const [type, bytes] = TYPES[code];
  const textual = type === "text" || type === "memo";
  return {
    name,
    type,
    size: type === "text" ? Number(size) : bytes,
    autoIncrement: false,
    required: false,
    allowZeroLength: textual ? true : null, // left to the engine for other types
  };
}

async function main() {
  const { positional, options } = parseArgs(process.argv.slice(2), { bare: ["verify-at-end"] });
  if (positional.length !== 3) {
    console.error("usage: write_sequence.mjs JET FIXTURE WORK_DIR [--password P] [--verify-at-end]");
    return 2;
  }
  const [jet, fixture, workDir] = positional;
  const password = options.password;
  const usage = run(jet, []);
  if (!/create-table/.test(usage.stdout + usage.stderr)) {
    console.log("karvelta-jet has no write commands yet: skipped");
    return 77;
  }
  mkdirSync(workDir, { recursive: true });
  const db = join(workDir, basename(fixture));
  copyFileSync(fixture, db);
  chmodSync(db, 0o644);
  const pw = password !== undefined ? ["--password", password] : [];

  const atEnd = !!options["verify-at-end"];
  let succeeded = 0;
  const failures = [];
  const unsupported = new Set(); // commands the tool announces but does not do yet
  // The expected schema, starting from what mdb-reader reads in the original
  // (the read cross-check holds karvelta-jet to it).
  const expected = mdbReader.readSchema(fixture, password);
  const renamed = new Map();

  const step = (args, shouldSucceed, onSuccess, why) => {
    const before = sha256(db);
    const r = run(jet, [args[0], db, ...args.slice(1), ...pw], { timeout: 120000 });
    const label = `karvelta-jet ${args.join(" ")}`;
    const ok = r.status === 0 && !r.signal;
    if (r.signal || r.timedOut) failures.push(`${label}: ${describeExit(r)}`);
    if (ok && r.stdout.trim() !== "") failures.push(`${label}: printed ${JSON.stringify(r.stdout.slice(0, 100))} on success`);
    if (ok !== shouldSucceed) {
      failures.push(`${label}: ${ok ? "succeeded" : `refused (${r.stderr.trim()})`}, expected ${shouldSucceed ? "success" : `a refusal: ${why}`}`);
    }
    if (!ok && /not supported yet/i.test(r.stderr)) unsupported.add(args[0]);
    if (!ok) {
      if (r.stderr.trim() === "") failures.push(`${label}: refused without a message`);
      if (sha256(db) !== before) failures.push(`${label}: refused, but the file's bytes changed`);
      console.log(`${label}: refused: ${r.stderr.trim()}`);
      return false;
    }
    console.log(`${label}: done`);
    onSuccess();
    ++succeeded;
    const c = run(jet, ["check", db, ...pw]);
    if (c.status !== 0) failures.push(`after ${label}: karvelta-jet check: ${describeExit(c)}: ${(c.stdout + c.stderr).trim()}`);
    if (!atEnd) {
      const { problems } = verifyWritten({ db, password, expect: expected, rowsLike: fixture, renamed });
      failures.push(...problems.map((p) => `after ${label}: ${p}`));
    }
    const s = run(jet, ["schema", db, ...pw]);
    if (s.status !== 0) {
      failures.push(`after ${label}: karvelta-jet schema: ${describeExit(s)}: ${s.stderr.trim()}`);
    } else {
      failures.push(...compareSchemas(expected, JSON.parse(s.stdout), "expected", "karvelta-jet", { tableOrder: false })
        .map((d) => `after ${label}: ${d}`));
    }
    return true;
  };
  const table = (name) => expected.tables.find((t) => same(t.name, name));

  for (const [from, to] of RENAMES) {
    const t = table(from);
    const ok = !!t && !table(to);
    step(["rename", from, to], ok, () => {
      const original = [...renamed].find(([, now]) => now === t.name)?.[0] ?? t.name;
      renamed.set(original, to);
      t.name = to;
    }, t ? `${to} is taken` : `there is no table ${from}`);
  }
  for (const [name, fields] of BLOCKS) {
    const taken = !!table(name);
    step(["create-table", name], !taken, () => {
      expected.tables.push({
        name, rowCount: 0,
        columns: [{ name: "no", type: "long", size: 4, autoIncrement: true, required: null, allowZeroLength: null }],
      });
    }, `${name} is taken`);
    for (const [field, code, size] of fields) {
      const t = table(name);
      const ok = !!t && !t.columns.some((c) => same(c.name, field));
      const args = ["add-field", name, field, String(code), ...(size !== undefined ? [size] : [])];
      step(args, ok, () => { t.columns.push(newColumn(field, code, size)); },
        t ? `${name} already has ${field}` : `there is no table ${name}`);
    }
  }

  // Refusals, each leaving the bytes as they were.
  const refusals = [
    [["create-table", "FISNO"], "a taken table name, other letter case"],
    [["rename", "satislareski", "Fisno"], "a taken table name"],
    [["rename", "yoktablo", "baska"], "a missing table"],
    [["add-field", "fisno", "TARIH", "8"], "a taken field name, other letter case"],
    [["add-field", "yoktablo", "alan", "4"], "a missing table"],
    [["add-field", "fisno", "notu", "10", ""], "an empty size text"],
    [["add-field", "fisno", "notu", "10", "50,5"], "size text 50,5"],
    [["add-field", "fisno", "notu", "10", "0"], "size text 0"],
    [["add-field", "fisno", "notu", "10", "300"], "size text 300"],
    [["add-field", "fisno", "notu", "7"], "type code 7"],
    [["create-table", ""], "an empty name"],
    [["create-table", " bosluk"], "a leading blank"],
    [["create-table", "a.b"], "a name with ."],
    [["create-table", "a!b"], "a name with !"],
    [["create-table", "a`b"], "a name with `"],
    [["create-table", "a[b"], "a name with ["],
    [["create-table", "a]b"], "a name with ]"],
    [["create-table", "a\u0001b"], "a control character"],
    [["create-table", "x".repeat(65)], "a name of 65 characters"],
    [["add-field", "fisno", "a.b", "4"], "a field name with ."],
  ];
  for (const [args, why] of refusals) step(args, false, () => {}, why);
  console.log(`${succeeded} calls succeeded`);
  if (atEnd) {
    const { problems } = verifyWritten({ db, password, expect: expected, rowsLike: fixture, renamed });
    failures.push(...problems.map((p) => `at the end: ${p}`));
  }

  console.log("read cross-check of the result:");
  if (!(await crosscheck({ jet, db, password }))) failures.push("the read cross-check of the result failed (above)");

  if (unsupported.size) {
    for (const f of failures) console.log(`(would fail) ${f}`);
    console.log(`karvelta-jet does not support ${[...unsupported].join(", ")} yet: skipped`);
    return 77;
  }
  if (failures.length) {
    for (const f of failures) console.log(`FAIL: ${f}`);
    return 1;
  }
  console.log(`PASS write sequence on ${basename(fixture)}`);
  return 0;
}

process.exitCode = await main();
