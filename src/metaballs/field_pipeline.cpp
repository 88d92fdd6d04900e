// The hand-over between the drawing thread and the worker that prepares the
// next frame's field and wire net.
#include "metaballs/field_pipeline.h"

#include "console/demo_console.h"

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
  // the crossings are left for the next computeCrossings to set back.
  if (slot.fieldReset) {
    field.resetKeepingCrossings();
  } else {
    field.reset();
    slot.fieldReset = true;
  }
  addShowBalls(field, key.frameCounter);
  buildWireNet(field, key.camera, slot.prepared->net, *scratch_);
  slot.key = key;
  slot.valid = true;
}

#if VORNISK_FIELD_THREAD

FieldPipeline::FieldPipeline(FieldThreads threads) {
  if (threads == FieldThreads::One) return;
  processors_ = threading::usableProcessors();
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
  posted_.add(1);
  worker_.join();
}

namespace {

// How long the worker looks for work before it sleeps. While frames are drawn
// as fast as they can be (the capture tool, benchmarks), a few frames, so that
// handing work over needs no wake-up on either side; while they come at a
// display's pace, not at all, since the next job is most of a frame away.
constexpr std::chrono::microseconds kSpinBeforeSleep{100};
// How long the drawing thread looks for a job to finish before it sleeps: a
// job takes some 15 to 30 microseconds.
constexpr std::chrono::microseconds kJobPatience{100};
constexpr std::chrono::milliseconds kFastFrames{2};  // jobs closer than this

// Whether ticket `a` comes before `b`, on counters that wrap.
bool before(std::uint32_t a, std::uint32_t b) {
  return static_cast<std::int32_t>(a - b) < 0;
}

}  // namespace

void FieldPipeline::work() {
  threading::nameThisThread("field worker");
  using Clock = std::chrono::steady_clock;
  Clock::time_point lastJob{};
  bool framesFast = false;
  for (std::uint32_t done = 0;;) {
    // Look for a job or a batch of lines to help with; sleep (until the next
    // job) when neither comes for a while.
    auto drawsWaiting = [this] {
      return shareWork_.load(std::memory_order_relaxed) && draws_->helpWanted();
    };
    auto linesWaiting = [this] {
      return shareWork_.load(std::memory_order_relaxed) && lines_->isOpen();
    };
    auto somethingToDo = [&] { return posted_.load() != done || drawsWaiting() || linesWaiting(); };
    if (!(framesFast ? spinUntil(somethingToDo, kSpinBeforeSleep) : somethingToDo())) {
      posted_.waitWhile(done);
    }
    // The drawing thread needs its draws first and waits for its lines at the
    // end of its frame; the next field is not needed before the next frame.
    if (drawsWaiting()) {
      draws_->help();
      continue;
    }
    if (linesWaiting()) {
      lines_->help();
      continue;
    }
    // The looks may have ended on a batch that closed before it could be
    // helped with: a job is there only once `posted_` counts it.
    if (posted_.load() == done) continue;
    if (stop_) return;
    const Clock::time_point now = Clock::now();
    framesFast = now - lastJob < kFastFrames;
    lastJob = now;
    const Job& job = jobs_[done % 2];
    prepare(*job.slot, job.key);
    finished_.store(++done);
  }
}

bool FieldPipeline::waitFor(std::uint32_t ticket) {
  auto done = [&] { return !before(finished_.load(), ticket); };
  if (done()) return false;
  // While frames come fast, the job is most likely a few microseconds from
  // done: look for it with the processor's pause before sleeping, as a
  // wake-up would cost more than the wait.
  if (framesFast_ && spinUntil(done, kJobPatience)) return false;
  for (std::uint32_t finished; before(finished = finished_.load(), ticket);)
    finished_.waitWhile(finished);
  return true;
}

void FieldPipeline::waitIdle() {
  waitFor(posted_.load(std::memory_order_relaxed));
}

bool FieldPipeline::pending(const Slot& slot) const {
  return before(finished_.load(), slot.ticket);
}

void FieldPipeline::post(Slot& slot, const Key& key) {
  const std::uint32_t posted = posted_.load(std::memory_order_relaxed);
  late_ |= waitFor(posted - 1);  // room for the job: at most one other waits
  jobs_[posted % 2] = {&slot, key};
  slot.valid = false;
  slot.ticket = posted + 1;
  posted_.store(posted + 1);
}

