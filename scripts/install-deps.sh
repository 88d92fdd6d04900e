#!/usr/bin/env bash
# Installs the Debian 12 packages Vornisk needs to build, test and capture.
# Does nothing when everything is present; needs root (or sudo) only when
# something is missing. Usage: scripts/install-deps.sh [--with-tools] [--with-web]
#   --with-tools  also the optional tools: ffmpeg (video capture), sox and
#                 Xvfb (trying the show by hand), valgrind; Xvfb, xdotool and
#                 weston also run the bad-input tests' rows on real display
#                 servers.
#   --with-web    also the web build and its browser test: emscripten,
#                 Chromium, chromedriver and selenium.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3
  libsdl2-dev libsdl2-mixer-dev libx11-dev
  zlib1g-dev
  libpng-dev libisal-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
)
if [[ " $* " == *" --with-tools "* ]]; then
  packages+=(ffmpeg sox xvfb xauth valgrind xdotool weston)
fi
# The web preset (emscripten) and tests/web (headless Chromium through selenium).
if [[ " $* " == *" --with-web "* ]]; then
  packages+=(emscripten chromium chromium-driver python3-selenium)
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
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
