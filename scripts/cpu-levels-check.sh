#!/usr/bin/env bash
# The release build's vector fast paths on the x86-64 levels this machine does
# not select: the field, draws and projections are built for x86-64-v4
# (AVX-512), v3 (AVX2) and the baseline, and src/metaballs/cpu_level.h picks
# one at run time from what the processor reports (__builtin_cpu_supports).
# Under qemu-x86_64's emulated processors the baseline (qemu64) and AVX2
# (Haswell) variants run instead: the whole-show regression runs must give
# the golden hashes, and the fast-path tests must pass, on each.
# Needs the release build and qemu-user (scripts/install-deps.sh --with-arm64).
# Usage: scripts/cpu-levels-check.sh [BUILD_DIR]   (default: build/release)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/release}" && pwd)"
command -v qemu-x86_64 >/dev/null || {
  echo "cpu-levels-check: qemu-x86_64 is missing (scripts/install-deps.sh --with-arm64)" >&2
  exit 1
}
for program in bin/vornisk-capture tests/regression_test tests/fast_path_test; do
  [[ -x $build/$program ]] || {
    echo "cpu-levels-check: no $build/$program (build first: cmake --workflow --preset release)" >&2
    exit 1
  }
done
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
started=$SECONDS
failed=0
# TCG leaves out a few security features of the named models and says so.
quiet() { grep -v "TCG doesn't support requested feature" || true; }
for cpu in qemu64 Haswell-v4; do
  # The regression test starts vornisk-capture from VORNISK_BIN: a script
  # there starts it under the emulator.
  bin="$work/$cpu"
  mkdir -p "$bin"
  printf '#!/bin/sh\nexec qemu-x86_64 -cpu %s "%s/bin/vornisk-capture" "$@"\n' "$cpu" "$build" \
    >"$bin/vornisk-capture"
  chmod +x "$bin/vornisk-capture"
  echo "cpu-levels-check: $cpu"
  VORNISK_BIN="$bin" "$build/tests/regression_test" --gtest_brief=1 2>&1 | quiet || failed=1
  qemu-x86_64 -cpu "$cpu" "$build/tests/fast_path_test" --gtest_brief=1 2>&1 | quiet || failed=1
  if [[ $failed -ne 0 ]]; then
    echo "cpu-levels-check: the variants $cpu selects gave other results" >&2
    exit 1
  fi
done
echo "cpu-levels-check: baseline and AVX2 variants give the golden frames; $((SECONDS - started)) s"
