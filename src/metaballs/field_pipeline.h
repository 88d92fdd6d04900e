// The show's metaball field and wire net for each frame, prepared one frame
// ahead on a worker thread where the platform has threads. Both depend only
// on the frame counter (the balls' paths) and the camera, never on a draw or
// on Intensity, so preparing them early changes no pixel.
#pragma once

#include <memory>

#include "geometry/matrix.h"
#include "metaballs/blob_field.h"
#include "metaballs/wire_net.h"

#if !defined(__EMSCRIPTEN__) || defined(__EMSCRIPTEN_PTHREADS__)
#define VORNISK_FIELD_THREAD 1
#include <atomic>
#include <cstdint>
#include <thread>
#else
#define VORNISK_FIELD_THREAD 0
#endif

namespace vornisk {

class FieldPipeline {
 public:
  struct Prepared {
    BlobField field;  // reset, the show's balls added, crossings computed
    WireNet net;
  };

  FieldPipeline();
  ~FieldPipeline();
  FieldPipeline(const FieldPipeline&) = delete;
  FieldPipeline& operator=(const FieldPipeline&) = delete;

  // The field and net of frame `frameCounter` through `camera`, valid until
  // the next call; starts preparing the frame after it.
  Prepared& frame(int frameCounter, const Matrix& camera);

 private:
  struct Slot {
    std::unique_ptr<Prepared> prepared = std::make_unique<Prepared>();
    bool valid = false;
    int frameCounter = 0;
    Matrix camera;
    bool holds(int frame, const Matrix& view) const;
  };
  static void prepare(Slot& slot, int frameCounter, const Matrix& camera);

  Slot slots_[2];
#if VORNISK_FIELD_THREAD
  void work();
  void waitIdle();
  // The job: written while the worker is idle, published by `posted_`.
  Slot* job_ = nullptr;
  int jobFrame_ = 0;
  Matrix jobCamera_;
  bool stop_ = false;
  // Jobs posted and finished: the worker is idle when they are equal. Atomic
  // waits spin briefly before they sleep, and a notify without a sleeper costs
  // no system call, so a handover between busy threads stays cheap.
  std::atomic<std::uint32_t> posted_{0};
  std::atomic<std::uint32_t> finished_{0};
  std::thread worker_;  // none when the platform would not start one
#endif
};

}  // namespace vornisk
