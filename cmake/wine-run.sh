#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix: wine-run.sh PREFIX
# PROGRAM [ARGS...]. The prefix (32-bit) is made on first use, once even when
# several tests start together, with Wine's display-less graphics driver, so
# that windows of the tests need no X server and none shows on one; Wine's
# own messages are silenced, and the program's exit code is returned.
set -euo pipefail
prefix="$1"
shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko download dialogs in a new prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -e "$prefix/.ready-display-less" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -e "$prefix/.ready-display-less" ]; then
    rm -rf "$prefix"
    wine wineboot --init >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wineserver --wait
    touch "$prefix/.ready-display-less"
  fi
  exec 9>&-
fi
# A folder on another machine and a drive mapped to it, as a shop's
# workstation reaches the cash desk's: \\KASA1\Veri and K: both lead to the
# prefix's shop-share folder (Wine finds \\server\share at
# dosdevices/unc/server/share and a drive at dosdevices/<letter>:). Made once
# per prefix, under the same lock, so that no running test sees it half made.
if [ ! -e "$prefix/.ready-shop-share" ]; then
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -e "$prefix/.ready-shop-share" ]; then
    mkdir -p "$prefix/shop-share" "$prefix/dosdevices/unc/kasa1"
    ln -sfn ../../../shop-share "$prefix/dosdevices/unc/kasa1/veri"
    ln -sfn ../shop-share "$prefix/dosdevices/k:"
    touch "$prefix/.ready-shop-share"
  fi
  exec 9>&-
fi
# A server that stays 30 s after its last program. One that stops as soon as
# the last program ends is often stopping just as the next test's program
# connects, which then fails with "recvmsg: Connection reset by peer". When
# a server is running already this does nothing.
wineserver -p30 >/dev/null 2>&1 || true
# Now and then a program still loses its connection to the server ("wine
# client error:...: recvmsg: Connection reset by peer"), or fails before it
# has written a line, before it has done anything; or Wine's own process
# dies of a segmentation fault (status 139: a fault in the Windows program
# is Wine's to handle, and ends it with a status of its own); that is Wine's
# own failure, not the program's. Such a run is started again, up to twice; any
# other failure is returned as it is, and one that persists is returned
# after the third run. The program's output and error output are passed on
# once each run is over.
output="$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")"
errors="$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")"
trap 'rm -f "$output" "$errors"' EXIT
for attempt in 1 2 3; do
  status=0
  wine "$@" >"$output" 2>"$errors" || status=$?
  cat "$output"
  cat "$errors" >&2
  if [ "$status" -eq 0 ] || [ "$attempt" -eq 3 ]; then
    exit "$status"
  fi
  if grep -q '^wine client error:' "$errors"; then
    echo "wine-run.sh: Wine lost its server; running the program again" >&2
  elif [ "$status" -eq 139 ]; then
    echo "wine-run.sh: Wine itself crashed; running the program again" >&2
  elif [ ! -s "$output" ]; then
    echo "wine-run.sh: the program failed (status $status) before writing anything; running it again" >&2
  else
    exit "$status"
  fi
  wineserver -p30 >/dev/null 2>&1 || true
done
