// The tests' entry point: every test runs headless, whether it is started by
// ctest or by hand, unless the caller names other SDL drivers.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/test_support.h"

int main(int argc, char** argv) {
  for (const char* name : {"SDL_VIDEODRIVER", "SDL_AUDIODRIVER"}) {
    if (std::getenv(name) == nullptr) vornisk::testing::setEnvironment(name, "dummy");
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
