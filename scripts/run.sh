#!/usr/bin/env bash
# Installs the dependencies, builds, puts a settings file PLX.dll beside the
# built program pointing at a demo database, and starts the window.
# An existing PLX.dll or demo database is kept, so edits and the results of
# earlier runs survive; delete them to start afresh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh "$@"

build="${BUILD_DIR:-build}"
program_dir="$(cd "$build/window" && pwd)"
demo_dir="$(cd "$build" && pwd)/demo"
demo_db="$demo_dir/sales.mdb"
fixtures="${KARVELTA_FIXTURES_DIR:-$(pwd)/../shared/fixtures}"

mkdir -p "$demo_dir"
if [ ! -e "$demo_db" ]; then
  if [ -f "$fixtures/sales-small.mdb" ]; then
    cp "$fixtures/sales-small.mdb" "$demo_db"
    chmod u+w "$demo_db"
  else
    # No sample sales database at hand: any file will do for a backup.
    printf 'karvelta demo database placeholder\n' > "$demo_db"
  fi
fi
if [ ! -e "$program_dir/PLX.dll" ]; then
  printf '[ayar]\r\nip=%s\r\n' "$demo_db" > "$program_dir/PLX.dll"
fi
echo "settings: $program_dir/PLX.dll"
echo "database: $(sed -n 's/^ip=//p' "$program_dir/PLX.dll" | tr -d '\r')"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "no display found: run from a desktop session (or set DISPLAY)" >&2
  exit 1
fi
exec "$program_dir/karvelta"
