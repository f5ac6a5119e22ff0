#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test (no display needed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh "$@"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j"$(nproc)"
