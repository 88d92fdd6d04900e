#include "metaballs/field_pipeline.h"

#include <cstring>
#include <system_error>

namespace vornisk {

bool FieldPipeline::Slot::holds(int frame, const Matrix& view) const {
  return valid && frameCounter == frame && std::memcmp(&camera, &view, sizeof camera) == 0;
}

void FieldPipeline::prepare(Slot& slot, int frameCounter, const Matrix& camera) {
  BlobField& field = slot.prepared->field;
  field.reset();
  addShowBalls(field, frameCounter);
  field.computeCrossings();
  buildWireNet(field, camera, slot.prepared->net);
  slot.frameCounter = frameCounter;
  slot.camera = camera;
  slot.valid = true;
}

#if VORNISK_FIELD_THREAD

FieldPipeline::FieldPipeline() {
  try {
    worker_ = std::thread([this] { work(); });
  } catch (const std::system_error&) {
    // No thread to be had: every frame is prepared when it is asked for.
  }
}

FieldPipeline::~FieldPipeline() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  worker_.join();
}

void FieldPipeline::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || job_ != nullptr; });
    if (stop_) return;
    lock.unlock();
    prepare(*job_, jobFrame_, jobCamera_);
    lock.lock();
    job_ = nullptr;
    done_.notify_one();
  }
}

FieldPipeline::Prepared& FieldPipeline::frame(int frameCounter, const Matrix& camera) {
  const unsigned parity = static_cast<unsigned>(frameCounter) & 1u;
  Slot& slot = slots_[parity];
  Slot& following = slots_[parity ^ 1u];
  const int nextFrame = static_cast<int>(static_cast<unsigned>(frameCounter) + 1u);
  std::unique_lock lock(mutex_);
  // The worker only ever holds the slot of the frame after the last one asked
  // for: once it is idle, both slots are this thread's.
  done_.wait(lock, [this] { return job_ == nullptr; });
  if (!slot.holds(frameCounter, camera)) prepare(slot, frameCounter, camera);
  if (worker_.joinable() && !following.holds(nextFrame, camera)) {
    following.valid = false;
    job_ = &following;
    jobFrame_ = nextFrame;
    jobCamera_ = camera;
    lock.unlock();
    wake_.notify_one();
  }
  return *slot.prepared;
}

#else

FieldPipeline::FieldPipeline() = default;
FieldPipeline::~FieldPipeline() = default;

FieldPipeline::Prepared& FieldPipeline::frame(int frameCounter, const Matrix& camera) {
  Slot& slot = slots_[static_cast<unsigned>(frameCounter) & 1u];
  if (!slot.holds(frameCounter, camera)) prepare(slot, frameCounter, camera);
  return *slot.prepared;
}

#endif

}  // namespace vornisk
