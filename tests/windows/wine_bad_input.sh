#!/usr/bin/env bash
# The rows of the bad-input table (tests/bad_input_test.cpp) that make sense on
# Windows, run by the Linux build's bad_input_test against the Windows
# programs under wine: bad title pictures and missing music (messages and exit
# status), and the show windowed on an Xvfb, ended with status 0 by a key and
# by closing its window. Left out: the rows that end the show with POSIX
# signals (SIGINT, SIGTERM, SIGHUP, SIGSTOP; every music row ends that way),
# delete or lock its working folder (Windows refuses both while a program runs
# there), end the X server or run on Wayland (what wine does then is wine's),
# and the FIFO rows: Windows has no FIFOs (wine shows one as an empty file).
# Skips (status 77) without the Linux build's test or without wine.
# Usage: wine_bad_input.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
set -uo pipefail
windows_build=$1
linux_build=$2
root="$(cd "$(dirname "$0")/../.." && pwd)"
test="$linux_build/tests/bad_input_test"
if [[ ! -x $test ]]; then
  echo "SKIP: needs the Linux build's $test (cmake --workflow --preset test)"
  exit 77
fi
command -v wine >/dev/null || {
  echo "SKIP: needs wine (scripts/install-deps.sh --with-windows)"
  exit 77
}
# The table starts bin/vornisk and bin/vornisk-capture: here, scripts that
# start the .exe files under wine. A row with a display of its own gets a wine
# server of its own: one left from an earlier row keeps its desktop on that
# row's display (or on none).
bin="$windows_build/wine-bin"
mkdir -p "$bin"
export VORNISK_WINEPREFIX="$windows_build/wine"
for program in vornisk vornisk-capture; do
  {
    echo '#!/bin/sh'
    echo 'if [ -n "$DISPLAY" ]; then'
    echo "  WINEPREFIX='$VORNISK_WINEPREFIX' /usr/lib/wine/wineserver -k 2>/dev/null"
    echo "  WINEPREFIX='$VORNISK_WINEPREFIX' /usr/lib/wine/wineserver -w"
    echo 'fi'
    echo "exec '$root/scripts/wine-run.sh' '$windows_build/bin/$program.exe' \"\$@\""
  } >"$bin/$program"
  chmod +x "$bin/$program"
done
rows="Title*:CaptureTitle*:SecondTitleMissingAt153500:MusicMissingTheWholeShowRunsSilent"
rows="$rows:XKeyPress:XWindowClosed"
filter="Rows/BadInput.EndsAsTheTableSays/${rows//:/:Rows\/BadInput.EndsAsTheTableSays\/}-*Fifo*"
# wine takes 3 to 5 s to end a process that had a window (the show itself is
# done within a frame or two, as on Linux): allow it 10 s instead of 1.
VORNISK_BIN="$bin" VORNISK_SOURCE="$root" VORNISK_END_WITHIN_MS=10000 exec "$test" \
  --gtest_filter="$filter"
