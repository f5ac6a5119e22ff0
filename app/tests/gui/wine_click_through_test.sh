#!/usr/bin/env bash
# karvelta.exe as a technician uses it, under Wine on an X server of the
# test's own: YEDEK AL, OK on its message, TABLO VE ALANLARI GÜNCELLE, OK on
# the final message, KAPAT. The clicks are real mouse clicks on the display;
# what the windows show (the client area, the message boxes' title, text and
# buttons) is read by window_probe.exe from inside the Wine session. Then the
# dated backup is compared with the database before the run, and the updated
# database is read natively by the independent readers, which must find the
# same tables, columns, properties and rows as after the Linux program's run
# (updated_sales_small.json, shared with click_through_test.sh).
#
# usage: wine_click_through_test.sh KARVELTA_EXE WINDOW_PROBE_EXE FIXTURES_DIR WORK_DIR
#
# WORK_DIR is in the build folder: a fresh Wine prefix is made there for each
# run (never the user's own), and a failure leaves its screenshot and logs
# there. The program's folder and the database's folder have Turkish
# letters in their names; the settings file names the database in code
# page 1254, as the sales program writes it. The program is started from
# another working directory, so settings found through the working
# directory would fail the test.
#
# Exit status: 0 passed, 77 skipped (no Wine, X server, X tools or readers),
# else failed.
set -uo pipefail

