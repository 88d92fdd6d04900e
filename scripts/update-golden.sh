#!/usr/bin/env bash
# Rewrites tests/golden/ (the whole-show frame hashes that the regression test
# compares against) from the current tree, then shows what changed. Run it only
# for a deliberate change of the picture, and say in the commit why the frames
# changed. Usage: scripts/update-golden.sh [BUILD_DIR]   (default: build/release)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/release}"

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  if [[ $# -gt 0 ]]; then
    echo "update-golden: $build is not a configured build folder" >&2
    exit 1
  fi
  (cd "$root" && cmake --preset release >/dev/null)
fi
cmake --build "$build" --target regression_test vornisk-capture

# The test writes each run's file instead of comparing when asked to.
VORNISK_UPDATE_GOLDEN=1 SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy \
  ctest --test-dir "$build" -R '^Shows/ShowRegression\.' --output-on-failure

git -C "$root" status --short -- tests/golden
git -C "$root" diff --stat -- tests/golden
