#!/usr/bin/env node
// CTest driver for the reader cross-checks. Works on a copy of a fixture
// made in WORK_DIR at test time; the fixture itself is only read.
//
//   check_fixture.mjs crosscheck JET FIXTURE WORK_DIR [--password P]
//       karvelta-jet schema/rows agree with mdb-reader and mdbtools, and the
//       copy's bytes are unchanged by every command; for the sales files,
//       also the contents the comparisons must not lose (see FACTS).
//   check_fixture.mjs refuse JET FIXTURE WORK_DIR [--password P]
//       karvelta-jet schema and rows both refuse the file: non-zero exit,
//       a message on stderr, nothing on stdout, the copy's bytes unchanged.
//   check_fixture.mjs accept JET FIXTURE WORK_DIR [--password P]
//       karvelta-jet schema opens the file (exit 0, JSON on stdout), the
//       copy's bytes unchanged.
//   check_fixture.mjs variants JET sales-small.mdb WORK_DIR [--password P]
//       a copy with stored values changed to edge cases (negative and
//       largest currency, smallest long, times that round up, down and over
//       midnight), then the same cross-check as above.
//   check_fixture.mjs damaged JET FIXTURE WORK_DIR [--password P]
//       truncated, zeroed and bit-flipped copies: karvelta-jet schema and
//       rows of every table it lists either succeed with well-formed output
//       or refuse with exit 1 and a message; never a crash, a sanitizer
//       report or a hang, and the damaged copy's bytes stay as they were.