if (($# != 4)); then
  echo "usage: $0 KARVELTA_EXE WINDOW_PROBE_EXE FIXTURES_DIR WORK_DIR" >&2
  exit 2
fi
readonly karvelta_exe=$1 probe_exe=$2 fixtures=$3 artifacts=$4
readonly fixture="$fixtures/sales-small.mdb"
here=$(cd "$(dirname "$0")" && pwd)
readonly source_dir=${here%/app/tests/gui}
# shellcheck source=click_through_lib.sh
source "$here/click_through_lib.sh"

need wine:wine wineserver:wine Xvfb:xvfb xdotool:xdotool iconv:libc-bin
need_readers
[[ -f $karvelta_exe ]] || { echo "FAILED: no program at $karvelta_exe" >&2; exit 1; }
[[ -f $probe_exe ]] || { echo "FAILED: no window probe at $probe_exe" >&2; exit 1; }
[[ -r $fixture ]] || { echo "FAILED: no fixture at $fixture" >&2; exit 1; }

mkdir -p "$artifacts" || exit 1
rm -f "$artifacts"/gui-click-through-failure.* "$artifacts"/gui-click-through-*.log
work=$(mktemp -d "$artifacts/run.XXXXXX") || exit 1
logs=("karvelta:$work/karvelta.log" "wineboot:$work/wineboot.log")

export WINEPREFIX="$work/wine-prefix" WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko download dialogs in the new prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() {
  stop "$app_pid"
  [[ -d $WINEPREFIX ]] && timeout 20 wineserver -k >/dev/null 2>&1
  stop "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_xvfb

# --- the Wine prefix ------------------------------------------------------
step="making a Wine prefix"
log "wineboot in $WINEPREFIX"
timeout 180 wine wineboot --init >"$work/wineboot.log" 2>&1 || fail "wineboot failed"
timeout 60 wineserver --wait

# A Unix path as the program sees it, on Wine's drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# probe WHAT: the probe's shell assignments, evaluated here.
probe() {
  local out
  out=$(timeout 20 wine "$probe_exe" "$1" 2>/dev/null | tr -d '\r') || return 1
  eval "$out"
}

# --- the program's folder and the database's -------------------------------
step="preparing the program's folder"
app="$work/Satış Programı"
data="$work/Veri Şubesi/Günlük İşler"
mkdir -p "$app" "$data" "$work/elsewhere" || fail "cannot make the folders"
cp "$karvelta_exe" "$app/karvelta.exe" || fail "cannot copy the program"
db="$data/satış.mdb"
cp "$fixture" "$db" && chmod u+w "$db" || fail "cannot copy the fixture"
printf '[ayar]\r\nip=%s\r\n' "$(windows_path "$db")" | iconv -f UTF-8 -t CP1254 >"$app/PLX.dll" ||
  fail "cannot write PLX.dll in code page 1254"

# --- the window ------------------------------------------------------------
step="starting karvelta.exe"
(cd "$work/elsewhere" && exec wine "$app/karvelta.exe") >"$work/karvelta.log" 2>&1 &
app_pid=$!

main_shown() { probe main && ((main_enabled == 1)); }
wait_for "$run_timeout" "main window" main_shown
log "client area at $client_left,$client_top size ${client_width}x$client_height"
((client_width == $(px 14460) && client_height == $(px 4980))) ||
  fail "the client area is ${client_width}x$client_height, the layout is drawn for $(px 14460)x$(px 4980)"

# click NAME LEFT TOP WIDTH HEIGHT (twips): a left click in the middle of the
# part of the control that lies inside the client area.
click() {
  local name=$1 cx cy
  read -r cx cy < <(centre "$2" "$3" "$4" "$5" "$client_width" "$client_height")
  cx=$((client_left + cx)) cy=$((client_top + cy))
  log "click $name at $cx,$cy"
  x xdotool mousemove --sync "$cx" "$cy" click 1 || fail "xdotool could not click $name"
}

# expect_box TEXT: the open box of the main window is a message box titled
# KARVELTA with TEXT, one OK button and no icon.
expect_box() {
  [[ $box_title == KARVELTA ]] || fail "the box is titled '$box_title'"
  [[ $box_text == "$1" ]] || fail "the box says '$box_text', not '$1'"
  ((box_buttons == 1)) || fail "the box has $box_buttons buttons"
  [[ $ok_text == OK ]] || fail "the box's button says '$ok_text'"
  ((box_icon == 0)) || fail "the box shows an icon"
  ((main_enabled == 0)) || fail "the main window takes input while its box is open"
}

box_open() { probe box && probe main; }
box_closed() { ! probe box; }

close_box() {
  log "OK at $ok_x,$ok_y"
  x xdotool mousemove --sync "$ok_x" "$ok_y" click 1 || fail "xdotool could not click OK"
  wait_for "$step_timeout" "end of the box" box_closed
}

# --- YEDEK AL -------------------------------------------------------------
step="clicking YEDEK AL"
before_click=$(date +%s)
click "YEDEK AL" 9840 600 975 735
wait_for "$step_timeout" "message box after YEDEK AL" box_open
after_box=$(date +%s)
log "box: $box_text"
find_backup "$app"
name=$(basename "$backup")
expect_box "VERİTABANI $(windows_path "$app")\\$name DİZİNE YEDEKLENDİ "
step="closing the backup message"
close_box

# --- TABLO VE ALANLARI GÜNCELLE ---------------------------------------------
step="clicking TABLO VE ALANLARI GÜNCELLE"
click "TABLO VE ALANLARI GÜNCELLE" 10920 600 3375 735
wait_for "$run_timeout" "message box after the update run" box_open
log "box: $box_text"
expect_box " Güncelleme Bitti   "
step="closing the final message"
close_box

# --- KAPAT -------------------------------------------------------------------
step="clicking KAPAT"
click KAPAT 9840 4440 4695 615
wait_for_exit KAPAT
log "karvelta.exe closed"

# --- the files ------------------------------------------------------------
step="checking the backup"
check_backup "$backup" "$fixture" "$before_click" "$after_box"
cmp -s "$fixture" "$db" && fail "the database is unchanged after the update run"
leftovers=$(cd "$app" && ls -A | grep -vxF -e karvelta.exe -e PLX.dll -e "$name")
[[ -z $leftovers ]] || fail "files left in the program's folder: $leftovers"
leftovers=$(cd "$data" && ls -A | grep -vxF -e satış.mdb)
[[ -z $leftovers ]] || fail "files left beside the database: $leftovers"

step="checking the updated database"
check_with_readers "$db" "$fixture"

log "passed: backup $name identical to the database before the update; the readers find the same database as after the Linux program's run"
