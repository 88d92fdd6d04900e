#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset, clang) and runs each one for a
# while, one after the other, starting from its seed corpus in fuzz/corpus/.
# New inputs go to build/fuzz/corpus/<target>/ (the seeds stay untouched), and
# any input that makes a target fail goes to build/fuzz/artifacts/<target>/.
# Prints libFuzzer's final statistics per target; fails if any target failed.
#
# Usage: scripts/run-fuzzers.sh [SECONDS] [TARGET...]
#   SECONDS  how long each target runs (default 60)
#   TARGET   draw_line, title_image or music_stream (default: all three)
# Reproduce a failure: build/fuzz/bin/fuzz/<target>_fuzzer <artifact file>
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
[[ $seconds =~ ^[0-9]+$ && $seconds -gt 0 ]] || {
  echo "run-fuzzers: SECONDS must be a positive whole number, not '$seconds'" >&2
  exit 2
}
shift $(($# > 0 ? 1 : 0))
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(draw_line title_image music_stream)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target "${targets[@]/%/_fuzzer}"

# A sanitizer report or a failed check ends the run at once.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export SDL_VIDEODRIVER=dummy

failed=()
report=()
for target in "${targets[@]}"; do
  program="build/fuzz/bin/fuzz/${target}_fuzzer"
  seeds="fuzz/corpus/$target"
  corpus="build/fuzz/corpus/$target"
  artifacts="build/fuzz/artifacts/$target"
  [[ -x $program && -d $seeds ]] || {
    echo "run-fuzzers: unknown target '$target'" >&2
    exit 2
  }
  mkdir -p "$corpus" "$artifacts"
  # Per-target limits. drawLine must take time in proportion to its on-screen
  # pixels: a walk over 2^32 steps takes seconds, so 2 s is a failure. The
  # music images may announce WAV chunks of up to 4 GiB, which SDL2_mixer asks
  # malloc for before reading (and copes with a refusal), so single requests
  # up to 4 GiB are not counted as running out of memory.
  options=(-timeout=10)
  case $target in
    draw_line) options=(-timeout=2 -max_len=64) ;;
    title_image) options=(-timeout=10 -max_len=4096) ;;
    music_stream) options=(-timeout=20 -max_len=8192 -malloc_limit_mb=4097
                           -dict=fuzz/music_stream.dict) ;;
  esac
  echo "run-fuzzers: $target for $seconds s"
  log="build/fuzz/$target.log"
  status=0
  "$program" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  done_line=$(grep -E "^#[0-9]+[[:space:]]+DONE" "$log" | tail -1 || true)
  [[ -n $done_line ]] || done_line=$(grep -E "^#[0-9]+[[:space:]]+(pulse|NEW|REDUCE|INITED)" "$log" | tail -1 || true)
  runs=$(sed -nE 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -nE 's/^stat::average_exec_per_sec: *//p' "$log")
  done_line=$(sed -E 's/^#[0-9]+[[:space:]]+[A-Z]+[[:space:]]+//; s/(rss: [0-9]+Mb).*/\1/' <<<"$done_line")
  report+=("$target: ${done_line:-no statistics}; runs ${runs:-?}, exec/s ${speed:-?}")
  if [[ $status -ne 0 ]]; then
    echo "run-fuzzers: $target FAILED (status $status); the end of its log follows" >&2
    grep -vE "^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)" "$log" | tail -60 >&2
    failed+=("$target")
  fi
done

echo "run-fuzzers: final statistics"
printf '  %s\n' "${report[@]}"
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "run-fuzzers: failed: ${failed[*]} (inputs in build/fuzz/artifacts/)" >&2
  exit 1
fi
echo "run-fuzzers: all ${#targets[@]} targets passed"
