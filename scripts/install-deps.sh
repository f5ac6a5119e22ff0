#!/usr/bin/env bash
# Installs everything the build, the program and the tests need on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build clang libclang-rt-14-dev zlib1g-dev libxxhash-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev fonts-liberation fonts-liberation2
  mdbtools
  xvfb xdotool x11-utils jq
  xz-utils  # the fuzz corpora (scripts/fuzz.sh)
)
# The Windows build (scripts/build-windows.sh) and its tests under 32-bit Wine.
windows_packages=(
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 libz-mingw-w64-dev googletest wine wine32:i386
)
# Node.js and npm run the npm reader; take Debian's only when none is there.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
# KARVELTA_WINDOWS_TESTS=off (as scripts/test.sh takes it) needs none of them.
missing_windows=()
if [ "${KARVELTA_WINDOWS_TESTS:-on}" != off ]; then
  mapfile -t missing_windows < <(missing_of "${windows_packages[@]}")
fi
windows_failed=0
if ((${#missing[@]} + ${#missing_windows[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  # wine32 is an i386 package.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  # A mirror in the middle of a sync fails one index or another for a while:
  # try again, then go on with what was fetched; the install itself says
  # clearly if a package is still out of reach.
  for attempt in 1 2 3; do
    $SUDO apt-get update -qq && break
    if [ "$attempt" -eq 3 ]; then
      echo "install-deps: apt-get update failed three times; installing from the indexes it has" >&2
    else
      sleep 15
    fi
  done
  # When one architecture's index of the security archive lags behind the
  # other's, a package built for both (libc6, zlib1g and the like) has no
  # version both agree on, and the resolver gives up. The release's own
  # archive holds the same versions for every architecture: take the packages
  # from it then.
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  apt_install() {
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$@" && return 0
    echo "install-deps: trying again with the packages of $codename's own archive" >&2
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -t "$codename" "$@"
  }
  # Both lists in one call, so that the resolver picks versions that suit
  # both architectures before any native package is upgraded past what the
  # 32-bit side can match. If that cannot be done, the native packages alone,
  # so that a 32-bit package out of reach does not hold back the Linux build.
  if ((${#missing_windows[@]})); then
    if ! apt_install "${missing[@]}" "${missing_windows[@]}"; then
      windows_failed=1
      if ((${#missing[@]})); then
        apt_install "${missing[@]}"
      fi
    fi
  elif ((${#missing[@]})); then
    apt_install "${missing[@]}"
  fi
fi

# The npm reader used to cross-check the files the engine writes.
if [ ! -d tools/readers/node_modules/mdb-reader ]; then
  (cd tools/readers && npm ci --no-audit --no-fund --loglevel=error)
fi

if ((windows_failed)); then
  echo "install-deps: the Windows build's packages could not be installed (see above)" >&2
  exit 1
fi