FieldPipeline::Prepared& FieldPipeline::frame(int frameCounter, const DemoConsole& console) {
  const Key key{frameCounter, cameraFor(console)};
  Slot& slot = slots_[static_cast<unsigned>(frameCounter) & 1u];
  if (worker_.joinable()) late_ |= waitFor(slot.ticket);
  if (!(slot.valid && slot.key == key)) {
    // Prepared here, with the scratch space the worker uses: only once it is idle.
    if (worker_.joinable()) waitIdle();
    prepare(slot, key);
  }
  current_ = key;
  if (!worker_.joinable() || watch_.alone()) return *slot.prepared;
  Key next = key;
  next.frameCounter = static_cast<int>(static_cast<unsigned>(frameCounter) + 1u);
  Slot& following = slots_[static_cast<unsigned>(next.frameCounter) & 1u];
  if (!pending(following) && !(following.valid && following.key == next)) post(following, next);
  return *slot.prepared;
}

void FieldPipeline::finishFrame() {
  if (!worker_.joinable()) return;
  const auto now = std::chrono::steady_clock::now();
  const std::uint32_t batches = lines_->opened();
  const std::uint32_t lateWaits = lines_->lateWaits() + draws_->lateWaits();
  const bool wasAlone = watch_.alone();
  if (lastFinish_ != std::chrono::steady_clock::time_point{}) {
    framesFast_ = now - lastFinish_ < kFastFrames;
    if (!wasAlone) trial_.frameFinished(now - lastFinish_, batches != batchesAtFinish_);
  }
  if (watch_.wantsProcessorCount()) processors_ = threading::usableProcessors();
  const bool starved = watch_.windowEnds() && starvedSinceWindowStart(now);
  watch_.frameFinished(late_ || lateWaits != lateWaitsAtFinish_, processors_, starved);
  if (watch_.windowStarts()) {
    windowStart_ = now;
    windowStartCpu_ = threading::thisThreadCpuNanoseconds();
  }
  late_ = false;
  lastFinish_ = now;
  batchesAtFinish_ = batches;
  lateWaitsAtFinish_ = lateWaits;
  shareWork_.store(!watch_.alone() && trial_.sharing(), std::memory_order_relaxed);
  if (watch_.alone()) return;
  // The frame after next, or, when the worker has just been taken back, the
  // next one, which nobody has prepared yet.
  Key ahead = current_;
  ahead.frameCounter =
      static_cast<int>(static_cast<unsigned>(current_.frameCounter) + (wasAlone ? 1u : 2u));
  Slot& slot = slots_[static_cast<unsigned>(ahead.frameCounter) & 1u];
  if (!pending(slot) && !(slot.valid && slot.key == ahead)) post(slot, ahead);
}

bool FieldPipeline::starvedSinceWindowStart(std::chrono::steady_clock::time_point now) const {
  using std::chrono::nanoseconds;
  const std::int64_t cpu = threading::thisThreadCpuNanoseconds();
  const std::int64_t wall = std::chrono::duration_cast<nanoseconds>(now - windowStart_).count();
  // Only while frames come as fast as they can: at a display's pace the
  // drawing thread sleeps most of the time by design.
  if (cpu < 0 || windowStartCpu_ < 0 ||
      wall >= nanoseconds(kFastFrames).count() * LoadWatch::kWindowFrames) {
    return false;
  }
  // Less than two thirds of the time on a processor: kept off it (or asleep
  // waiting for the worker) for a third of the window.
  return (cpu - windowStartCpu_) * 3 < wall * 2;
}

std::uint32_t FieldPipeline::aloneSpells() const {
  return watch_.departures();
}

std::uint32_t FieldPipeline::jobsFinished() const {
  return finished_.load();
}

#else

FieldPipeline::FieldPipeline(FieldThreads) {}
FieldPipeline::~FieldPipeline() = default;

FieldPipeline::Prepared& FieldPipeline::frame(int frameCounter, const DemoConsole& console) {
  Slot& slot = slots_[static_cast<unsigned>(frameCounter) & 1u];
  const Key key{frameCounter, cameraFor(console)};
  if (!(slot.valid && slot.key == key)) prepare(slot, key);
  return *slot.prepared;
}

void FieldPipeline::finishFrame() {}

std::uint32_t FieldPipeline::aloneSpells() const {
  return 0;
}

std::uint32_t FieldPipeline::jobsFinished() const {
  return 0;
}

#endif

}  // namespace vornisk
