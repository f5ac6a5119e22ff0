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

import { createHash } from "node:crypto";
import { chmodSync, copyFileSync, mkdirSync, readFileSync } from "node:fs";
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

async function main() {
  const { positional, options } = parseArgs(process.argv.slice(2));
  const [mode, jetPath, fixture, workDir] = positional;
  if (positional.length !== 4 || !["crosscheck", "refuse", "accept"].includes(mode)) {
    console.error("usage: check_fixture.mjs crosscheck|refuse|accept JET FIXTURE WORK_DIR [--password P]");
    return 2;
  }
  const password = options.password;
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
