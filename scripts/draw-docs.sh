#!/usr/bin/env bash
# Redraws the documentation's pictures from their text sources: every
# docs/images/*.dot into an SVG beside it (Graphviz `dot`,
# scripts/install-deps.sh --with-tools). With --check, redraws into a
# temporary folder and fails if a committed SVG differs from its source.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v dot >/dev/null || { echo "draw-docs: dot is missing (scripts/install-deps.sh --with-tools)" >&2; exit 1; }
check=0
[[ ${1:-} == --check ]] && check=1
status=0
for source in docs/images/*.dot; do
  target=${source%.dot}.svg
  if ((check)); then
    fresh=$(mktemp)
    dot -Tsvg "$source" -o "$fresh"
    if ! cmp -s "$fresh" "$target"; then
      echo "draw-docs: $target is not drawn from $source (run scripts/draw-docs.sh)" >&2
      status=1
    fi
    rm -f "$fresh"
  else
    dot -Tsvg "$source" -o "$target"
    echo "drew $target"
  fi
done
exit $status
