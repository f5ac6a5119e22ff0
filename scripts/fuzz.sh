#!/usr/bin/env bash
# The engine's libFuzzer targets, built into build-fuzz (clang, ASan+UBSan):
#   jet_fuzz           the read side, over database files;
#   jet_write_fuzz     rename, new table and new fields on what it reads;
#   jet_recovery_fuzz  interrupted changes, damaged, then opened and recovered
#                      (its inputs describe the change, the cut and the damage).
#
#   scripts/fuzz.sh [SECONDS]          runs each target for SECONDS (default 60)
#   scripts/fuzz.sh --merge [SECONDS]  grows the committed corpora (see below)
#
# Every run starts from the target's committed corpus, engine/fuzz/corpus/
# TARGET.tar.xz, unpacked into a temporary folder (the database targets also
# get copies of a few test databases there); what a run finds is left in that
# folder and the repository is never written. A crash, a sanitizer report, a
# timeout or a memory blow-up makes the script exit non-zero, the failing input
# kept in build-fuzz/.
#
# --merge runs each target for SECONDS from its committed corpus and the first
# inputs fuzz_seeds writes from our engine's own databases (never the test
# databases, whose bytes must not enter the repository), then keeps a minimal
# set of inputs with the same coverage (libFuzzer's -merge=1) and writes it back
# as TARGET.tar.xz, to be committed. Findings do not stop that run (-fork=1
# -ignore_crashes=1); they are kept in build-fuzz/ and make the script exit
# non-zero after the corpora are written.
set -euo pipefail
cd "$(dirname "$0")/.."
merge=0
if [ "${1:-}" = "--merge" ]; then
  merge=1
  shift
fi
seconds="${1:-60}"
build="${FUZZ_BUILD_DIR:-build-fuzz}"
fixtures="${KARVELTA_FIXTURES_DIR:-$(pwd)/../shared/fixtures}"
corpora="$(pwd)/engine/fuzz/corpus"
# FUZZ_TARGETS="jet_recovery_fuzz" (say) runs only those.
read -r -a targets <<<"${FUZZ_TARGETS:-jet_fuzz jet_write_fuzz jet_recovery_fuzz}"

CXX="${CXX:-clang++}"
case "$CXX" in *clang*) ;; *) CXX=clang++ ;; esac
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$CXX" \
  -DKARVELTA_FUZZ=ON -DKARVELTA_TESTS=OFF -DKARVELTA_WINDOW=OFF \
  -DKARVELTA_FIXTURES_DIR="$fixtures" >/dev/null
cmake --build "$build" --target jet_fuzz jet_write_fuzz jet_recovery_fuzz fuzz_seeds
bin="$build/engine/fuzz"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# First inputs made by our engine alone.
"$bin/fuzz_seeds" databases "$work/engine-databases"
"$bin/fuzz_seeds" recovery "$work/engine-recovery"
engineSeeds() {
  case "$1" in
    jet_recovery_fuzz) echo "$work/engine-recovery" ;;
    *) echo "$work/engine-databases" ;;
  esac
}

# Test databases, for the runs that do not write corpora.
mkdir "$work/fixtures"
for f in access2000-blank.mdb sales-small.mdb sales-nopass.mdb delColTestV2000.mdb \
         overflowTestV2000.mdb testV1997.mdb; do
  cp "$fixtures/$f" "$work/fixtures/"
done
chmod u+w "$work/fixtures/"*

options() {
  case "$1" in
    jet_recovery_fuzz) echo "-max_len=166" ;;  # 6 bytes and 32 pieces of damage
    *) echo "-max_len=262144" ;;
  esac
}

found=0
for target in "${targets[@]}"; do
  corpus="$work/corpus-$target"
  mkdir "$corpus"
  if [ -f "$corpora/$target.tar.xz" ]; then
    tar -xJf "$corpora/$target.tar.xz" -C "$corpus"
  fi
  echo "== $target, $seconds s, $(find "$corpus" -type f | wc -l) inputs in the committed corpus"
  # shellcheck disable=SC2046
  common=(-timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/$target-" $(options "$target"))
  if ((merge == 0)); then
    seeds=()
    [ "$target" = jet_recovery_fuzz ] || seeds+=("$work/fixtures")
    # With no committed corpus yet, the engine's own inputs stand in for it.
    [ -n "$(ls -A "$corpus")" ] || seeds+=("$(engineSeeds "$target")")
    mkdir "$work/found-$target"
    "$bin/$target" -max_total_time="$seconds" "${common[@]}" "$work/found-$target" "$corpus" "${seeds[@]}"
  else
    grown="$work/grown-$target"
    mkdir "$grown"
    cp -r "$corpus/." "$grown/"
    cp -r "$(engineSeeds "$target")/." "$grown/"
    # Findings of this run only: written beside the run, then kept.
    mkdir "$work/findings-$target"
    "$bin/$target" -max_total_time="$seconds" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -print_funcs=0 \
      "${common[@]}" -artifact_prefix="$work/findings-$target/$target-" "$grown" || found=1
    if [ -n "$(ls -A "$work/findings-$target")" ]; then
      found=1
      echo "== $target: $(ls "$work/findings-$target" | wc -l) findings"
      cp "$work/findings-$target"/* "$build/"
    fi
    minimal="$work/minimal-$target"
    mkdir "$minimal"
    "$bin/$target" -merge=1 "${common[@]}" "$minimal" "$grown" 2>&1 | grep -E "^MERGE-OUTER: [0-9]+ new files" || true
    mkdir -p "$corpora"
    # Byte for byte the same archive for the same inputs.
    tar --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -C "$minimal" -cf - . |
      xz -9e -T1 >"$corpora/$target.tar.xz"
    echo "== $target: $(find "$minimal" -type f | wc -l) inputs, $(du -k "$corpora/$target.tar.xz" | cut -f1) KiB packed"
  fi
done
if ((found)); then
  echo "findings are kept in $build/" >&2
  exit 1
fi
