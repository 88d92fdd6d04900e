#!/usr/bin/env bash
# The 64-bit Windows build, end to end, on this Linux machine: builds the
# windows preset (libraries from Debian's sources, cached in
# build/windows-deps), runs its test suite under wine, makes the zip and the
# installer, then checks what a user downloads:
#  - the zip holds the two programs, the default data (the same bytes as the
#    Linux build's), README.txt, and the programs need no DLL beside them;
#  - the zip's vornisk-capture.exe gives the golden whole-show frames (the
#    Linux build's regression test runs it under wine);
#  - the installer installs silently, its capture tool gives the Linux
#    build's hash lines byte for byte (\n line ends), its Start-menu entry
#    starts vornisk.exe in the installed folder, and the uninstaller leaves
#    nothing behind.
# Needs scripts/install-deps.sh --with-windows and the Linux release build
# (cmake --workflow --preset test).
# Usage: scripts/windows-check.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
linux=build/release
for program in bin/vornisk-capture tests/regression_test tests/bad_input_test; do
  [[ -x $linux/$program ]] || {
    echo "windows-check: no $linux/$program (first: cmake --workflow --preset test)" >&2
    exit 1
  }
done
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy WINEDEBUG=-all
started=$SECONDS
step() { echo "windows-check: $1 ($((SECONDS - started)) s)"; }

step "the windows preset: libraries, build, tests under wine, packages"
cmake --workflow --preset windows

version=$(sed -n 's/^project(Vornisk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip=$root/build/windows/packages/vornisk-$version-win64.zip
installer=$root/build/windows/packages/vornisk-$version-win64.exe
for file in "$zip" "$installer"; do
  [[ -f $file ]] || {
    echo "windows-check: no $file" >&2
    exit 1
  }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

step "the zip ($(du -k "$zip" | cut -f1) KB) and the installer ($(du -k "$installer" | cut -f1) KB)"
(cd "$work" && cmake -E tar xf "$zip")
unzipped=$work/vornisk-$version-win64
for file in vornisk.exe vornisk-capture.exe title._vq title2._vq music._vq README.txt; do
  [[ -f $unzipped/$file ]] || {
    echo "windows-check: the zip lacks $file" >&2
    failed=1
  }
done
for data in title._vq title2._vq music._vq; do
  cmp -s "$unzipped/$data" "$linux/bin/$data" || {
    echo "windows-check: the zip's $data differs from the Linux build's" >&2
    failed=1
  }
done
# Only DLLs that every Windows has: everything else is linked in.
for program in vornisk.exe vornisk-capture.exe; do
  others=$(x86_64-w64-mingw32-objdump -p "$unzipped/$program" | sed -n 's/^\tDLL Name: //p' |
    grep -viE '^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|imm32|winmm|version|setupapi|msvcrt|dinput8|ws2_32|cfgmgr32|api-ms-win-.*)\.dll$' || true)
  if [[ -n $others ]]; then
    echo "windows-check: $program needs DLLs that Windows lacks: $others" >&2
    failed=1
  fi
done

# The zip's capture tool, on the golden whole shows.
step "the zip's vornisk-capture.exe against the golden frames"
bin=$work/zip-bin
mkdir -p "$bin"
printf '#!/bin/sh\nexec "%s/scripts/wine-run.sh" "%s/vornisk-capture.exe" "$@"\n' "$root" \
  "$unzipped" >"$bin/vornisk-capture"
chmod +x "$bin/vornisk-capture"
VORNISK_BIN="$bin" VORNISK_SOURCE="$root" "$linux/tests/regression_test" --gtest_brief=1 ||
  failed=1

# The installer, in a wine prefix of its own: installed, run, uninstalled.
step "the installer under wine"
export VORNISK_WINEPREFIX=$root/build/windows/wine-installer
rm -rf "$VORNISK_WINEPREFIX" "$VORNISK_WINEPREFIX.made"
scripts/wine-run.sh cmd /c exit 0
listing() { (cd "$VORNISK_WINEPREFIX/drive_c" && find . -path ./windows -prune -o -path './users/*/Temp' \
  -prune -o -path './users/*/AppData/Local/Temp' -prune -o -print | sort); }
listing >"$work/before"
timeout 300 scripts/wine-run.sh "$installer" /S || {
  echo "windows-check: the installer failed" >&2
  failed=1
}
drive=$VORNISK_WINEPREFIX/drive_c
installed=$drive/Program\ Files/Vornisk
shortcut=$drive/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Vornisk/Vornisk.lnk
for file in vornisk.exe vornisk-capture.exe title._vq title2._vq music._vq README.txt Uninstall.exe; do
  [[ -f $installed/$file ]] || {
    echo "windows-check: the installer did not install $file" >&2
    failed=1
  }
done
if [[ -f $shortcut ]]; then
  # A shell link keeps its working folder as a string: the installed folder.
  strings -el "$shortcut" | grep -qix 'C:\\Program Files\\Vornisk' || {
    echo "windows-check: the Start-menu entry does not start in the installed folder" >&2
    failed=1
  }
else
  echo "windows-check: no Start-menu entry" >&2
  failed=1
fi
frames=300
"$linux/bin/vornisk-capture" --data "$linux/bin" --seed 7 --frames $frames --hash \
  >"$work/linux.txt" 2>/dev/null
(cd "$installed" && timeout 300 "$root/scripts/wine-run.sh" vornisk-capture.exe --seed 7 \
  --frames $frames --hash >"$work/installed.txt" 2>"$work/installed.err") || {
  cat "$work/installed.err" >&2
  failed=1
}
if cmp -s "$work/linux.txt" "$work/installed.txt"; then
  echo "windows-check: the installed capture tool gives the Linux hash lines ($frames frames)"
else
  echo "windows-check: the installed capture tool's hash lines differ from the Linux build's:" >&2
  diff "$work/linux.txt" "$work/installed.txt" | head -5 >&2 || true
  failed=1
fi
timeout 300 scripts/wine-run.sh "C:\\Program Files\\Vornisk\\Uninstall.exe" /S || {
  echo "windows-check: the uninstaller failed" >&2
  failed=1
}
# The uninstaller runs on from a copy of itself in the temporary folder.
for _ in $(seq 60); do
  [[ -e $installed ]] || break
  sleep 1
done
listing >"$work/after"
if ! diff -u "$work/before" "$work/after" >"$work/left"; then
  echo "windows-check: the uninstaller left files behind:" >&2
  grep '^[-+]\.' "$work/left" >&2 || true
  failed=1
fi
if scripts/wine-run.sh reg query \
  'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vornisk' >/dev/null 2>&1; then
  echo "windows-check: the uninstaller left its registry entry" >&2
  failed=1
fi
WINEPREFIX=$VORNISK_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
rm -rf "$VORNISK_WINEPREFIX" "$VORNISK_WINEPREFIX".*

if [[ $failed -ne 0 ]]; then
  echo "windows-check: FAILED after $((SECONDS - started)) s" >&2
  exit 1
fi
echo "windows-check: passed in $((SECONDS - started)) s"
