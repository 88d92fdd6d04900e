#!/usr/bin/env bash
# Makes the small sound fixtures of the sound-layer tests (tests/data/tone.*):
# a quarter second of our own two-note chime, synthesised by sox and encoded by
# ffmpeg as WAV, Ogg Vorbis, MP3 and FLAC. Needs sox and ffmpeg
# (scripts/install-deps.sh --with-tools). Usage: scripts/make-test-audio.sh
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/tests/data"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# Two sine partials (A5 and E6) with a quick fade: 0.25 s, 16 kHz, mono, 16-bit.
sox -n -r 16000 -c 1 -b 16 "$work/chime.wav" synth 0.25 sine 880 sine 1318.5 \
  remix 1,2 gain -6 fade t 0.01 0.25 0.08

quiet=(-hide_banner -loglevel error -y)
exact=(-map_metadata -1 -fflags +bitexact -flags:a +bitexact)
ffmpeg "${quiet[@]}" -i "$work/chime.wav" "${exact[@]}" -c:a pcm_s16le "$out/tone.wav"
ffmpeg "${quiet[@]}" -i "$work/chime.wav" "${exact[@]}" -c:a libvorbis -q:a 0 "$out/tone.ogg"
ffmpeg "${quiet[@]}" -i "$work/chime.wav" "${exact[@]}" -c:a libmp3lame -b:a 32k "$out/tone.mp3"
# sox writes FLAC without the 8 KiB padding block that ffmpeg adds.
sox "$work/chime.wav" "$out/tone.flac"
ls -l "$out"/tone.*
