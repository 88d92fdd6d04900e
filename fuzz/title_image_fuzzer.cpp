// Fuzzes the title picture loader: any bytes, as a file, go to
// DemoConsole::loadTitleImage on a headless 320 × 240 console, through a memory
// file (memfd) opened by its /proc/self/fd path. What must hold: the loader
// returns or throws ptc::DynamicError, nothing else; a file shorter than its
// 18-byte header, or one with more pixels than the title surface, is refused
// and leaves the surface as it was; a loaded file writes exactly the words a
// plain model of the format gives (bottom row first, blue-green-red, a short
// file finishing black) and no others.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "console/demo_console.h"
#include "ptc/headless.h"

namespace {

constexpr std::size_t kHeaderBytes = 18;

[[noreturn]] void fail(const char* what, std::size_t index = 0) {
  std::fprintf(stderr, "loadTitleImage: %s (word %zu)\n", what, index);
  std::abort();
}

// A word that loading can never produce (its top byte is not 0) and that
// differs from word to word, so a moved or stray store shows.
std::uint32_t sentinel(std::size_t index) {
  return 0xA5000000u | static_cast<std::uint32_t>(index & 0xFFFFFF);
}

struct Harness {
  vornisk::DemoConsole console;
  int fd = -1;
  std::string path;

  Harness() {
    console.setBackend(std::make_unique<ptc::HeadlessBackend>());
    console.open("title fuzzer", 320, 240, false);
    fd = memfd_create("title._vq", 0);
    if (fd < 0) fail("cannot make a memory file");
    path = "/proc/self/fd/" + std::to_string(fd);
  }

  void writeFile(const std::uint8_t* data, std::size_t size) {
    // A memory file takes a whole write of the few KiB the runs allow at once.
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
      fail("cannot fill the memory file");
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness harness;
  vornisk::DemoConsole& console = harness.console;
  auto* const surface = static_cast<std::uint32_t*>(console.titleSurface->lock());
  const std::size_t surfaceWords = static_cast<std::size_t>(console.titleSurface->width()) *
                                   static_cast<std::size_t>(console.titleSurface->height());
  for (std::size_t i = 0; i < surfaceWords; ++i)
    surface[i] = sentinel(i);
  console.titleSurface->unlock();

  harness.writeFile(data, size);
  bool refused = false;
  try {
    console.loadTitleImage(harness.path.c_str());
  } catch (const ptc::DynamicError&) {
    refused = true;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "loadTitleImage threw something else: %s\n", error.what());
    std::abort();
  }

  const std::size_t width = size >= kHeaderBytes ? data[12] + 256u * data[13] : 0;
  const std::size_t height = size >= kHeaderBytes ? data[14] + 256u * data[15] : 0;
  const bool acceptable = size >= kHeaderBytes && width * height <= surfaceWords;
  if (refused != !acceptable) fail(refused ? "refused an acceptable file" : "accepted a bad file");

  const std::size_t pictureWords = refused ? 0 : width * height;
  for (std::size_t i = 0; i < surfaceWords; ++i) {
    std::uint32_t expected = sentinel(i);
    if (i < pictureWords) {
      // Memory row r holds stored row height − 1 − r.
      const std::size_t storedRow = height - 1 - i / width;
      const std::size_t pixel = storedRow * width + i % width;
      expected = 0;
      for (std::size_t byte = 0; byte < 3; ++byte) {
        const std::size_t at = kHeaderBytes + 3 * pixel + byte;
        if (at < size) expected |= static_cast<std::uint32_t>(data[at]) << (8 * byte);
      }
    }
    if (surface[i] != expected) fail("title surface differs from the model", i);
  }
  return 0;
}
