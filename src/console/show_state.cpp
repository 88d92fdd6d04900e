#include "console/show_state.h"

#include "console/random.h"

namespace vornisk {

float Intensity = 1000.0f;
std::uint32_t startTime = 0;
std::int32_t jitterFrames = 0;
float jitter[6] = {};

namespace random_detail {
std::uint32_t state = 0;
Script script = nullptr;
void* scriptContext = nullptr;
}  // namespace random_detail

void setRandomScript(random_detail::Script script, void* context) {
  random_detail::script = script;
  random_detail::scriptContext = context;
}

void resetShowState() {
  Intensity = 1000.0f;
  startTime = 0;
  jitterFrames = 0;
  random_detail::state = 0;
  for (float& offset : jitter)
    offset = 0.0f;
}

}  // namespace vornisk
