// The show's metaball field and wire net for each frame, prepared one frame
// ahead on a worker thread where the platform has threads. Both depend only
// on the frame counter (the balls' paths) and the camera, never on a draw or
// on Intensity, so preparing them early changes no pixel.
#pragma once

#include <cstdint>
#include <memory>

#include "geometry/matrix.h"
#include "metaballs/blob_field.h"
#include "metaballs/draws_ahead.h"
#include "metaballs/field_threads.h"
#include "metaballs/line_batch.h"
#include "metaballs/wire_net.h"

#if !defined(__EMSCRIPTEN__) || defined(__EMSCRIPTEN_PTHREADS__)
#define VORNISK_FIELD_THREAD 1
#include <atomic>
#include <chrono>
#include <thread>

#include "metaballs/load_watch.h"
#include "metaballs/sharing_trial.h"
#include "threading/threading.h"
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

  explicit FieldPipeline(FieldThreads threads = FieldThreads::Adaptive);
  ~FieldPipeline();
  FieldPipeline(const FieldPipeline&) = delete;
  FieldPipeline& operator=(const FieldPipeline&) = delete;

  // What a frame's field and net are made for.
  struct Key {
    int frameCounter = 0;
    Matrix camera;  // wireCamera of the console
    bool operator==(const Key& other) const;
  };

  // The field and net of frame `frameCounter` on `console`, valid until the
  // next call or finishFrame(); starts preparing the frame after it.
  Prepared& frame(int frameCounter, const DemoConsole& console);
  // The frame last asked for is drawn: its slot starts on the frame two ahead.
  void finishFrame();
  // The batch its wire net's lines go through; the worker helps draw them
  // whenever it has nothing to prepare, where that is found to pay.
  LineBatch& lines() { return *lines_; }
  // Where its wire net's draws are made; the worker makes blocks of them too,
  // on the same terms.
  DrawsAhead& draws() { return *draws_; }
  // How often the drawing thread has gone on without the worker (see
  // LoadWatch), and how many jobs the worker has finished.
  std::uint32_t aloneSpells() const;
  std::uint32_t jobsFinished() const;

 private:
  struct Slot {
    std::unique_ptr<Prepared> prepared = std::make_unique<Prepared>();
    bool valid = false;
    bool fieldReset = false;  // the field has been reset once (resetKeepingCrossings() then serves)
    Key key;
    std::uint32_t ticket = 0;  // the number of the last job posted for it
  };
  void prepare(Slot& slot, const Key& key);
  const Matrix& cameraFor(const DemoConsole& console);

  Slot slots_[2];
  std::unique_ptr<LineBatch> lines_ = std::make_unique<LineBatch>();
  std::unique_ptr<DrawsAhead> draws_ = std::make_unique<DrawsAhead>();
  Matrix camera_;  // wireCamera of a console of the size below
  int cameraWidth_ = 0;
  int cameraHeight_ = 0;
  bool cameraKnown_ = false;
  // One is enough: this thread prepares a slot only while the worker is idle.
  std::unique_ptr<WireScratch> scratch_ = std::make_unique<WireScratch>();
#if VORNISK_FIELD_THREAD
  void work();
  // Waits for the worker to finish the jobs up to `ticket`; whether it had to
  // sleep for it.
  bool waitFor(std::uint32_t ticket);
  void waitIdle();
  bool pending(const Slot& slot) const;
  // Whether the drawing thread had too little of a processor in the window
  // that ends now (see LoadWatch).
  bool starvedSinceWindowStart(std::chrono::steady_clock::time_point now) const;
  void post(Slot& slot, const Key& key);
  bool late_ = false;                    // this frame had to sleep waiting for the worker
  std::uint32_t lateWaitsAtFinish_ = 0;  // the batch's and draws' late waits then
  LoadWatch watch_;
  std::chrono::steady_clock::time_point windowStart_{};  // and this thread's CPU time then,
  std::int64_t windowStartCpu_ = -1;                     // in ns (-1: not known)
  int processors_ = 2;  // what the process may use, looked at once a window
  Key current_;         // what frame() last handed out
  // Jobs in order of posting, the k-th in jobs_[k % 2]: written before `posted_`
  // counts it, and at most two wait at a time.
  struct Job {
    Slot* slot = nullptr;
    Key key;
  };
  Job jobs_[2];
  bool stop_ = false;
  // Jobs posted and finished: the worker is idle when they are equal. Waits on
  // them look briefly before they sleep, and a change without a sleeper costs
  // no system call, so a handover between busy threads stays cheap.
  threading::WaitWord posted_;
  threading::WaitWord finished_;
  // Whether the worker helps with lines and draws (see SharingTrial), and the end of
  // the last finished frame.
  SharingTrial trial_;
  std::atomic<bool> shareWork_{true};
  std::chrono::steady_clock::time_point lastFinish_{};
  std::uint32_t batchesAtFinish_ = 0;  // lines_->opened() at the last finished frame
  bool framesFast_ = false;            // the last frame took less than a couple of milliseconds
  std::thread worker_;                 // none when the platform would not start one
#endif
};

}  // namespace vornisk
