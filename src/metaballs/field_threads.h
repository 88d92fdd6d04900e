// Where each frame's metaball field is prepared.
#pragma once

namespace vornisk {

enum class FieldThreads {
  // Ahead, on a worker thread, while the worker gets a processor in time; on
  // the drawing thread itself while it does not.
  Adaptive,
  // Always on the drawing thread, when the frame is drawn.
  One,
};

}  // namespace vornisk
