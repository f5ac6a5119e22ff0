#!/usr/bin/env bash
# Builds the benchmark programs and prints the benchmark table: the update
# run on samples of 1 000, 100 000 and 1 000 000 sales rows and on the sales
# test databases (time, peak memory, pages read, file growth), the catalog
# against mdb-tables, every sales row against mdb-export, and YEDEK AL of a
# database of several hundred MiB against cp. The sample databases are made once (karvelta-jet new-sample's
# code) and kept in $BUILD_DIR/bench-data for later runs; about 1 GB of disk.
# Extra arguments go to karvelta-bench (--sizes N,N,... --backup-rows N).
# The run at the format's size limit (about 1.9 GiB; kept out of CI, about 4
# GB of disk and 15 minutes, most of it mdb-export's):
#   scripts/bench.sh --sizes 1000,17000000 --backup-rows 17000000
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
command -v mdb-tables >/dev/null || scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build" --target karvelta-jet karvelta-bench karvelta_backup_bench
# The update run is also measured on the sales test databases when they are
# there (sales-small and sales-large).
fixtures="${KARVELTA_FIXTURES_DIR:-../shared/fixtures}"
extra=()
[ -f "$fixtures/sales-large.mdb" ] && extra=(--fixtures "$(cd "$fixtures" && pwd)")
exec "$build/tools/karvelta-bench" "$build/bench-data" "$build/tools/karvelta-jet" \
  "$build/backup/karvelta_backup_bench" "${extra[@]}" "$@"
