#!/usr/bin/env bash
# Compares two builds of vornisk-capture on the whole show, with runs taken in
# turn (A, B, A, B, ...) so that both see the same minutes of a machine whose
# speed drifts. Prints each build's fastest run, lower quartile and median.
# Usage: scripts/compare-builds.sh BIN_DIR_A BIN_DIR_B [RUNS] [capture options]
# (default 10 runs each, with --hash). Each BIN_DIR holds vornisk-capture and
# the data files, as build/release/bin does.
set -euo pipefail
[[ $# -ge 2 ]] || { sed -n '2,8p' "$0" >&2; exit 2; }
a=$(cd "$1" && pwd)
b=$(cd "$2" && pwd)
runs=${3:-10}
shift $(($# < 3 ? $# : 3))
options=("$@")
[[ ${#options[@]} -gt 0 ]] || options=(--hash)
times=$(mktemp)
trap 'rm -f "$times"' EXIT
for ((i = 0; i < runs; ++i)); do
  for side in A B; do
    dir=$a
    [[ $side == B ]] && dir=$b
    start=$(date +%s%N)
    (cd "$dir" && ./vornisk-capture "${options[@]}" >/dev/null 2>&1)
    end=$(date +%s%N)
    echo "$side $(((end - start) / 1000))" >>"$times"
  done
done
sort -k1,1 -k2,2n "$times" | awk '
  { n[$1]++; v[$1, n[$1]] = $2 }
  END {
    for (s in n)
      printf "%s: fastest %.3f s, lower quartile %.3f s, median %.3f s (%d runs)\n", s,
        v[s, 1] / 1e6, v[s, int(n[s] / 4) + 1] / 1e6, v[s, int(n[s] / 2) + 1] / 1e6, n[s]
  }' | sort
