#!/usr/bin/env bash
# Runs a Windows program of the windows preset under wine: the build's
# emulator (CMAKE_CROSSCOMPILING_EMULATOR) for the data generator and the
# tests. The wine prefix lives in the build tree (build/windows/wine, or
# $VORNISK_WINEPREFIX) and is made once, under a lock, by the first program
# that needs it: wine's first start takes a while. No wine debugging output,
# no Mono or Gecko installer.
# Usage: scripts/wine-run.sh PROGRAM.exe [ARGUMENT...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
command -v wine >/dev/null || {
  echo "wine-run: wine is missing (scripts/install-deps.sh --with-windows)" >&2
  exit 127
}
export WINEPREFIX="${VORNISK_WINEPREFIX:-$root/build/windows/wine}"
wineserver=/usr/lib/wine/wineserver
# No sound through wine's own ALSA and PulseAudio drivers either (they would
# print ALSA's messages where there is no sound card; SDL has its dummy).
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv=" WINEARCH=win64
if [[ ! -f $WINEPREFIX/.made ]]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [[ ! -f $WINEPREFIX/.made ]]; then
      # Made without a display, so that nothing waits for one.
      # (The server must not keep the lock: 9>&-.)
      if ! env -u DISPLAY -u WAYLAND_DISPLAY timeout 300 wine wineboot --init >"$WINEPREFIX.log" 2>&1 9>&- ||
        ! timeout 120 "$wineserver" --wait; then
        cat "$WINEPREFIX.log" >&2
        echo "wine-run: cannot make the wine prefix $WINEPREFIX" >&2
        exit 1
      fi
      touch "$WINEPREFIX/.made"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# One wine server for the prefix, started before any program: programs that
# start at the same moment, each starting a server of its own, can hang
# (seen with two tests run at once). It stays a minute after the last one.
(
  flock 9
  "$wineserver" -p60 >/dev/null 2>&1 9>&- || true
) 9>"$WINEPREFIX.lock"
exec wine "$@"
