#!/usr/bin/env bash
# Installs the Debian 12 packages Vornisk needs to build, test and capture.
# Does nothing when everything is present; needs root (or sudo) only when
# something is missing. Usage: scripts/install-deps.sh [--with-tools]
#   [--with-web] [--with-packaging] [--with-arm64] [--with-windows]
#   --with-tools  also the optional tools: ffmpeg (video capture), sox and
#                 Xvfb (trying the show by hand), valgrind; Xvfb, xdotool and
#                 weston also run the bad-input tests' rows on real display
#                 servers; Graphviz draws the docs' pictures.
#   --with-web    also the web build and its browser test: emscripten,
#                 Chromium, chromedriver and selenium.
#   --with-packaging  lintian, appstream and desktop-file-utils: checking the
#                 Debian package (scripts/package-check.sh).
#   --with-arm64  the arm64 cross toolchain, qemu-user and the :arm64 libraries
#                 (adds arm64 to dpkg's architectures): the arm64 preset;
#                 qemu-user also runs scripts/cpu-levels-check.sh.
#   --with-windows  the mingw-w64 cross toolchain (posix threads), mingw zlib,
#                 dpkg-dev (for Debian's source packages), wine, NSIS, and
#                 Xvfb and xdotool for the windowed tests: the windows preset.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3
  libsdl2-dev libsdl2-mixer-dev libx11-dev
  zlib1g-dev
  libpng-dev libisal-dev libmp3lame-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
)
if [[ " $* " == *" --with-tools "* ]]; then
  packages+=(ffmpeg sox xvfb xauth valgrind xdotool weston graphviz)
fi
# The web preset (emscripten) and tests/web (headless Chromium through selenium).
if [[ " $* " == *" --with-web "* ]]; then
  packages+=(emscripten chromium chromium-driver python3-selenium)
fi
if [[ " $* " == *" --with-packaging "* ]]; then
  packages+=(lintian appstream desktop-file-utils)
fi
if [[ " $* " == *" --with-arm64 "* ]]; then
  packages+=(crossbuild-essential-arm64 qemu-user libsdl2-dev:arm64 libsdl2-mixer-dev:arm64
    zlib1g-dev:arm64 libpng-dev:arm64 libmp3lame-dev:arm64 libx11-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64)
fi
if [[ " $* " == *" --with-windows "* ]]; then
  packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev dpkg-dev
    wine wine64 nsis xvfb xauth xdotool)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *":arm64 "* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  "${sudo_cmd[@]}" dpkg --add-architecture arm64
fi
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
