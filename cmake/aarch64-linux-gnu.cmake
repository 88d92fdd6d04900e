# Cross-building for 64-bit ARM Linux with Debian's cross toolchain
# (crossbuild-essential-arm64) against the multiarch :arm64 libraries
# (scripts/install-deps.sh --with-arm64). Programs built here run under
# qemu-user: at build time (the data generator) and in the tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for arm64")
# The arm64 loader and libraries sit at their multiarch paths under /, where
# qemu-aarch64 looks by default.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
