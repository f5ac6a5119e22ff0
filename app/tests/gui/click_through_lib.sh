# Shared by the click-through tests of the window programs: the Qt program on
# Linux (click_through_test.sh) and karvelta.exe under Wine
# (wine_click_through_test.sh). Sourced, not run.
#
# The script that sources it sets `source_dir` (the top of the source tree),
# `artifacts` (where a failure leaves its screenshot and logs), `work` (its
# temporary folder), `app_pid` once the
# program runs, and `logs` (an array of "name:file" whose tails a failure
# prints); `step` names what it is doing.

# Bounds of the waits, in seconds. The update run gets more: a sanitizer
# build of the program is several times slower.
readonly step_timeout=${KARVELTA_GUI_STEP_TIMEOUT:-20}
readonly run_timeout=${KARVELTA_GUI_RUN_TIMEOUT:-90}
readonly password=zorpelnik

display="" xvfb_pid="" app_pid="" step="starting"
logs=()

skip() {
  echo "SKIPPED: $*"
  exit 77
}

# need TOOL:PACKAGE...: skips the test when a tool is missing.
need() {
  local tool
  for tool in "$@"; do
    command -v "${tool%%:*}" >/dev/null 2>&1 ||
      skip "${tool%%:*} is not installed (Debian package ${tool#*:}; scripts/install-deps.sh installs it)"
  done
}

log() { echo "[$(date +%T)] $*"; }

# Ends a process the test started, and waits for it.
stop() {
  local pid=$1
  [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null || return 0
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

screenshot() {
  [[ -n $display ]] || return 0
  local shot="$artifacts/gui-click-through-failure"
  if command -v import >/dev/null 2>&1; then
    timeout 10 import -display "$display" -window root "$shot.png" 2>/dev/null &&
      echo "screenshot: $shot.png"
  elif command -v xwd >/dev/null 2>&1; then
    timeout 10 xwd -display "$display" -root -silent >"$shot.xwd" 2>/dev/null &&
      echo "screenshot: $shot.xwd"
  fi
}

fail() {
  echo "FAILED while $step: $*" >&2
  screenshot
  local entry name file
  for entry in "${logs[@]}"; do
    name=${entry%%:*} file=${entry#*:}
    [[ -s $file ]] || continue
    cp "$file" "$artifacts/gui-click-through-$name.log"
    echo "--- output of $name (last 40 lines) ---"
    tail -n 40 "$file"
  done
  exit 1
}

# Alive and not yet a zombie waiting to be reaped.
app_alive() {
  local pid comm state
  [[ -n $app_pid && -r /proc/$app_pid/stat ]] || return 1
  read -r pid comm state _ <"/proc/$app_pid/stat" || return 1
  [[ $state != Z ]]
}

# wait_for SECONDS WHAT COMMAND...: polls COMMAND until it succeeds.
wait_for() {
  local limit=$1 what=$2
  shift 2
  local deadline=$((SECONDS + limit))
  until "$@"; do
    if [[ -n $app_pid ]] && ! app_alive; then fail "the program ended while waiting for $what"; fi
    ((SECONDS < deadline)) || fail "no $what after ${limit} s"
    sleep 0.1
  done
}

# Waits for the program to end of itself and fails unless its status is 0.
wait_for_exit() {
  local deadline=$((SECONDS + step_timeout)) status
  while app_alive; do
    ((SECONDS < deadline)) || fail "the program still runs ${step_timeout} s after $1"
    sleep 0.1
  done
  wait "$app_pid"
  status=$?
  app_pid=""
  ((status == 0)) || fail "the program ended with status $status"
}

x() { timeout 10 "$@" 2>/dev/null; }

# Twips to pixels at 96 DPI, rounded as the window rounds them
# (window/layout.h: toPixels).
px() { echo $((($1 + 7) / 15)); }

# centre LEFT TOP WIDTH HEIGHT AREA_WIDTH AREA_HEIGHT (twips, then pixels):
# the pixel in the middle of the part of the control that lies inside the
# area, as "x y".
centre() {
  local l t r b
  l=$(px "$1") t=$(px "$2")
  r=$((l + $(px "$3"))) b=$((t + $(px "$4")))
  ((r > $5)) && r=$5
  ((b > $6)) && b=$6
  echo "$(((l + r) / 2)) $(((t + b) / 2))"
}

# An X server of the test's own (never the caller's), exported as DISPLAY.
start_xvfb() {
  step="starting Xvfb"
  unset DISPLAY XAUTHORITY WAYLAND_DISPLAY
  # -displayfd: the server takes a free display itself and writes its number
  # once it accepts connections.
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp -noreset \
    9>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  logs+=("Xvfb:$work/xvfb.log")
  xvfb_ready() {
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb ended at once"
    [[ $(cat "$work/display" 2>/dev/null) =~ ^[0-9]+$'\n'?$ ]]
  }
  wait_for "$step_timeout" "display number from Xvfb" xvfb_ready
  display=":$(tr -d '\n' <"$work/display")"
  export DISPLAY=$display
  log "Xvfb on $display"
}

# The one backup in FOLDER, in `backup`; fails unless there is exactly one.
find_backup() {
  local folder=$1 backups
  shopt -s nullglob
  backups=("$folder"/plx*.ocx)
  shopt -u nullglob
  ((${#backups[@]} == 1)) ||
    fail "${#backups[@]} backups in the program's folder (${backups[*]:-none})"
  backup=${backups[0]}
}

# check_backup BACKUP ORIGINAL FROM TO: named plx + DDMMYYYYhhmmss + .ocx with
# a local time from FROM to TO (seconds since the epoch), and a byte-for-byte
# copy of ORIGINAL.
check_backup() {
  local path=$1 original=$2 from=$3 to=$4 name m stamp
  name=$(basename "$path")
  [[ $name =~ ^plx([0-9]{2})([0-9]{2})([0-9]{4})([0-9]{2})([0-9]{2})([0-9]{2})\.ocx$ ]] ||
    fail "backup name $name is not plx + DDMMYYYYhhmmss + .ocx"
  m=("${BASH_REMATCH[@]}")
  stamp=$(date -d "${m[3]}-${m[2]}-${m[1]} ${m[4]}:${m[5]}:${m[6]}" +%s 2>/dev/null) ||
    fail "backup name $name holds no valid local time"
  ((from <= stamp && stamp <= to)) ||
    fail "backup name $name is not the time of the click ($(date -d "@$from" '+%d%m%Y%H%M%S') to $(date -d "@$to" '+%d%m%Y%H%M%S'))"
  cmp -s "$original" "$path" || fail "the backup differs from the database before the update"
}

# check_with_readers DB ORIGINAL: mdbtools and mdb-reader read the
# whole updated database and agree; its tables are those of
# updated_sales_small.json (the update run of sales-small.mdb, the same for
# every platform's program), and fisnoeski and satislareski hold the rows of
# fisno and satislar before the run.
check_with_readers() {
  local db=$1 original=$2
  node "$source_dir/tools/readers/verify-written.mjs" "$db" --password "$password" \
    --expect "$source_dir/app/tests/gui/updated_sales_small.json" \
    --rows-like "$original" --renamed fisno=fisnoeski,satislar=satislareski \
    >"$work/readers.log" 2>&1 || {
    cat "$work/readers.log"
    fail "the independent readers do not find the database the update run should leave"
  }
}

# The readers the file checks need.
need_readers() {
  need node:nodejs mdb-tables:mdbtools
  [[ -d $source_dir/tools/readers/node_modules/mdb-reader ]] ||
    skip "tools/readers/node_modules is missing (scripts/install-deps.sh runs npm ci there)"
}
