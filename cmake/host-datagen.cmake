# The default data generator built for the build machine, for builds whose own
# programs cannot make the data (the web page's WebAssembly; Windows, where the
# MP3 encoder is a Linux library): the same generator as the desktop build's,
# so the same pictures, icons and music. Defines the target host_datagen and
# VORNISK_HOST_DATAGEN, the generator's path.
include_guard(GLOBAL)
include(ExternalProject)
set(VORNISK_HOST_DATAGEN ${CMAKE_BINARY_DIR}/host/bin/vornisk-datagen)
ExternalProject_Add(host_datagen
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/host
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DVORNISK_BUILD_TESTS=OFF -DVORNISK_BUILD_BENCHMARKS=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target vornisk-datagen
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${VORNISK_HOST_DATAGEN}
  INSTALL_COMMAND "")
