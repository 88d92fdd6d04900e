#!/usr/bin/env bash
# The arm64 build: cross-builds with Debian's cross toolchain, runs the test
# suite under qemu-aarch64 (the whole-show hashes must equal the amd64 golden
# ones), builds vornisk_<version>_arm64.deb and checks it with lintian.
# Needs scripts/install-deps.sh --with-arm64 --with-packaging.
# Usage: scripts/arm64-check.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
for tool in aarch64-linux-gnu-g++ qemu-aarch64 lintian; do
  command -v "$tool" >/dev/null || {
    echo "arm64-check: $tool is missing (scripts/install-deps.sh --with-arm64 --with-packaging)" >&2
    exit 1
  }
done
cmake --workflow --preset arm64
# The data generator ran under emulation during the build: its pictures, icons
# and soundtrack samples must equal the amd64 build's byte for byte (when that
# build exists; CI makes it first). The MP3 is the encoder's: its bytes may
# differ between the machines (LAME's arithmetic is its own), so it is compared
# by its sound instead: the Datagen tests, run under emulation above, hold the arm64
# MP3 to the same spectrum limits against the same samples.
if [[ -d build/release/icons ]]; then
  for file in bin/title._vq bin/title2._vq datagen/soundtrack.wav \
    $(cd build/release && echo icons/hicolor/*/apps/vornisk.png); do
    cmp "build/release/$file" "build/arm64/$file"
  done
  if cmp -s build/release/bin/music._vq build/arm64/bin/music._vq; then
    echo "arm64-check: default data, soundtrack and icons equal the amd64 build's (the MP3 too)"
  else
    echo "arm64-check: default data, soundtrack samples and icons equal the amd64 build's;" \
      "the MP3 bytes differ (the encoder's arithmetic), its sound was checked by the tests"
  fi
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/arm64/CMakeCache.txt)
deb="build/arm64/packages/vornisk_${version}_arm64.deb"
[[ "$(dpkg-deb -f "$deb" Architecture)" == arm64 ]] || {
  echo "arm64-check: $deb is not an arm64 package" >&2
  exit 1
}
dpkg-deb -f "$deb" Depends
lintian --fail-on error "$deb"
echo "arm64-check: tests passed under emulation; $deb built and linted"
