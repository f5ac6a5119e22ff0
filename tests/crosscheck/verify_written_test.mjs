#!/usr/bin/env node
// verify-written.mjs must pass a sound file and catch the faults the write
// side could make: a schema other than expected, a changed row, a table
// missing after a rename, a file the readers cannot read.
//
//   verify_written_test.mjs FIXTURES_DIR WORK_DIR

import { copyFileSync, chmodSync, mkdirSync, readFileSync, writeFileSync, truncateSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const verify = join(here, "..", "..", "tools", "readers", "verify-written.mjs");
const { run } = await import(join(here, "..", "..", "tools", "readers", "lib", "common.mjs"));

const [fixtures, work] = process.argv.slice(2);
mkdirSync(work, { recursive: true });
const original = join(fixtures, "sales-small.mdb");
const copy = (name) => {
  const p = join(work, name);
  copyFileSync(original, p);
  chmodSync(p, 0o644);
  return p;
};

const failures = [];
function expectRun(what, args, { status, output }) {
  const r = run(process.execPath, [verify, ...args]);
  const text = r.stdout + r.stderr;
  if (r.status !== status) failures.push(`${what}: exit ${r.status}, expected ${status}\n${text}`);
  if (output && !output.test(text)) failures.push(`${what}: output lacks ${output}\n${text}`);
}

// The schema karvelta-jet prints for sales-small (the fixture's layout).
const col = (name, type, size, extra = {}) => ({
  name, type, size, autoIncrement: false, required: false, allowZeroLength: false, ...extra,
});
const azl = { allowZeroLength: true };
const schema = {
  tables: [
    { name: "fisno", rowCount: 5, columns: [
      col("no", "long", 4, { autoIncrement: true }), col("fisno", "long", 4), col("tarih", "datetime", 8),
      col("toplam", "currency", 8), col("musteriadi", "text", 50)] },
    { name: "satislar", rowCount: 40, columns: [
      col("no", "long", 4, { autoIncrement: true }), col("tarih", "datetime", 8), col("urun", "text", 100, azl),
      col("fiyat", "currency", 8), col("adet", "text", 20, azl), col("toplam", "currency", 8),
      col("fisno", "long", 4), col("aciklama", "memo", 0, azl)] },
    { name: "urunler", rowCount: 30, columns: [
      col("kod", "text", 20, azl), col("ad", "text", 100, azl), col("stok", "long", 4)] },
  ],
};
const expectFile = join(work, "expect.json");
writeFileSync(expectFile, JSON.stringify(schema));

// A sound copy passes, with the expected schema and rows like the original.
const sound = copy("sound.mdb");
expectRun("sound copy", [sound, "--password", "zorpelnik", "--expect", expectFile, "--rows-like", original],
  { status: 0, output: /^OK /m });

// Expected schema differs: size, flag, column order, table list.
const variants = [
  ["text size", (s) => { s.tables[0].columns[4].size = 40; }, /musteriadi: size expected 40 vs mdb-reader 50/],
  ["allowZeroLength", (s) => { s.tables[1].columns[7].allowZeroLength = false; }, /aciklama: allowZeroLength expected false vs mdb-reader true/],
  ["autoIncrement", (s) => { s.tables[2].columns[2].autoIncrement = true; }, /stok: autoIncrement expected true vs mdbtools false/],
  ["column order", (s) => { s.tables[0].columns.reverse(); }, /table fisno: columns expected/],
  ["table list", (s) => { s.tables.push({ name: "fisnoeski", rowCount: 5, columns: [] }); }, /^ {2}tables: expected/m],
];
for (const [what, change, output] of variants) {
  const s = JSON.parse(JSON.stringify(schema));
  change(s);
  const f = join(work, `expect-${what.replace(/\W+/g, "-")}.json`);
  writeFileSync(f, JSON.stringify(s));
  expectRun(`expected ${what} differs`, [sound, "--expect", f], { status: 1, output });
}

// One stored value changed ("U001" -> "U00X" in urunler.kod): only the
// comparison with the original can see it.
const changed = copy("changed.mdb");
const bytes = readFileSync(changed);
const at = bytes.indexOf("U001", 0, "latin1");
if (at < 0) failures.push("test setup: U001 not found in sales-small.mdb");
bytes.write("U00X", at, "latin1");
writeFileSync(changed, bytes);
expectRun("changed value", [changed, "--rows-like", original], { status: 1, output: /column kod \(text\): "U00X" vs "U001"|"U001" vs "U00X"/ });

// A rename that lost the table, as --renamed sees it.
expectRun("renamed table missing", [sound, "--rows-like", original, "--renamed", "fisno=fisnoeski"],
  { status: 1, output: /no table fisnoeski/ });

// A truncated file: the readers fail, and so does the check.
const cut = copy("truncated.mdb");
truncateSync(cut, 64 * 1024);
expectRun("truncated file", [cut], { status: 1, output: /PROBLEMS/ });

if (failures.length) {
  for (const f of failures) console.log(`FAIL: ${f}`);
  process.exitCode = 1;
} else {
  console.log("PASS verify-written catches every fault tried");
}
