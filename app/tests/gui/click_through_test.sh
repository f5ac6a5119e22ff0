#!/usr/bin/env bash
# The window program as a technician uses it, under an X server of its own:
# YEDEK AL, OK on its message, TABLO VE ALANLARI GÜNCELLE, OK on the final
# message, KAPAT. Then the dated backup and the updated database are checked
# with the command-line tool and the independent readers.
#
# usage: click_through_test.sh KARVELTA KARVELTA_JET FIXTURES_DIR ARTIFACT_DIR
#
# The program is copied into a temporary folder with PLX.dll and a copy of
# sales-small.mdb, since it reads its settings beside its own executable.
# It is started from another working directory, so a settings file found
# through the working directory would fail the test.
#
# Exit status: 0 passed, 77 skipped (no X server or X tools), else failed.
# On failure a screenshot (when ImageMagick's import or xwd is there) and the
# program's output are left in ARTIFACT_DIR.
set -uo pipefail

if (($# != 4)); then
  echo "usage: $0 KARVELTA KARVELTA_JET FIXTURES_DIR ARTIFACT_DIR" >&2
  exit 2
fi
readonly karvelta_bin=$1 jet_bin=$2 fixtures=$3 artifacts=$4
readonly fixture="$fixtures/sales-small.mdb"
here=$(cd "$(dirname "$0")" && pwd)
readonly source_dir=${here%/app/tests/gui}
# shellcheck source=click_through_lib.sh
source "$here/click_through_lib.sh"

need Xvfb:xvfb xdotool:xdotool xprop:x11-utils jq:jq
need_readers
[[ -x $karvelta_bin ]] || { echo "FAILED: no program at $karvelta_bin" >&2; exit 1; }
[[ -x $jet_bin ]] || { echo "FAILED: no karvelta-jet at $jet_bin" >&2; exit 1; }
[[ -r $fixture ]] || { echo "FAILED: no fixture at $fixture" >&2; exit 1; }

# What an earlier failure left there would mislead.
rm -f "$artifacts"/gui-click-through-failure.* "$artifacts"/gui-click-through-*.log

work=$(mktemp -d "${TMPDIR:-/tmp}/karvelta-gui.XXXXXX") || exit 1
logs=("karvelta:$work/karvelta.log")

cleanup() {
  stop "$app_pid"
  stop "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The visible top-level windows of the program, titled as all of its are.
visible_windows() { x xdotool search --all --onlyvisible --pid "$app_pid" --name '^KARVELTA$'; }

start_xvfb

# --- the program's folder -----------------------------------------------
step="preparing the program's folder"
app="$work/app"
mkdir "$app" || fail "cannot make $app"
cp "$karvelta_bin" "$app/karvelta" || fail "cannot copy the program"
db="$app/sales.mdb"
cp "$fixture" "$db" && chmod u+w "$db" || fail "cannot copy the fixture"
printf '[ayar]\r\nip=%s\r\n' "$db" >"$app/PLX.dll"
mkdir -m 700 "$work/runtime"

# --- the window ------------------------------------------------------------
step="starting karvelta"
# On the xcb platform Qt looks for a desktop bus (accessibility, portals);
# without an address it would try to start one for the display. The test
# gives it an address where no bus listens, so the program meets no bus of
# the caller's and leaves no bus behind (nor the buffers of its reader
# thread, which outlive the process).
(
  cd / &&
    exec env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_QPA_PLATFORMTHEME \
      QT_QPA_PLATFORM=xcb DISPLAY="$display" XDG_RUNTIME_DIR="$work/runtime" \
      DBUS_SESSION_BUS_ADDRESS="unix:path=$work/runtime/no-bus" \
      DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/runtime/no-bus" \
      QT_ENABLE_HIGHDPI_SCALING=0 "$app/karvelta"
) >"$work/karvelta.log" 2>&1 &
app_pid=$!

main_shown() {
  local ids
  ids=$(visible_windows) || return 1
  [[ $(wc -w <<<"$ids") -eq 1 ]] || return 1
  main=$ids
}
main=""
wait_for "$step_timeout" "main window" main_shown
eval "$(x xdotool getwindowgeometry --shell "$main")" || fail "no geometry of window $main"
log "main window $main at $X,$Y size ${WIDTH}x$HEIGHT"

# The layout is fixed-size and kept in twips, 15 to a pixel at 96 DPI.
((WIDTH == $(px 14460) && HEIGHT == $(px 4980))) ||
  fail "the window is ${WIDTH}x$HEIGHT, the layout is drawn for $(px 14460)x$(px 4980)"

# click NAME LEFT TOP WIDTH HEIGHT (twips): a left click in the middle of the
# part of the control that lies inside the window.
click() {
  local name=$1 cx cy
  read -r cx cy < <(centre "$2" "$3" "$4" "$5" "$WIDTH" "$HEIGHT")
  log "click $name at $cx,$cy"
  x xdotool mousemove --window "$main" --sync "$cx" "$cy" click 1 ||
    fail "xdotool could not click $name"
}

# A message box: a new visible window of the program, transient for the
# main window.
box=""
box_shown() {
  local id
  for id in $(visible_windows); do
    [[ $id == "$main" ]] && continue
    box=$id
    return 0
  done
  return 1
}
box_gone() { ! visible_windows | grep -qx "$box"; }

check_box() {
  local transient
  transient=$(x xprop -id "$box" WM_TRANSIENT_FOR) || fail "no properties of window $box"
  [[ ${transient,,} == *"# $(printf '0x%x' "$main")" ]] ||
    fail "window $box is no box of the main window ($transient)"
}

# Return on the box closes it through its one button, OK. Should the key
# come before the box takes it, it is sent once more.
close_box() {
  local attempt deadline
  for attempt in 1 2 3; do
    x xdotool windowfocus --sync "$box"
    x xdotool key --clearmodifiers Return
    deadline=$((SECONDS + 5))
    while ((SECONDS < deadline)); do
      box_gone && return 0
      app_alive || fail "karvelta ended while its box was open"
      sleep 0.1
    done
    log "box $box still open after Return (attempt $attempt)"
  done
  fail "the box $box does not close on Return"
}

# --- YEDEK AL -------------------------------------------------------------
step="clicking YEDEK AL"
before_click=$(date +%s)
click "YEDEK AL" 9840 600 975 735
wait_for "$step_timeout" "message box after YEDEK AL" box_shown
after_box=$(date +%s)
check_box
# The success message comes only after the copy is in place; the failure
# message leaves none.
find_backup "$app"
log "backup box $box; backup $(basename "$backup")"
step="closing the backup message"
close_box

# --- TABLO VE ALANLARI GÜNCELLE ---------------------------------------------
step="clicking TABLO VE ALANLARI GÜNCELLE"
click "TABLO VE ALANLARI GÜNCELLE" 10920 600 3375 735
wait_for "$run_timeout" "message box after the update run" box_shown
check_box
log "final box $box"
step="closing the final message"
close_box

# --- KAPAT -------------------------------------------------------------------
step="clicking KAPAT"
click KAPAT 9840 4440 4695 615
wait_for_exit KAPAT
log "karvelta closed"

# --- the files ------------------------------------------------------------
step="checking the backup"
check_backup "$backup" "$fixture" "$before_click" "$after_box"
name=$(basename "$backup")
cmp -s "$fixture" "$db" && fail "the database is unchanged after the update run"
leftovers=$(cd "$app" && ls -A | grep -vxF -e karvelta -e PLX.dll -e sales.mdb -e "$name")
[[ -z $leftovers ]] || fail "files left in the program's folder: $leftovers"

step="checking the updated database"
# One line per table: name, rows, then each column as name:type:size, with
# :auto for an auto number.
layout() {
  "$jet_bin" schema "$1" --password "$password" | jq -r '.tables[] |
    "\(.name) rows=\(.rowCount): " + ([.columns[] | "\(.name):\(.type):\(.size)" +
      (if .autoIncrement then ":auto" else "" end)] | join(" "))' | sort
}
original=$(layout "$fixture") || fail "karvelta-jet cannot read the fixture"
updated=$(layout "$db") || fail "karvelta-jet cannot read the updated database"
# The old tables keep their columns and rows under the new names; the new
# ones start with the auto number "no" and the run's fields, in run order.
# Text fields take the limit in sinir: 50 at the start, 100 from musteriadi on.
expected=$(
  {
    grep -v -e '^fisno ' -e '^satislar ' <<<"$original"
    sed -n -e 's/^fisno /fisnoeski /p' -e 's/^satislar /satislareski /p' <<<"$original"
    echo "fisno rows=0: no:long:4:auto fisno:long:4 tarih:datetime:8 saat:datetime:8" \
      "odemesi:text:50 musteriadi:text:100 toplam:currency:8 musterikodu:text:100"
    echo "satislar rows=0: no:long:4:auto tarih:datetime:8 musterikod:text:100" \
      "fiyat:currency:8 adet:text:100 toplam:currency:8 kar:currency:8 urunstok:text:100" \
      "musteriadi:memo:0 urun2:text:100 grub2:text:100 odemesi:text:100 satisiyapan:memo:0" \
      "saat:datetime:8 barkod2:text:100 urunlernosu:long:4 iskonto:long:4 tutar:currency:8" \
      "verilen:currency:8 kalan:currency:8 teslim:long:4 durum:text:100 fisno:text:100" \
      "tarih2:datetime:8"
  } | sort
)
if [[ $updated != "$expected" ]]; then
  echo "--- expected tables"
  echo "$expected"
  echo "--- tables after the update run"
  echo "$updated"
  diff <(echo "$expected") <(echo "$updated")
  fail "the tables after the update run are not the expected ones"
fi
for t in fisno satislar; do
  "$jet_bin" rows "$fixture" "$t" --password "$password" >"$work/$t.before" &&
    "$jet_bin" rows "$db" "${t}eski" --password "$password" >"$work/$t.after" ||
    fail "karvelta-jet cannot read the rows of $t / ${t}eski"
  [[ -s $work/$t.before ]] || fail "karvelta-jet reads no rows of $t in the fixture"
  cmp -s "$work/$t.before" "$work/$t.after" ||
    fail "the rows of ${t}eski are not those of $t before the update"
done
# The readers of their own, mdbtools and mdb-reader, see the same tables as
# the Windows program's run leaves (wine_click_through_test.sh).
check_with_readers "$db" "$fixture"

log "passed: backup $name identical to the database before the update; fisnoeski and satislareski kept, fisno and satislar rebuilt"
