// Process-wide values of the show, read and written by several subsystems.
#pragma once

#include <cstdint>

namespace vornisk {

// Governs every random disturbance; starts at 1000 and is lowered only by the
// metaball renderer, by 0.99 every tenth rendered frame, never below 1.
extern float Intensity;
// The clock reading taken just before the frame loop.
extern std::uint32_t startTime;
// While non-zero, the glitch phase draws the title with the row-jitter effect.
extern std::int32_t jitterFrames;
// The metaball renderer's six pixel offsets for line ends; zero between render() calls.
extern float jitter[6];

// Puts the values above (and the random generator's state) back to how a fresh
// process starts, so that one process can run the show more than once.
void resetShowState();

}  // namespace vornisk
