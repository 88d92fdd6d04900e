#!/usr/bin/env bash
# Draws docs/images/strip.png, the README's picture: six frames of the show on
# the default data, as vornisk-capture makes them (seed 0, 60 fps), tiled
# three by two. Needs the release build and ffmpeg (--with-tools).
# Usage: scripts/draw-strip.sh [BIN_DIR]   (default: build/release/bin)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$(cd "${1:-$root/build/release/bin}" && pwd)"
command -v ffmpeg >/dev/null || { echo "draw-strip: ffmpeg is missing (scripts/install-deps.sh --with-tools)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# 10 s: the opening net; 40 s: the glitching title; 60 s: the triangles;
# 95 s and 130 s: the copper bars as Intensity falls; 165 s: the closing title.
frames=(600 2400 3600 5700 7800 9900)
"$bin/vornisk-capture" --data "$bin" --frames $((frames[5] + 1)) --png "$work/png" >/dev/null 2>&1
inputs=()
for frame in "${frames[@]}"; do
  inputs+=(-i "$(printf '%s/png/frame_%05d.png' "$work" "$frame")")
done
ffmpeg -loglevel error -y "${inputs[@]}" -filter_complex \
  "xstack=inputs=6:layout=0_0|w0_0|w0+w1_0|0_h0|w0_h0|w0+w1_h0" \
  -frames:v 1 "$root/docs/images/strip.png"
echo "drew docs/images/strip.png"
