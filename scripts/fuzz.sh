#!/usr/bin/env bash
# Builds the engine's libFuzzer targets into build-fuzz (jet_fuzz: the read
# side; jet_write_fuzz: rename, new table and new fields on what it reads)
# and runs each for the given number of seconds (default 60) over a seed
# corpus of small test databases, copied into a temporary folder for the run. Exits non-zero when
# a crash, a sanitizer report, a timeout or a memory blow-up is found; the
# failing input is kept in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build="${FUZZ_BUILD_DIR:-build-fuzz}"
fixtures="${KARVELTA_FIXTURES_DIR:-$(pwd)/../shared/fixtures}"

CXX="${CXX:-clang++}"
case "$CXX" in *clang*) ;; *) CXX=clang++ ;; esac
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$CXX" \
  -DKARVELTA_FUZZ=ON -DKARVELTA_TESTS=OFF -DKARVELTA_WINDOW=OFF \
  -DKARVELTA_FIXTURES_DIR="$fixtures" >/dev/null
cmake --build "$build" --target jet_fuzz jet_write_fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/seeds"
for f in access2000-blank.mdb sales-small.mdb sales-nopass.mdb delColTestV2000.mdb \
         overflowTestV2000.mdb testV1997.mdb; do
  cp "$fixtures/$f" "$work/seeds/"
done
chmod u+w "$work/seeds/"*

for target in jet_fuzz jet_write_fuzz; do
  echo "== $target, $seconds s"
  mkdir -p "$work/found-$target"
  "$build/engine/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len=262144 -print_final_stats=1 -artifact_prefix="$build/$target-" \
    "$work/found-$target" "$work/seeds"
done
