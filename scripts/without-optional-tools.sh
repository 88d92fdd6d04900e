#!/usr/bin/env bash
# Runs a command as on a fresh machine that has only what
# `scripts/install-deps.sh` installs: the optional tools (ffmpeg, ffprobe, sox,
# Xvfb, weston, xdotool, valgrind, Chromium, emscripten) are hidden from PATH,
# which becomes a folder of links to everything else in /usr/bin and /usr/sbin. Tests that need
# a hidden tool must skip with their reason; every other test must pass.
# Usage: scripts/without-optional-tools.sh COMMAND [ARGUMENT...]
#   e.g. scripts/without-optional-tools.sh ctest --preset release
set -euo pipefail
[[ $# -gt 0 ]] || {
  echo "usage: scripts/without-optional-tools.sh COMMAND [ARGUMENT...]" >&2
  exit 2
}
hidden=" ffmpeg ffprobe ffplay sox play rec soxi Xvfb xvfb-run valgrind valgrind.bin weston xdotool 
  chromium chromedriver emcc em++ "
shim="$(mktemp -d)"
trap 'rm -rf "$shim"' EXIT
for folder in /usr/sbin /usr/bin; do
  for program in "$folder"/*; do
    name=${program##*/}
    [[ "$hidden" == *" $name "* ]] && continue
    ln -sf "$program" "$shim/$name"
  done
done
for name in $hidden; do
  if PATH="$shim" command -v "$name" >/dev/null; then
    echo "without-optional-tools: $name is still on PATH" >&2
    exit 1
  fi
done
PATH="$shim" "$@"
