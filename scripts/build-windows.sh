#!/usr/bin/env bash
# Cross-compiles the Windows programs (32-bit x86, statically linked) with
# Debian's MinGW-w64 toolchain into build-windows/ (or $WIN_BUILD_DIR), with
# any extra CMake flags given, and copies them into its bin/ folder:
# karvelta-jet.exe and karvelta.exe (the native Win32 window). The
# cross-compiled tests are built with KARVELTA_WIN_TESTS=ON (scripts/test.sh runs them under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${WIN_BUILD_DIR:-build-windows}"
command -v i686-w64-mingw32-g++-posix >/dev/null || scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DKARVELTA_WIN32_WINDOW=ON \
  -DKARVELTA_TESTS="${KARVELTA_WIN_TESTS:-OFF}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
mkdir -p "$build/bin"
for exe in tools/karvelta-jet.exe app/karvelta.exe; do
  if [ -f "$build/$exe" ]; then cp "$build/$exe" "$build/bin/"; fi
done
ls "$build/bin"/*.exe
