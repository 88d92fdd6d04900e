#!/usr/bin/env bash
# The show under AddressSanitizer and UndefinedBehaviorSanitizer: builds the
# asan preset, runs the whole test suite in it, then captures the whole show at
# 60 frames per second (10440 frames) with per-frame hashes. Any sanitizer
# report ends the process that made it with a failure, so it fails this script.
# When the release build is there too, its hashes must be the same: the
# sanitizers must not change a single frame.
# Usage: scripts/sanitizer-run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# No recovery anywhere: the first report is fatal and shows its whole stack.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy

started=$SECONDS
# A failing test does not stop the capture below: one run shows both.
suite=0
cmake --workflow --preset asan || suite=1
echo "sanitizer-run: build and test suite: $((SECONDS - started)) s"
[[ -x build/asan/bin/vornisk-capture ]] || {
  echo "sanitizer-run: the asan build failed" >&2
  exit 1
}

bin=build/asan/bin
hashes=build/asan/show-60fps.hashes
capture_started=$SECONDS
if ! "$bin/vornisk-capture" --data "$bin" --fps 60 --hash >"$hashes"; then
  echo "sanitizer-run: the whole-show capture failed under the sanitizers" >&2
  exit 1
fi
frames=$(wc -l <"$hashes")
if [[ $frames -ne 10440 ]]; then
  echo "sanitizer-run: the capture gave $frames frames, not 10440" >&2
  exit 1
fi
echo "sanitizer-run: whole show, 10440 frames at 60 fps: $((SECONDS - capture_started)) s"

release=build/release/bin/vornisk-capture
if [[ -x $release ]]; then
  if ! "$release" --data "$bin" --fps 60 --hash 2>/dev/null | cmp -s - "$hashes"; then
    echo "sanitizer-run: the sanitized show draws other frames than the release build" >&2
    exit 1
  fi
  echo "sanitizer-run: every frame equals the release build's"
fi
if [[ $suite -ne 0 ]]; then
  echo "sanitizer-run: the test suite failed under the sanitizers (see above)" >&2
  exit 1
fi
echo "sanitizer-run: passed in $((SECONDS - started)) s"
