# The 64-bit Windows build (the windows preset, cmake/x86_64-w64-mingw32.cmake):
# the libraries built from Debian's sources (scripts/windows-deps.sh, run here
# once; a second run finds them built), linked statically, under the names
# the Linux build gets from pkg-config; GoogleTest from Debian's source.
set(deps ${VORNISK_WINDOWS_DEPS})
execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/windows-deps.sh ${deps}
                RESULT_VARIABLE deps_status)
if(NOT deps_status EQUAL 0)
  message(FATAL_ERROR "The Windows libraries could not be built: see the lines above "
                      "(scripts/install-deps.sh --with-windows installs what they need)")
endif()

add_library(PkgConfig::SDL2 INTERFACE IMPORTED)
target_include_directories(PkgConfig::SDL2 INTERFACE ${deps}/include/SDL2)
target_link_libraries(PkgConfig::SDL2 INTERFACE
  ${deps}/lib/libSDL2.a setupapi winmm imm32 version ole32 oleaut32 uuid advapi32 shell32
  gdi32 user32 kernel32 dinput8)
add_library(PkgConfig::SDL2_MIXER INTERFACE IMPORTED)
target_link_libraries(PkgConfig::SDL2_MIXER INTERFACE
  ${deps}/lib/libSDL2_mixer.a ${deps}/lib/libopusfile.a ${deps}/lib/libopus.a
  ${deps}/lib/libogg.a ${deps}/lib/libmodplug.a PkgConfig::SDL2 winmm
  # opus's configure builds with _FORTIFY_SOURCE: GCC's checking functions.
  ssp)

# pkg-config sees only these libraries (none of the build machine's).
set(ENV{PKG_CONFIG_LIBDIR} ${deps}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ZLIB_USE_STATIC_LIBS ON)
# The programs and the data share one folder.
set(CMAKE_INSTALL_BINDIR . CACHE PATH "Where the programs are installed")
list(APPEND CMAKE_PREFIX_PATH ${deps})

if(VORNISK_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # It names its targets GTest::gtest and GTest::gmock, as find_package(GTest) does.
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
