#!/usr/bin/env bash
# The capture tool's threads (the show, the worker that prepares its wire net
# and helps draw its lines, and the outputs fed through a ring of frame
# buffers) under ThreadSanitizer: builds the tool and its tests with
# -fsanitize=thread in build/tsan, runs the capture and fast-path tests (the
# latter share lines and draws between two threads), then records 1,200
# frames with hashes and PNG files (the output thread falls behind and the ring
# fills). A race report fails the process that made it, and so this script.
# When the release build is there, the hashes must equal its hashes.
# Usage: scripts/tsan-capture.sh
set -euo pipefail
cd "$(dirname "$0")/.."
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:exitcode=66}"
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy

started=$SECONDS
# Clang, whose build runs the portable vector code (src/metaballs/cpu_level.h;
# GCC builds keep the baseline under ThreadSanitizer too).
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVORNISK_BUILD_BENCHMARKS=OFF -DCMAKE_C_FLAGS=-fsanitize=thread \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build/tsan -j2 --target vornisk-capture capture_test fast_path_test vornisk_data
ctest --test-dir build/tsan --output-on-failure -R '^(Capture|FastPathOnRandomStates|LineBatch|DrawsAhead)'

bin=build/tsan/bin
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT
"$bin/vornisk-capture" --data "$bin" --frames 1200 --hash --png "$frames" >build/tsan/hashes
[[ $(wc -l <build/tsan/hashes) -eq 1200 ]] || {
  echo "tsan-capture: the capture did not give 1200 hash lines" >&2
  exit 1
}
if [[ -x build/release/bin/vornisk-capture ]]; then
  build/release/bin/vornisk-capture --data build/release/bin --frames 1200 --hash 2>/dev/null |
    cmp - build/tsan/hashes
fi
echo "tsan-capture: no race reported; $((SECONDS - started)) s"
