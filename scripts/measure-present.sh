#!/usr/bin/env bash
# The demo's own CPU share while it plays under Xvfb, and its frame pacing.
# Usage: scripts/measure-present.sh [BIN_DIR] [SECONDS] [BUSY_LOOPS]
# Runs the show windowed and then full screen on a private Xvfb display (no
# sound card: SDL's dummy audio), SECONDS each (default 20), beside
# BUSY_LOOPS processes that only spin (default 0: a busy machine), and prints
# per mode: the process's CPU share of one core and each of its threads'
# (the field worker's should be its jobs alone), the share of its samples in our
# code versus SDL/Mesa/X libraries (perf, when it works here), and the
# median and 99th-percentile interval between frames: the spacing of the
# show thread's pacing sleeps (the main thread alone is traced, so SDL's own
# threads' sleeps are not counted). A frame that ends late does not sleep;
# those are counted apart, as late frames.
set -euo pipefail
bin=$(cd "${1:-build/release/bin}" && pwd)
seconds=${2:-20}
busy=${3:-0}
command -v Xvfb >/dev/null || { echo "measure-present: Xvfb is not installed" >&2; exit 1; }
work=$(mktemp -d)
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
loops=()
for ((i = 0; i < busy; ++i)); do
  sh -c 'while :; do :; done' &
  loops+=($!)
done
trap 'kill $xvfb ${loops[*]} 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
for mode in windowed fullscreen; do
  windowed=1; [[ $mode == fullscreen ]] && windowed=0
  (cd "$bin" && DISPLAY=$display SDL_AUDIODRIVER=dummy PTC_WINDOWED=$windowed \
    sh -c 'echo $$ >"$0"; exec timeout -s INT "$1" ./vornisk' "$work/pid" "$seconds") &
  runner=$!
  sleep 2
  # Ours only: the vornisk this run's timeout started.
  pid=$(pgrep -P "$(cat "$work/pid")" -x vornisk)
  # Attached to the process id alone, strace follows only the show's thread.
  strace -qq -p "$pid" -e trace=clock_nanosleep -e signal=none -ttt -o "$work/sleeps" &
  tracer=$!
  ticks0=$(awk '{print $14 + $15}' "/proc/$pid/stat")
  # Each thread's id, name and CPU ticks (the name's spaces made underscores).
  threadTicks() {
    for t in /proc/$pid/task/*; do
      echo "$(basename "$t") $(tr ' ' _ <"$t/comm") $(awk '{print $14 + $15}' "$t/stat")"
    done
  }
  threadTicks | sort >"$work/threads0"
  perf record -q -o "$work/perf.data" -p "$pid" -- sleep $((seconds - 4)) >/dev/null 2>&1 || true
  ticks1=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo "$ticks0")
  (threadTicks 2>/dev/null || true) | sort >"$work/threads1"
  wait $runner || true
  wait $tracer 2>/dev/null || true
  share=$(echo "($ticks1 - $ticks0) / $(getconf CLK_TCK) / ($seconds - 4) * 100" | bc -l)
  printf '%s: CPU %.1f %% of a core\n' "$mode" "$share"
  join "$work/threads0" "$work/threads1" | while read -r tid name before _ after; do
    printf '  thread %s (%s): %.1f %%\n' "$tid" "$name" \
      "$(echo "($after - $before) / $(getconf CLK_TCK) / ($seconds - 4) * 100" | bc -l)"
  done
  if [[ -s $work/perf.data ]]; then
    perf report -q -i "$work/perf.data" --sort dso 2>/dev/null | head -6 | sed 's/^/  /'
  fi
  # Returns of the pacing sleep, one per frame: their spacing is the frame interval.
  awk '/clock_nanosleep/ && /= 0/ {print $1}' "$work/sleeps" |
    awk 'NR > 1 {print ($1 - prev) * 1000} {prev = $1}' | sort -n >"$work/intervals"
  awk '{v[NR] = $1} END {if (NR) printf "  frame interval: median %.2f ms, p99 %.2f ms over %d frames\n", v[int(NR / 2) + 1], v[int(NR * 0.99) + 1], NR}' "$work/intervals"
done
