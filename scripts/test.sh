#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test (no display needed):
# the native suite in build/ (or $BUILD_DIR; extra arguments are CMake flags
# for it), then the cross-compiled Windows suite in build-windows/ (or
# $WIN_BUILD_DIR) under Wine, in a Wine prefix of that folder's own.
# KARVELTA_WINDOWS_TESTS=off leaves the Windows suite out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh "$@"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
jobs="$(nproc)"
status=0
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j"$jobs" || status=$?

if [ "${KARVELTA_WINDOWS_TESTS:-on}" != off ]; then
  echo "== the Windows programs and their tests, under Wine"
  KARVELTA_WIN_TESTS=ON scripts/build-windows.sh
  ctest --test-dir "${WIN_BUILD_DIR:-build-windows}" --output-on-failure -j"$jobs" || status=$?
fi
exit "$status"