import { createHash } from "node:crypto";
import { chmodSync, copyFileSync, mkdirSync, readFileSync, writeFileSync } from "node:fs";
import { basename, dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const readers = join(here, "..", "..", "tools", "readers");
const { crosscheck } = await import(join(readers, "crosscheck.mjs"));
const { parseArgs, run, describeExit } = await import(join(readers, "lib", "common.mjs"));

const sha256 = (path) => createHash("sha256").update(readFileSync(path)).digest("hex");

// What the sales files hold and every reader must show (README of the
// fixtures): these would slip through if all readers lost them alike.
const SALES_TABLES = { fisno: 5, satislar: 40, urunler: 30 };
const FACTS = {
  "sales-small.mdb": { tables: SALES_TABLES, memo: true },
  "sales-nopass.mdb": { tables: SALES_TABLES, memo: true },
  "sales-otherpass.mdb": { tables: SALES_TABLES, memo: true },
  "sales-nofisno.mdb": { tables: { satislar: 40, urunler: 30 }, memo: true },
  "sales-updated.mdb": {
    tables: { fisno: 5, fisnoeski: 5, satislar: 40, satislareski: 40, urunler: 30 }, memo: true,
  },
  "sales-large.mdb": { tables: { fisno: 20000, satislar: 200000, urunler: 30 } },
};
const TURKISH = "İıŞşĞğÜüÖöÇç";

function makeCopy(fixture, workDir) {
  mkdirSync(workDir, { recursive: true });
  const copy = join(workDir, basename(fixture));
  copyFileSync(fixture, copy);
  chmodSync(copy, 0o644); // writable, so an unwanted write would not be stopped by permissions
  return copy;
}

function jet(jetPath, args, password) {
  return run(jetPath, [...args, ...(password !== undefined ? ["--password", password] : [])]);
}

function checkFacts(jetPath, copy, password, facts) {
  const problems = [];
  const r = jet(jetPath, ["schema", copy], password);
  if (r.status !== 0) return [`karvelta-jet schema: ${describeExit(r)}`];
  const schema = JSON.parse(r.stdout);
  const counts = Object.fromEntries(schema.tables.map((t) => [t.name, t.rowCount]));
  const sorted = (o) => JSON.stringify(Object.entries(o).sort(([a], [b]) => (a < b ? -1 : 1)));
  if (sorted(counts) !== sorted(facts.tables)) {
    problems.push(`tables and row counts ${JSON.stringify(counts)}, expected ${JSON.stringify(facts.tables)}`);
  }
  if (facts.memo) {
    const rr = jet(jetPath, ["rows", copy, "satislar"], password);
    if (rr.status !== 0) return [...problems, `karvelta-jet rows satislar: ${describeExit(rr)}`];
    const rows = rr.stdout.split("\n").filter((l) => l).map((l) => JSON.parse(l));
    const memos = rows.map((x) => x.aciklama);
    const longest = Math.max(...memos.map((m) => (typeof m === "string" ? m.length : -1)));
    if (longest !== 5321) problems.push(`longest aciklama memo has ${longest} characters, expected 5321`);
    if (!memos.some((m) => typeof m === "string" && m.includes("\r\n"))) problems.push("no aciklama memo holds CR LF");
    if (memos.filter((m) => m === "").length !== 1) problems.push(`${memos.filter((m) => m === "").length} empty-string memos, expected 1`);
    const text = rows.map((x) => `${x.urun} ${x.aciklama ?? ""}`).join(" ");
    const missing = [...TURKISH].filter((ch) => !text.includes(ch));
    if (missing.length) problems.push(`Turkish letters missing from satislar text: ${missing.join(" ")}`);
  }
  return problems;
}

// Value edge cases written over known values of sales-small.mdb: each finds
// the stored bytes of a value (they occur once) and puts others there.
const day = 45352; // 2024-03-01
const int64 = (v) => { const b = Buffer.alloc(8); b.writeBigInt64LE(v); return b; };
const int32 = (v) => { const b = Buffer.alloc(4); b.writeInt32LE(v); return b; };
const dbl = (v) => { const b = Buffer.alloc(8); b.writeDoubleLE(v); return b; };
const VARIANTS = [
  ["fisno.toplam 2653.0200 -> -12.3400", int64(26530200n), int64(-123400n)],
  ["fisno.toplam 2823.2200 -> the largest currency", int64(28232200n), int64(9223372036854775807n)],
  ["fisno.toplam 2027.2200 -> the smallest currency", int64(20272200n), int64(-9223372036854775808n)],
  ["urunler.stok 209 -> the smallest long", int32(209), int32(-2147483648)],
  ["urunler.stok 434 -> the largest long", int32(434), int32(2147483647)],
  ["satislar.tarih 09:07 -> 09:07:59.6 (rounds up to 09:08:00)", dbl(day + (9 * 60 + 7) / 1440), dbl(day + (9 * 3600 + 7 * 60 + 59.6) / 86400)],
  ["satislar.tarih 09:14 -> 09:14:10.4 (rounds down)", dbl(day + (9 * 60 + 14) / 1440), dbl(day + (9 * 3600 + 14 * 60 + 10.4) / 86400)],
  ["satislar.tarih 09:21 -> 23:59:59.7 (rounds to the next day)", dbl(day + (9 * 60 + 21) / 1440), dbl(day + 86399.7 / 86400)],
];

function makeVariants(fixture, workDir) {
  const bytes = readFileSync(fixture);
  const problems = [];
  for (const [what, from, to] of VARIANTS) {
    const at = bytes.indexOf(from);
    if (at < 0 || bytes.indexOf(from, at + 1) >= 0) {
      problems.push(`test setup: the value for "${what}" is not stored exactly once`);
      continue;
    }
    to.copy(bytes, at);
    console.log(`changed ${what} at byte 0x${at.toString(16)}`);
  }
  mkdirSync(workDir, { recursive: true });
  const path = join(workDir, `variants-${basename(fixture)}`);
  writeFileSync(path, bytes);
  chmodSync(path, 0o644);
  return { path, problems };
}

// Deterministic pseudo-random numbers (mulberry32), so a failure repeats.
function random(seed) {
  let a = seed >>> 0;
  return () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// [description, Buffer] for each damaged variant of `bytes`.
function damagedVariants(bytes) {
  const PAGE = 4096;
  const out = [];
  for (const n of [0, 1, 100, PAGE - 1, PAGE, 2 * PAGE, 3 * PAGE - 7, Math.floor(bytes.length / 2),
    bytes.length - PAGE, bytes.length - 1]) {
    out.push([`truncated to ${n} bytes`, Buffer.from(bytes.subarray(0, n))]);
  }
  const withPage = (what, page, fill) => {
    const b = Buffer.from(bytes);
    b.fill(fill, page * PAGE, (page + 1) * PAGE);
    out.push([`page ${page} ${what}`, b]);
  };
  for (const page of [1, 2]) {
    withPage("zeroed", page, 0x00);
    withPage("filled with 0xff", page, 0xff);
  }
  for (const [at, value] of [[0x14, 0x00], [0x14, 0x02], [0x14, 0x7f], [0x00, 0x01]]) {
    const b = Buffer.from(bytes);
    b[at] = value;
    out.push([`header byte 0x${at.toString(16)} set to 0x${value.toString(16)}`, b]);
  }
  const rnd = random(20261207);
  const pages = Math.floor(bytes.length / PAGE);
  for (let v = 0; v < 60; ++v) {
    const b = Buffer.from(bytes);
    const flips = [];
    const count = 1 + Math.floor(rnd() * 8);
    for (let i = 0; i < count; ++i) {
      // Pages 1.. only: the header stays intact, so reading gets past the
      // password check into the catalog, definitions and rows.
      const at = PAGE + Math.floor(rnd() * (pages - 1) * PAGE);
      const bit = 1 << Math.floor(rnd() * 8);
      b[at] ^= bit;
      flips.push(`0x${at.toString(16)}^${bit}`);
    }
    out.push([`bits flipped at ${flips.join(",")}`, b]);
  }
  return out;
}

function checkDamaged(jetPath, fixture, workDir, password) {
  const problems = [];
  const original = readFileSync(fixture);
  const path = join(workDir, `damaged-${basename(fixture)}`);
  mkdirSync(workDir, { recursive: true });
  let refused = 0;
  let read = 0;
  for (const [what, bytes] of damagedVariants(original)) {
    writeFileSync(path, bytes);
    chmodSync(path, 0o644);
    const before = sha256(path);
    const call = (args) => {
      const r = run(jetPath, [...args, ...(password !== undefined ? ["--password", password] : [])], { timeout: 30000 });
      const label = `${what}: karvelta-jet ${args[0]}${args[2] ? ` ${args[2]}` : ""}`;
      if (r.timedOut || r.signal) problems.push(`${label}: ${describeExit(r)}`);
      else if (/Sanitizer|runtime error:/.test(r.stderr)) problems.push(`${label}: sanitizer report: ${r.stderr.slice(0, 300)}`);
      else if (r.status !== 0 && r.status !== 1) problems.push(`${label}: exit status ${r.status}, expected 0 or 1`);
      else if (r.status === 1 && r.stderr.trim() === "") problems.push(`${label}: refused without a message`);
      if (sha256(path) !== before) problems.push(`${label}: changed the file's bytes`);
      return r;
    };
    const r = call(["schema", path]);
    if (r.status !== 0) {
      ++refused;
      continue;
    }
    let schema;
    try {
      schema = JSON.parse(r.stdout);
    } catch (e) {
      problems.push(`${what}: karvelta-jet schema exit 0 but output is not JSON: ${e.message}`);
      continue;
    }
    for (const t of schema.tables ?? []) {
      const rr = call(["rows", path, t.name]);
      if (rr.status !== 0) continue;
      for (const line of rr.stdout.split("\n").filter((l) => l)) {
        try { JSON.parse(line); } catch (e) {
          problems.push(`${what}: karvelta-jet rows ${t.name} exit 0 but a line is not JSON: ${line.slice(0, 100)}`);
          break;
        }
      }
    }
    ++read;
  }
  console.log(`${refused} damaged copies refused at open, ${read} opened (their rows read or refused)`);
  return problems;
}

async function main() {
  const { positional, options } = parseArgs(process.argv.slice(2));
  const [mode, jetPath, fixture, workDir] = positional;
  if (positional.length !== 4 || !["crosscheck", "refuse", "accept", "damaged", "variants"].includes(mode)) {
    console.error("usage: check_fixture.mjs crosscheck|refuse|accept|damaged|variants JET FIXTURE WORK_DIR [--password P]");
    return 2;
  }
  const password = options.password;
  if (mode === "damaged") {
    const problems = checkDamaged(jetPath, fixture, workDir, password);
    for (const p of problems) console.log(`FAIL: ${p}`);
    if (!problems.length) console.log(`PASS damaged ${basename(fixture)}`);
    return problems.length ? 1 : 0;
  }
  if (mode === "variants") {
    const { path, problems } = makeVariants(fixture, workDir);
    const ok = await crosscheck({ jet: jetPath, db: path, password });
    if (!ok) problems.push("cross-check failed (differences above)");
    for (const p of problems) console.log(`FAIL: ${p}`);
    if (!problems.length) console.log(`PASS variants ${basename(fixture)}`);
    return problems.length ? 1 : 0;
  }
  const copy = makeCopy(fixture, workDir);
  const before = sha256(copy);
  const problems = [];
  const unchanged = (what) => {
    if (sha256(copy) !== before) problems.push(`${what} changed the file's bytes`);
  };

  if (mode === "crosscheck") {
    const ok = await crosscheck({ jet: jetPath, db: copy, password });
    if (!ok) problems.push("cross-check failed (differences above)");
    const facts = FACTS[basename(fixture)];
    if (facts) {
      problems.push(...checkFacts(jetPath, copy, password, facts));
      unchanged("karvelta-jet schema/rows");
    }
  } else if (mode === "refuse") {
    const table = basename(fixture).startsWith("sales-") ? "fisno" : "Table1";
    for (const args of [["schema", copy], ["rows", copy, table]]) {
      const r = jet(jetPath, args, password);
      const what = `karvelta-jet ${args[0]} ${basename(copy)}${password !== undefined ? ` --password ${password}` : ""}`;
      if (r.status === 0 && !r.signal) problems.push(`${what}: exit 0, expected a refusal`);
      if (r.signal) problems.push(`${what}: ${describeExit(r)} (a crash, not a refusal)`);
      if (r.stderr.trim() === "") problems.push(`${what}: no message on stderr`);
      if (r.stdout.trim() !== "") problems.push(`${what}: printed on stdout: ${r.stdout.slice(0, 100)}`);
      if (r.status !== 0) console.log(`${what}: refused (${describeExit(r)}): ${r.stderr.trim()}`);
      unchanged(what);
    }
  } else {
    const r = jet(jetPath, ["schema", copy], password);
    const what = `karvelta-jet schema ${basename(copy)}${password !== undefined ? ` --password ${password}` : ""}`;
    if (r.status !== 0 || r.signal) problems.push(`${what}: ${describeExit(r)}: ${r.stderr.trim()}`);
    else {
      try { JSON.parse(r.stdout); } catch (e) { problems.push(`${what}: output is not JSON: ${e.message}`); }
    }
    unchanged(what);
  }

  if (problems.length) {
    for (const p of problems) console.log(`FAIL: ${p}`);
    return 1;
  }
  console.log(`PASS ${mode} ${basename(fixture)}`);
  return 0;
}

process.exitCode = await main();
