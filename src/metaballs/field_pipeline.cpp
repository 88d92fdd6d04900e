// The hand-over between the drawing thread and the worker that prepares the
// next frame's field and wire net.
#include "metaballs/field_pipeline.h"

#include "shell/demo_console.h"

#include <chrono>
#include <cstring>
#include <system_error>

namespace vornisk {

bool FieldPipeline::Key::operator==(const Key& other) const {
  return frameCounter == other.frameCounter &&
         std::memcmp(&camera, &other.camera, sizeof camera) == 0;
}

const Matrix& FieldPipeline::cameraFor(const DemoConsole& console) {
  // The view transform depends on the console only through its size.
  if (!cameraKnown_ || cameraWidth_ != console.width || cameraHeight_ != console.height) {
    camera_ = wireCamera(console);
    cameraWidth_ = console.width;
    cameraHeight_ = console.height;
    cameraKnown_ = true;
  }
  return camera_;
}

void FieldPipeline::prepare(Slot& slot, const Key& key) {
  BlobField& field = slot.prepared->field;
  // Only this pipeline writes the slot's field, so after the first full reset
  // only what computeCrossings wrote needs setting back.
  if (slot.fieldReset) {
    field.resetAfterCrossings();
  } else {
    field.reset();
    slot.fieldReset = true;
  }
  addShowBalls(field, key.frameCounter);
  field.computeCrossings();
  buildWireNet(field, key.camera, slot.prepared->net, *scratch_);
  slot.key = key;
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
  waitIdle();
  stop_ = true;
  posted_.fetch_add(1, std::memory_order_release);
  posted_.notify_one();
  worker_.join();
}

namespace {

// How long the worker looks for its next job before it sleeps: about a frame
// when frames are drawn as fast as they can be, so that handing a job over
// then needs no wake-up on either side. It yields while it looks, so a thread
// waiting for the same core (the drawing thread, on a busy machine) runs.
constexpr std::chrono::microseconds kSpinBeforeSleep{200};

}  // namespace

void FieldPipeline::work() {
  for (std::uint32_t done = 0;;) {
    const auto sleepAt = std::chrono::steady_clock::now() + kSpinBeforeSleep;
    while (posted_.load(std::memory_order_acquire) == done &&
           std::chrono::steady_clock::now() < sleepAt) {
      std::this_thread::yield();
    }
    posted_.wait(done, std::memory_order_acquire);
    if (stop_) return;
    prepare(*job_, jobKey_);
    finished_.store(++done, std::memory_order_release);
    finished_.notify_one();
  }
}

void FieldPipeline::waitIdle() {
  const std::uint32_t posted = posted_.load(std::memory_order_relaxed);
  for (std::uint32_t finished; (finished = finished_.load(std::memory_order_acquire)) != posted;)
    finished_.wait(finished, std::memory_order_acquire);
}

FieldPipeline::Prepared& FieldPipeline::frame(int frameCounter, const DemoConsole& console) {
  const unsigned parity = static_cast<unsigned>(frameCounter) & 1u;
  Slot& slot = slots_[parity];
  Slot& following = slots_[parity ^ 1u];
  const Key key{frameCounter, cameraFor(console)};
  Key next = key;
  next.frameCounter = static_cast<int>(static_cast<unsigned>(frameCounter) + 1u);
  // The worker only ever holds the slot of the frame after the last one asked
  // for: once it is idle, both slots are this thread's.
  if (worker_.joinable()) waitIdle();
  if (!(slot.valid && slot.key == key)) prepare(slot, key);
  if (worker_.joinable() && !(following.valid && following.key == next)) {
    following.valid = false;
    job_ = &following;
    jobKey_ = next;
    posted_.fetch_add(1, std::memory_order_release);
    posted_.notify_one();
  }
  return *slot.prepared;
}

#else

FieldPipeline::FieldPipeline() = default;
FieldPipeline::~FieldPipeline() = default;

FieldPipeline::Prepared& FieldPipeline::frame(int frameCounter, const DemoConsole& console) {
  Slot& slot = slots_[static_cast<unsigned>(frameCounter) & 1u];
  const Key key{frameCounter, cameraFor(console)};
  if (!(slot.valid && slot.key == key)) prepare(slot, key);
  return *slot.prepared;
}

#endif

}  // namespace vornisk
