#!/usr/bin/env bash
# Lines of code by kind: product (src, platform, tools, bench, scripts, web,
# cmake) beside tests (tests, fuzz), counted over the files that are code
# (*.cpp, *.h, *.py, *.sh, *.js, *.cmake and CMakeLists.txt; documentation,
# data and pictures are not), and the tests' share of the whole. The project
# keeps that share at or below one third; --check fails when it is above.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
  local dirs=()
  for d in "$@"; do [[ -d $d ]] && dirs+=("$d"); done
  [[ ${#dirs[@]} -eq 0 ]] && { echo 0; return; }
  find "${dirs[@]}" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.py' -o -name '*.sh' \
    -o -name '*.js' -o -name '*.cmake' -o -name CMakeLists.txt \) -not -path '*/build/*' -print0 |
    xargs -0 -r cat | wc -l
}

product=$(count src platform tools bench scripts web cmake)
tests=$(count tests fuzz)
total=$((product + tests))
share=$(awk -v t="$tests" -v a="$total" 'BEGIN { printf "%.1f", a ? 100 * t / a : 0 }')
echo "product: $product lines, tests: $tests lines, tests' share: $share %"
if [[ "${1:-}" == "--check" ]] && ((3 * tests > total)); then
  echo "code-stats: tests are more than a third of all code" >&2
  exit 1
fi
