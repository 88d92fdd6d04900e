#!/usr/bin/env bash
# Builds the libraries the 64-bit Windows build links, from Debian 12's source
# packages, with the mingw-w64 cross compiler, as static libraries under
# PREFIX (default build/windows-deps): SDL2, SDL2_mixer (with Ogg Vorbis, MP3,
# FLAC, Opus, the tracker formats through libmodplug as on Debian, and MIDI
# through Windows' own synthesizer), libogg, opus, opusfile, libmodplug and
# libpng. zlib is Debian's libz-mingw-w64-dev. Ogg Vorbis, MP3 and FLAC are
# decoded by SDL2_mixer's own stb_vorbis, dr_mp3 and dr_flac.
# A second run with the same recipe does nothing. Needs
# scripts/install-deps.sh --with-windows (mingw-w64, dpkg-dev).
# Usage: scripts/windows-deps.sh [PREFIX]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
prefix="${1:-$root/build/windows-deps}"
mkdir -p "$prefix"
prefix="$(cd "$prefix" && pwd)"
# Changing what is built below means changing this line, so that every cache
# is built again.
recipe="3 libsdl2 libsdl2-mixer libogg opus opusfile libmodplug libpng1.6 static"
if [[ -f $prefix/recipe && $(cat "$prefix/recipe") == "$recipe" ]]; then
  exit 0
fi
for tool in x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix dpkg-source cmake ninja; do
  command -v "$tool" >/dev/null || {
    echo "windows-deps: $tool is missing (scripts/install-deps.sh --with-windows)" >&2
    exit 1
  }
done
[[ -f /usr/x86_64-w64-mingw32/lib/libz.a ]] || {
  echo "windows-deps: mingw zlib is missing (scripts/install-deps.sh --with-windows)" >&2
  exit 1
}

started=$SECONDS
# A run that failed part way keeps what it had built (one stamp per library)
# and its sources, for the next run with the same recipe.
work="$prefix.work"
if [[ ! -f $work/recipe || $(cat "$work/recipe") != "$recipe" ]]; then
  rm -rf "$work" "$prefix"
  mkdir -p "$work" "$prefix"
  echo "$recipe" >"$work/recipe"
fi
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/sources" \
  "$work/src" "$work/built"
log="$work/log"

# Debian's source packages through apt, with deb-src lines of our own: apt
# reads them, and keeps the lists it fetches, in this work folder only, so
# that the machine's own apt sources are never changed (nothing to put back,
# even after a failure). Only the release and its updates: the snapshot's
# security suite lists sources that its pool does not hold.
apt_options=(
  -o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$work/apt/sources"
  -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache"
  -o "APT::Sandbox::User=root" -qq
)
uris=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
[[ -n $uris ]] || uris=http://deb.debian.org/debian
cat >"$work/apt/sources/debian-src.sources" <<EOF
Types: deb-src
URIs: $uris
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
cd "$work/src"
if [[ ! -f $work/built/sources ]]; then
  echo "windows-deps: fetching Debian's sources" >&2
  apt-get "${apt_options[@]}" update >"$log" 2>&1 || {
    cat "$log" >&2
    echo "windows-deps: cannot read Debian's source lists" >&2
    exit 1
  }
  apt-get "${apt_options[@]}" source libsdl2 libsdl2-mixer libogg opus opusfile libmodplug \
    libpng1.6 >"$log" 2>&1 || {
    cat "$log" >&2
    echo "windows-deps: cannot fetch Debian's source packages" >&2
    exit 1
  }
  touch "$work/built/sources"
fi

host=x86_64-w64-mingw32
export CC=$host-gcc-posix CXX=$host-g++-posix AR=$host-ar RANLIB=$host-ranlib
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH=
jobs=2
toolchain="$work/toolchain.cmake"
cat >"$toolchain" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $CC)
set(CMAKE_CXX_COMPILER $CXX)
set(CMAKE_RC_COMPILER $host-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$host "$prefix")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

# cmake_build SOURCE_FOLDER [OPTION...]
cmake_build() {
  local source=$1
  shift
  [[ -f $work/built/$source ]] && return
  echo "windows-deps: building $source" >&2
  cmake -S "$source" -B "$source/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
    -DBUILD_SHARED_LIBS=OFF "$@" >"$log" 2>&1 &&
    cmake --build "$source/build" -j "$jobs" >>"$log" 2>&1 &&
    cmake --install "$source/build" >>"$log" 2>&1 || {
    grep -A5 -i error "$log" | head -40 >&2
    tail -20 "$log" >&2
    echo "windows-deps: building $source failed" >&2
    exit 1
  }
  touch "$work/built/$source"
}

# autotools_build SOURCE_FOLDER [CONFIGURE_OPTION...]
autotools_build() {
  local source=$1
  shift
  [[ -f $work/built/$source ]] && return
  echo "windows-deps: building $source" >&2
  (cd "$source" && ./configure --host=$host --prefix="$prefix" --enable-static \
    --disable-shared "$@" >"$log" 2>&1 && make -j "$jobs" >>"$log" 2>&1 &&
    make install >>"$log" 2>&1) || {
    tail -40 "$log" >&2
    echo "windows-deps: building $source failed" >&2
    exit 1
  }
  touch "$work/built/$source"
}

# The folder dpkg-source made for a source package: NAME-VERSION.
folder() {
  local found
  found=$(find . -maxdepth 1 -type d -name "$1-[0-9]*" | head -1)
  [[ -n $found ]] || {
    echo "windows-deps: no source folder for $1" >&2
    exit 1
  }
  echo "$found"
}

cmake_build "$(folder libsdl2)" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF
cmake_build "$(folder libogg)" -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF
# opus 1.3.1's release lacks a file its CMake build includes: its configure.
autotools_build "$(folder opus)" --disable-doc --disable-extra-programs
autotools_build "$(folder opusfile)" --disable-http --disable-examples --disable-doc
autotools_build "$(folder libmodplug)"
# libmodplug's header imports its functions from a DLL unless told otherwise.
cmake_build "$(folder libsdl2-mixer)" -DCMAKE_C_FLAGS=-DMODPLUG_STATIC -DSDL2MIXER_SAMPLES=OFF -DSDL2MIXER_DEPS_SHARED=OFF \
  -DSDL2MIXER_VENDORED=OFF -DSDL2MIXER_VORBIS=STB -DSDL2MIXER_FLAC_LIBFLAC=OFF \
  -DSDL2MIXER_FLAC_DRFLAC=ON -DSDL2MIXER_MP3_DRMP3=ON -DSDL2MIXER_MP3_MPG123=OFF \
  -DSDL2MIXER_MOD_MODPLUG=ON -DSDL2MIXER_MOD_XMP=OFF -DSDL2MIXER_OPUS=ON \
  -DSDL2MIXER_OPUS_SHARED=OFF -DSDL2MIXER_MIDI_NATIVE=ON -DSDL2MIXER_MIDI_TIMIDITY=OFF \
  -DSDL2MIXER_MIDI_FLUIDSYNTH=OFF -DSDL2MIXER_WAVPACK=OFF
cmake_build "$(folder libpng1.6)" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
  -DPNG_EXECUTABLES=OFF -DZLIB_USE_STATIC_LIBS=ON

echo "$recipe" >"$prefix/recipe"
rm -rf "$work"
echo "windows-deps: built in $((SECONDS - started)) s into $prefix" >&2
