#!/usr/bin/env bash
# The Debian package as a user meets it: builds vornisk_<version>_amd64.deb
# (the "package" workflow preset), checks it with lintian and its desktop entry
# and AppStream metadata with their validators, installs it with dpkg, runs the
# installed capture tool (its hashes must equal the build tree's) and the
# installed demo, removes the package and checks that nothing of it is left.
# Needs root (it installs and removes the package) and the packaging tools
# (scripts/install-deps.sh --with-packaging).
# Usage: scripts/package-check.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
fail() {
  echo "package-check: $*" >&2
  exit 1
}
[[ $(id -u) -eq 0 ]] || fail "needs root: it installs and removes the package with dpkg"
for tool in lintian appstreamcli desktop-file-validate dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh --with-packaging)"
done
if dpkg-query -W -f='${Status}' vornisk 2>/dev/null | grep -q installed; then
  fail "a vornisk package is already installed; remove it first (dpkg --purge vornisk)"
fi

cmake --workflow --preset package
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
deb="build/release/packages/vornisk_${version}_amd64.deb"
[[ -f "$deb" ]] || fail "cpack made no $deb"
work="$(mktemp -d)"
# Whatever fails, the machine is left as it was: data put back, package removed.
installed=0
cleanup() {
  if [[ -d "$work/data-away" ]]; then mv "$work/data-away" /usr/share/vornisk; fi
  if [[ $installed -eq 1 ]]; then dpkg --purge vornisk >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== lintian"
lintian --fail-on error "$deb"
echo "== metadata"
dpkg-deb -x "$deb" "$work/unpacked"
appstreamcli validate --no-net "$work"/unpacked/usr/share/metainfo/*.metainfo.xml
desktop-file-validate "$work"/unpacked/usr/share/applications/*.desktop
for icon in "$work"/unpacked/usr/share/icons/hicolor/*/apps/vornisk.png; do
  folder=${icon%/apps/vornisk.png}
  size=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [[ "$size" == "${folder##*/}" ]] || fail "$icon is $size pixels"
done
dpkg-deb -f "$deb" Depends | grep -q 'libsdl2-2.0-0' || fail "no computed library dependencies"

echo "== install"
installed=1
dpkg -i "$deb"
for data in title._vq title2._vq music._vq; do
  cmp "/usr/share/vornisk/$data" "build/release/bin/$data"
done
# The whole show at 4 frames per second: every phase and both pictures.
/usr/bin/vornisk-capture --data /usr/share/vornisk --fps 4 --hash >"$work/installed.txt"
build/release/bin/vornisk-capture --data build/release/bin --fps 4 --hash >"$work/built.txt"
cmp "$work/installed.txt" "$work/built.txt" || fail "the installed capture tool draws other frames"
echo "installed vornisk-capture: $(wc -l <"$work/installed.txt") frames equal to the build tree's"

export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
# Started in a folder without data files, the launcher plays the installed data
# until SIGTERM ends the show normally.
mkdir "$work/empty"
(cd "$work/empty" && exec /usr/bin/vornisk >"$work/out.txt" 2>"$work/err.txt") &
demo=$!
sleep 3
kill -0 "$demo" 2>/dev/null || fail "the installed demo ended by itself: $(cat "$work/err.txt")"
kill -TERM "$demo"
status=0
wait "$demo" || status=$?
[[ $status -eq 0 ]] || fail "the installed demo ended with status $status after SIGTERM"
[[ ! -s "$work/out.txt" && ! -s "$work/err.txt" ]] ||
  fail "the installed demo printed: $(cat "$work/out.txt" "$work/err.txt")"
echo "installed vornisk: played the installed data, ended by SIGTERM with status 0"
# Started in a folder holding some of the files, it reads that folder.
mkdir "$work/own"
cp /usr/share/vornisk/music._vq "$work/own/"
status=0
(cd "$work/own" && exec /usr/bin/vornisk) 2>"$work/err.txt" || status=$?
[[ $status -eq 1 ]] && grep -q 'title._vq: could not open image file' "$work/err.txt" ||
  fail "in a folder with only music._vq: status $status, $(cat "$work/err.txt")"
echo "installed vornisk: in a folder of the user's own files, read that folder"
# Its options, and the installed data gone.
[[ $(/usr/bin/vornisk --version) == "vornisk $version" ]] || fail "vornisk --version: $(/usr/bin/vornisk --version 2>&1)"
/usr/bin/vornisk --help | grep -q -- '--version' || fail "vornisk --help lists no --version"
zcat /usr/share/man/man6/vornisk.6.gz | grep -qF '.B \-\-version' ||
  fail "the installed vornisk(6) page lists no --version"
mv /usr/share/vornisk "$work/data-away"
status=0
(cd "$work/empty" && exec /usr/bin/vornisk) 2>"$work/err.txt" || status=$?
mv "$work/data-away" /usr/share/vornisk
[[ $status -eq 1 ]] && grep -q 'default data folder /usr/share/vornisk is missing' "$work/err.txt" ||
  fail "without its installed data: status $status, $(cat "$work/err.txt")"
echo "installed vornisk: answers --version and --help, reports its data folder missing"

echo "== remove"
dpkg-deb -c "$deb" | awk '{print substr($6, 2)}' >"$work/contents.txt"
dpkg --purge vornisk
installed=0
left=0
while read -r path; do
  path=${path%/}
  [[ -n "$path" && ( -e "$path" || -L "$path" ) ]] || continue
  # Folders such as /usr/bin stay: other packages own them.
  [[ -d "$path" ]] && dpkg-query -S "$path" >/dev/null 2>&1 && continue
  echo "left behind: $path" >&2
  left=1
done <"$work/contents.txt"
[[ $left -eq 0 ]] || fail "removing the package left files behind"
echo "package-check: $deb built, validated, installed, run and removed cleanly"
