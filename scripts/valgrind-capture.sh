#!/usr/bin/env bash
# Memory check with valgrind's memcheck, on an unsanitized build (release by
# default). Two runs:
#   1. vornisk-capture over the whole show at 1 frame per second (174 frames:
#      every phase, both title pictures, the music opened and checked);
#   2. the demo itself on SDL's dummy video and audio drivers for a few seconds,
#      so that the mixer thread really decodes the music, ended by SIGTERM.
# Fails on any memcheck error and on any "definitely" or "indirectly" lost
# block. The music image the program keeps for its whole life is suppressed by
# name (scripts/valgrind.supp); "still reachable" blocks are the libraries' own
# global state (glib, D-Bus, SDL) and are only reported.
# Usage: scripts/valgrind-capture.sh [BUILD_DIR]   (default: build/release)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/release}"
bin="$build/bin"

command -v valgrind >/dev/null || {
  echo "valgrind-capture: valgrind is missing (scripts/install-deps.sh --with-tools)" >&2
  exit 1
}
for program in vornisk vornisk-capture music._vq title._vq title2._vq; do
  [[ -e "$bin/$program" ]] || {
    echo "valgrind-capture: no $bin/$program (build first: cmake --workflow --preset release)" >&2
    exit 1
  }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy PTC_FPS=60
memcheck=(valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect,possible
  --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --track-origins=yes
  --num-callers=40 --suppressions="$root/scripts/valgrind.supp")
failed=0

summary() {
  grep -E "ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|still reachable|suppressed:" "$1" |
    sed -E 's/^==[0-9]+== +/    /'
}

check() {  # name, status, log
  local name=$1 status=$2 log=$3
  echo "valgrind-capture: $name (exit status $status)"
  summary "$log"
  if [[ $status -ne 0 ]] || ! grep -qE "definitely lost: 0 bytes|All heap blocks were freed" "$log" ||
     grep -qE "indirectly lost: [1-9]" "$log"; then
    echo "valgrind-capture: $name FAILED; the full report follows" >&2
    cat "$log" >&2
    failed=1
  fi
}

started=$SECONDS
status=0
"${memcheck[@]}" --log-file="$work/capture.log" \
  "$bin/vornisk-capture" --data "$bin" --fps 1 --hash >"$work/capture.hashes" 2>/dev/null || status=$?
if [[ $status -eq 0 && $(wc -l <"$work/capture.hashes") -ne 174 ]]; then
  echo "valgrind-capture: the capture gave $(wc -l <"$work/capture.hashes") frames, not 174" >&2
  status=1
fi
check "whole show captured at 1 frame per second" "$status" "$work/capture.log"

# The demo reads its files from the working directory. Under valgrind its start
# takes a few seconds; SIGTERM after that is its ordinary way out.
status=0
(cd "$bin" && exec "${memcheck[@]}" --log-file="$work/demo.log" ./vornisk) >"$work/demo.out" 2>&1 &
demo=$!
sleep 10
kill -TERM "$demo" 2>/dev/null || true
wait "$demo" || status=$?
check "demo on the dummy drivers, ended by SIGTERM after 10 s" "$status" "$work/demo.log"

echo "valgrind-capture: $((SECONDS - started)) s"
exit $failed
