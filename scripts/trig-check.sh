#!/usr/bin/env bash
# The show's sines and cosines (portableSin, portableCos) on every argument it
# passes them in frames 0..2^24-1, against the x87 sinl and cosl rounded to
# double that it used before, and against the stored digest of those results
# (tools/trig-check). 553,648,248 arguments: 58 s of processor time, about 30 s
# on 2 free cores. Builds vornisk-trig-check in the release build first.
# Usage: scripts/trig-check.sh [options of vornisk-trig-check, e.g. --frames N]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
[[ -f $build/build.ninja ]] || cmake --preset release >/dev/null
cmake --build "$build" --target vornisk-trig-check >/dev/null
started=$SECONDS
"$build/bin/vornisk-trig-check" --threads 2 "$@"
echo "trig-check: passed in $((SECONDS - started)) s"
