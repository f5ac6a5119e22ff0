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
  # The Windows build (scripts/build-windows.sh) and its tests under 32-bit Wine.
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 libz-mingw-w64-dev googletest wine wine32:i386
)
# Node.js and npm run the npm reader; take Debian's only when none is there.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  # wine32 is an i386 package.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

# The npm reader used to cross-check the files the engine writes.
if [ ! -d tools/readers/node_modules/mdb-reader ]; then
  (cd tools/readers && npm ci --no-audit --no-fund --loglevel=error)
fi
