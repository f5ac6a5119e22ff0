#!/usr/bin/env bash
# Installs the dependencies, builds, writes a demo sales database beside the
# built program (karvelta-jet new-sample: satis.mdb and a settings file
# PLX.dll naming it) and starts the window, ready for YEDEK AL and the update
# run. An existing demo database or PLX.dll is kept, so edits and the results
# of earlier runs survive; delete them to start afresh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh "$@"

build="${BUILD_DIR:-build}"
program_dir="$(cd "$build/app" && pwd)"
demo_db="$program_dir/satis.mdb"

if [ ! -e "$demo_db" ]; then
  settings_kept=""
  if [ -e "$program_dir/PLX.dll" ]; then
    settings_kept="$(mktemp)"
    cp "$program_dir/PLX.dll" "$settings_kept"
  fi
  "$build/tools/karvelta-jet" new-sample "$program_dir" >/dev/null
  if [ -n "$settings_kept" ]; then
    cp "$settings_kept" "$program_dir/PLX.dll"
    rm -f "$settings_kept"
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
