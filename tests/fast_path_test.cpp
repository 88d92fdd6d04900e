// The fast paths against the straightforward code they replace, on random
// states: the same bits in every array, pixel, draw and offset.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "console/random.h"
#include "console/show_state.h"
#include "effects/line.h"
#include "metaballs/blob_field.h"
#include "metaballs/draws_ahead.h"
#include "metaballs/field_pipeline.h"
#include "metaballs/line_batch.h"
#include "metaballs/load_watch.h"
#include "metaballs/sharing_trial.h"
#include "support/test_support.h"

namespace vornisk {
namespace {

using testing::HeadlessConsole;
constexpr int kSize = BlobField::kSize;

// Every 15-bit draw against every modulus up to 1000 and every one Intensity
// takes on its way from 1000 down to 1 (the show's rolls), and those past 2^15.
TEST(FastPath, DivisibilityFactorDecidesEveryDrawLikeTheRemainder) {
  std::vector<std::uint32_t> moduli = {32767, 32768, 32769, 100000, 1000000};
  for (std::uint32_t m = 2; m <= 1000; ++m)
    moduli.push_back(m);
  for (float intensity = 1000.0f; intensity > 1.0f;
       intensity = std::max(1.0f, static_cast<float>(static_cast<double>(intensity) * 0.99))) {
    for (double factor : {10.0, 100.0, 1000.0})
      moduli.push_back(static_cast<std::uint32_t>(static_cast<double>(intensity) * factor));
  }
  long wrong = 0;
  for (std::uint32_t modulus : moduli) {
    const std::uint32_t factor = drawDivisibilityFactor(modulus);
    for (std::uint32_t draw = 0; draw < 32768; ++draw)
      wrong += drawDivisibleBy(draw, factor) != (draw % modulus == 0);
  }
  EXPECT_EQ(wrong, 0);
}

// Every 15-bit draw against every limit a reset roll can have.
TEST(FastPath, RemainderBoundDecidesEveryDrawLikeTheRemainder) {
  long wrong = 0;
  for (std::uint32_t limit = 0; limit < 1000; ++limit) {
    const std::uint32_t bound = drawRemainderBound(limit);
    for (std::uint32_t draw = 0; draw < 32768; ++draw)
      wrong += drawRemainderBelow(draw, bound) != (draw % 1000 < limit);
  }
  EXPECT_EQ(wrong, 0);
}

// The straightforward field: every point tested against every ball, and every
// edge against its far end.
void modelBall(BlobField& f, double x, double y, double z, double radius, double strength) {
  const double r2 = radius * radius, r4 = r2 * r2, r6 = r4 * r2;
  for (int i = 0; i < kSize; ++i)
    for (int j = 0; j < kSize; ++j)
      for (int k = 0; k < kSize; ++k) {
        const double ex = x - i, ey = y - j, ez = z - k;
        const double q = (ex * ex + ey * ey) + ez * ez, q2 = q * q, q3 = q2 * q;
        if (q < r2)
          f.value[i][j][k] +=
              strength * (1.0 - 2.4444444444444446 * q / r2 + 1.8888888888888888 * q2 / r4 -
                          0.4444444444444444 * q3 / r6);
      }
}

void modelCrossings(BlobField& f) {
  auto fraction = [](double a, double b) { return std::fabs(a) / (std::fabs(a) + std::fabs(b)); };
  for (int x = 0; x < kSize - 1; ++x)
    for (int y = 0; y < kSize - 1; ++y)
      for (int z = 0; z < kSize - 1; ++z) {
        const double a = f.value[x][y][z];
        const double ends[3] = {f.value[x + 1][y][z], f.value[x][y + 1][z], f.value[x][y][z + 1]};
        double* cross[3] = {&f.crossX[x][y][z], &f.crossY[x][y][z], &f.crossZ[x][y][z]};
        for (int axis = 0; axis < 3; ++axis)
          if ((a > 0.0) != (ends[axis] > 0.0)) *cross[axis] = fraction(a, ends[axis]);
      }
}

bool sameBlocks(const BlobField& a, const BlobField& b) {
  return std::memcmp(a.value, b.value, sizeof a.value) == 0 &&
         std::memcmp(a.crossX, b.crossX, sizeof a.crossX) == 0 &&
         std::memcmp(a.crossY, b.crossY, sizeof a.crossY) == 0 &&
         std::memcmp(a.crossZ, b.crossZ, sizeof a.crossZ) == 0;
}

class FastPathOnRandomStates : public ::testing::Test {
 protected:
  void TearDown() override { resetShowState(); }
  // One to six balls through both: the show's radii and strengths round the
  // middle, or anything round and past the lattice's edges, radii of both
  // signs on and off whole and half cells, strengths of both signs.
  void randomField(BlobField& fast, BlobField& model) {
    fast.reset();
    model.reset();
    std::uniform_real_distribution<double> middle(4.0, 12.0), anywhere(-3.0, 18.0), radius(0, 7);
    for (int n = 1 + roll(6); n > 0; --n) {
      const bool showLike = roll(2) == 0;
      auto& centre = showLike ? middle : anywhere;
      const double anyRadius = roll(2) == 0 ? std::round(radius(random_) * (1 + roll(3))) / 2
                                            : radius(random_) * (1 + roll(3));
      const double b[5] = {centre(random_), centre(random_), centre(random_),
                           showLike ? 3.0 + roll(3) : (roll(4) == 0 ? -anyRadius : anyRadius),
                           showLike ? 1.0 + roll(4) : -1.5};
      fast.addBall(b[0], b[1], b[2], b[3], b[4]);
      modelBall(model, b[0], b[1], b[2], b[3], b[4]);
    }
  }
  int roll(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  std::mt19937 random_{20261207};
};

TEST_F(FastPathOnRandomStates, BallsAndCrossingsMatchTheModel) {
  auto fast = std::make_unique<BlobField>(), model = std::make_unique<BlobField>();
  for (int run = 0; run < 1000; ++run) {
    randomField(*fast, *model);
    fast->computeCrossings();
    modelCrossings(*model);
    ASSERT_TRUE(sameBlocks(*fast, *model)) << "case " << run;
  }
}

// renderAhead against renderRollByRoll: pixels, the generator's state, the
// offsets and Intensity, over Intensity across every regime of the moduli
// (above 32767 only 0 is a hit) and jitter carried in or not. Both consoles
// track their drawing: a title copy after the frame must undo all of it.
TEST_F(FastPathOnRandomStates, RenderAheadMatchesRollByRoll) {
  const float intensities[] = {1000.0f, 990.0f,  400.0f, 327.68f, 327.67f, 100.0f,
                               32.768f, 32.767f, 5.0f,   1.5f,    1.0f,    0.02f};
  const float carriedOffsets[] = {-3.5f, 37.25f, 3.0e6f, std::numeric_limits<float>::quiet_NaN()};
  auto fast = std::make_unique<BlobField>(), model = std::make_unique<BlobField>();
  HeadlessConsole byRoll(320, 240, 0x00102030), ahead(320, 240, 0x00102030);
  const testing::Frame title = byRoll.snapshot();
  for (HeadlessConsole* console : {&byRoll, &ahead})
    console->trackDrawing(true);
  for (int run = 0; run < 1500; ++run) {
    SCOPED_TRACE(run);
    randomField(*fast, *model);
    float intensity = run % 3 == 0 ? intensities[run / 3 % std::size(intensities)]
                                   : std::uniform_real_distribution<float>(1, 1000)(random_);
    const auto seed = static_cast<std::uint32_t>(random_());
    float carried[6] = {};
    if (run % 5 == 0) {
      const std::size_t which = run / 5 % std::size(carriedOffsets);
      carried[roll(6)] = carriedOffsets[which];
      // Far and NaN offsets at low Intensity, where they last until lines use them.
      if (which > 0) intensity = 1.0f + static_cast<float>(roll(3));
    }

    auto renderWith = [&](BlobField& f, HeadlessConsole& console, bool useAhead) {
      Intensity = intensity;
      seedRandom(seed);
      std::memcpy(jitter, carried, sizeof jitter);
      console.frameCounter = run;
      if (useAhead) {
        f.renderAhead(console);
      } else {
        f.renderRollByRoll(console);
      }
      return random_detail::state;
    };
    Intensity = intensity;
    if (!BlobField::aheadPossible()) {
      EXPECT_LT(intensity, 0.03f);
      continue;
    }
    ASSERT_EQ(renderWith(*fast, ahead, true), renderWith(*model, byRoll, false));
    ASSERT_EQ(std::memcmp(ahead.pixels, byRoll.pixels, 320 * 240 * 4), 0);
    for (float offset : jitter)
      EXPECT_EQ(offset, 0.0f);
    for (HeadlessConsole* console : {&byRoll, &ahead}) {
      console->copyTitle();
      ASSERT_TRUE(console->snapshot() == title) << (console == &ahead ? "ahead" : "roll by roll");
    }
  }
}

// The show's prepared frames against the field drawn directly, with frames
// asked for in order, out of order and again, on buffers of two sizes.
TEST_F(FastPathOnRandomStates, PreparedFramesDrawLikeTheFieldItself) {
  FieldPipeline pipeline;
  auto field = std::make_unique<BlobField>();
  HeadlessConsole preparedLarge(320, 240), directLarge(320, 240);
  HeadlessConsole preparedSmall(200, 150), directSmall(200, 150);
  const int frames[] = {0, 1, 2, 3, 4, 9, 8, 8, 5000, 5001, 5002, 7, 7, 6};
  const float intensities[] = {1000.0f, 40.5f, 1.0f};
  for (int k = 0; k < 60; ++k) {
    SCOPED_TRACE(k);
    const int frame = frames[k % std::size(frames)];
    const bool small = k % 7 == 3;
    HeadlessConsole& prepared = small ? preparedSmall : preparedLarge;
    HeadlessConsole& direct = small ? directSmall : directLarge;
    const auto seed = static_cast<std::uint32_t>(random_());
    const BlobField* preparedField = nullptr;
    auto drawWith = [&](HeadlessConsole& console, bool viaPipeline) {
      Intensity = intensities[k % 3];
      seedRandom(seed);
      console.frameCounter = frame;
      if (viaPipeline) {
        FieldPipeline::Prepared& p = pipeline.frame(frame, console);
        p.field.renderPrepared(console, p.net, pipeline.lines(), pipeline.draws());
        preparedField = &p.field;
      } else {
        field->reset();
        addShowBalls(*field, frame);
        field->render(console, 0.1, frame);
      }
      return random_detail::state;
    };
    ASSERT_EQ(drawWith(prepared, true), drawWith(direct, false));
    ASSERT_TRUE(prepared.snapshot() == direct.snapshot());
    ASSERT_TRUE(sameBlocks(*preparedField, *field));
    // Most frames are finished, which starts on the frame two ahead.
    if (k % 4 != 1) pipeline.finishFrame();
  }
}

// The idle worker helps with every batch that opens, and a batch closed
// between two of its looks must not pass for a job: it would redo an old job
// over a slot in use and count a job not done.
TEST_F(FastPathOnRandomStates, PipelineTakesNoJobForABatchClosedUnderIt) {
  std::vector<std::uint32_t> pixels(64 * 64);
  HeadlessConsole console(320, 240);
  auto field = std::make_unique<BlobField>();
  for (int pipelines = 0; pipelines < 600; ++pipelines) {
    FieldPipeline pipeline;
    // Two jobs in quick succession (the next two frames): after them the
    // worker looks for more work for a while before it sleeps.
    const int frame = pipelines % 7;
    pipeline.frame(frame, console);
    pipeline.finishFrame();
    const BlobField& prepared = pipeline.frame(frame + 1, console).field;
    for (int round = 0; round < 2000; ++round) {
      pipeline.lines().open(pixels.data(), 64, 64, 1u);
      pipeline.lines().close();
    }
    field->reset();
    addShowBalls(*field, frame + 1);
    ASSERT_EQ(std::memcmp(prepared.value, field->value, sizeof field->value), 0);
    ASSERT_LE(pipeline.jobsFinished(), 2u) << "more jobs done than posted";
  }
}

// A worker kept off the processor: with one processor to run on, the drawing
// thread goes on alone, preparing every field itself and handing the worker
// nothing; once a second processor is allowed again, the worker is taken back
// after the rest. The frames are those of the field drawn directly throughout.
TEST_F(FastPathOnRandomStates, StarvedPipelineGoesOnAloneAndComesBack) {
  std::optional<testing::OneProcessor> pinned(std::in_place);
  if (!pinned->active()) GTEST_SKIP() << "needs a second processor to leave out";
  testing::Watchdog watchdog(std::chrono::seconds(60), "the starved pipeline");
  FieldPipeline pipeline;
  auto field = std::make_unique<BlobField>();
  HeadlessConsole prepared(320, 240), direct(320, 240);
  constexpr int kPinnedFrames = static_cast<int>(LoadWatch::kFirstRestFrames) + 100;
  std::uint32_t jobsWhilePinned = 0;
  for (int frame = 0; frame < 2 * kPinnedFrames; ++frame) {
    SCOPED_TRACE(frame);
    if (frame == kPinnedFrames) {
      jobsWhilePinned = pipeline.jobsFinished();
      pinned.reset();
    }
    const auto seed = static_cast<std::uint32_t>(random_());
    Intensity = 40.5f;
    seedRandom(seed);
    prepared.frameCounter = frame;
    prepared.clearFrame();
    FieldPipeline::Prepared& p = pipeline.frame(frame, prepared);
    p.field.renderPrepared(prepared, p.net, pipeline.lines(), pipeline.draws());
    pipeline.finishFrame();
    if (frame % 61 != 0) continue;
    Intensity = 40.5f;
    seedRandom(seed);
    direct.frameCounter = frame;
    direct.clearFrame();
    field->reset();
    addShowBalls(*field, frame);
    field->render(direct, 0.1, frame);
    ASSERT_TRUE(prepared.snapshot() == direct.snapshot());
  }
  EXPECT_GE(pipeline.aloneSpells(), 1u);
  EXPECT_LE(jobsWhilePinned, 2u) << "jobs handed to a worker that gets no processor";
  EXPECT_GT(pipeline.jobsFinished(), jobsWhilePinned) << "the worker was not taken back";
}

// Batches of lines drawn by the listing thread and a helper at once, against
// the same lines drawn one by one: every line drawn, none twice from stale
// entries, all of it done when close() returns.
// The helper tests run with both threads free and with both on one processor,
// where the helper is often kept off it while it holds a piece the drawing
// thread waits for: the drawing thread must sleep, and be woken, instead.
class WithHelper : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      pinned_.emplace();
      if (!pinned_->active()) GTEST_SKIP() << "needs a second processor to leave out";
    }
  }
  std::optional<testing::OneProcessor> pinned_;
  testing::Watchdog watchdog_{std::chrono::seconds(60), "the helper test"};
};
INSTANTIATE_TEST_SUITE_P(Processors, WithHelper, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "OnOne" : "Free"; });

// Blocks made by a helper thread as well must give the marks and draws that
// the drawing thread makes alone, and the generator's own draws.
TEST_P(WithHelper, DrawsAheadGivesTheGeneratorsDrawsAndTheirMarks) {
  auto shared = std::make_unique<DrawsAhead>(), alone = std::make_unique<DrawsAhead>();
  std::atomic<bool> stop = false;
  std::thread helper([&] {
    while (!stop) {
      if (shared->helpWanted()) shared->help();
    }
  });
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    auto below = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    const std::uint32_t state = static_cast<std::uint32_t>(random());
    const draws_detail::Marks marks(2 + below(200), 2 + below(2000), below(1000));
    shared->start(state, marks);
    alone->start(state, marks);
    // Read up to somewhere in the frame, as the rolls do, then check a
    // stretch against the generator.
    const std::size_t end = random() % DrawsAhead::kCapacity;
    std::size_t wrong = 0;
    for (std::size_t p = 0; p < end; p += 1 + random() % 700)
      wrong += shared->candidate(p) != alone->candidate(p) || shared->at(p) != alone->at(p) ||
               shared->resets(p) != alone->resets(p);
    std::uint32_t generator = state;
    for (std::size_t p = 0; p < std::min<std::size_t>(end, 2000); ++p) {
      generator = generator * 214013u + 2531011u;
      wrong += shared->at(p) != ((generator >> 16) & 0x7FFFu);
    }
    EXPECT_EQ(shared->nextCandidate(0, end), alone->nextCandidate(0, end));
    shared->finish();
    alone->finish();
    ASSERT_EQ(wrong, 0u);
  }
  stop = true;
  helper.join();
}

TEST_P(WithHelper, LineBatchDrawsEveryListedLineBeforeCloseReturns) {
  constexpr int kWidth = 320, kHeight = 240;
  auto batch = std::make_unique<LineBatch>();
  std::atomic<bool> stop = false;
  std::thread helper([&] {
    while (!stop) {
      if (batch->isOpen()) batch->help();
    }
  });
  std::mt19937 random(7);
  // Short lines (up to a little past the span a lookup covers), some crossing
  // the edges, so that few hide one another.
  std::uniform_int_distribution<int> coordinate(-10, 330);
  std::uniform_int_distribution<int> length(-17, 17);
  // Buffers of three widths in turn: a line's steps depend on the width, and
  // the widest is one past those whose steps fit the batch's 16-bit table.
  const int widths[] = {kWidth, kWidth, kWidth - 17, 2184};
  std::vector<std::uint32_t> shared(2184 * kHeight), alone(2184 * kHeight);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    std::fill(shared.begin(), shared.end(), 0u);
    std::fill(alone.begin(), alone.end(), 0u);
    const auto colour = static_cast<std::uint32_t>(round + 1);
    // Counts around the chunk size and up to the most a frame can list.
    const int count = round % 3 == 0 ? round % 40 : round % 3 == 1 ? 700 : LineBatch::kMostLines;
    const int width = widths[round % 4];
    batch->open(shared.data(), width, kHeight, colour);
    for (int i = 0; i < count; ++i) {
      int x0 = coordinate(random), y0 = coordinate(random) * 3 / 4;
      int x1 = x0 + length(random), y1 = y0 + length(random);
      // Now and then an end far off screen, as a stretch spike throws it.
      if (i % 50 == 7) x1 = x0 + length(random) * 40000;
      if (i % 50 == 31) y0 = y1 - length(random) * 3000;
      batch->add(x0, y0, x1, y1);
      drawLineInto(alone.data(), width, kHeight, x0, y0, x1, y1, colour);
    }
    batch->close();
    ASSERT_TRUE(shared == alone);
  }
  stop = true;
  helper.join();
}

// The trial keeps whichever way gave the shorter frames, whatever each turn's
// first frame (which presents the frame before, drawn the other way) costs,
// and tries again every cycle. Frames without a wire net, short whichever way,
// are passed over.
TEST(SharingTrial, KeepsTheFasterWayForTheRestOfEachCycle) {
  using std::chrono::microseconds;
  for (const bool helpPays : {true, false}) {
    SCOPED_TRACE(helpPays);
    SharingTrial trial;
    for (int cycle = 0; cycle < 3; ++cycle) {
      for (int frame = 0; frame < SharingTrial::kCycleFrames; ++frame) {
        // Two frames in five draw no net, one of them in every turn. Had
        // they counted, the frames the help slows would have won.
        for (int netless = 0; netless < (frame % 5 == 0 ? 2 : 0); ++netless) {
          trial.frameFinished(microseconds(trial.sharing() == helpPays ? 30 : 2), false);
        }
        const bool helped = trial.sharing();
        if (frame < SharingTrial::kTrialFrames) {
          ASSERT_EQ(helped, frame / SharingTrial::kTurnFrames % 2 == 0) << frame;
        } else {
          ASSERT_EQ(helped, helpPays) << frame;
        }
        const bool fast = helped == helpPays;
        // Each turn's first frame carries the other way's cost, here a huge one.
        const bool turnStart = frame % SharingTrial::kTurnFrames == 0;
        trial.frameFinished(
            turnStart && fast ? microseconds(100000) : microseconds(fast ? 40 + frame % 7 : 50),
            true);
      }
    }
  }
}

// The drawing thread goes on alone after a few late frames in one window, or
// after two windows in a row in which it was starved of a processor, takes
// the worker back after a rest, rests twice as long (up to the longest rest)
// while the worker fails its trial (one late frame, or one starved window,
// in the first window back), and starts from the first rest again after a
// window without either. Late frames spread over windows, and a starved
// window alone, are forgiven. With one processor it stays alone until a
// second is allowed.
TEST(LoadWatch, LeavesALateWorkerForARestAndTakesItBack) {
  LoadWatch watch;
  auto frames = [&](std::uint32_t count, bool late, int processors = 2) {
    for (std::uint32_t i = 0; i < count; ++i)
      watch.frameFinished(late, processors);
  };
  // A whole window whose last frame reports starvation, as the pipeline
  // does: only where windowEnds() says so.
  auto starvedWindow = [&] {
    for (int i = 0; i < LoadWatch::kWindowFrames; ++i) {
      ASSERT_EQ(watch.windowEnds(), i == LoadWatch::kWindowFrames - 1);
      watch.frameFinished(false, 2, watch.windowEnds());
    }
  };
  // Rests for `rest` frames, then takes the worker back.
  auto expectRest = [&](std::uint32_t rest) {
    ASSERT_TRUE(watch.alone());
    frames(rest - 1, false);
    ASSERT_TRUE(watch.alone());
    frames(1, false);
    ASSERT_FALSE(watch.alone());
    ASSERT_TRUE(watch.windowStarts());
  };
  constexpr int kWindow = LoadWatch::kWindowFrames;
  for (int window = 0; window < 5; ++window) {
    frames(LoadWatch::kLateFramesToLeave - 1, true);
    frames(kWindow - LoadWatch::kLateFramesToLeave + 1, false);
    starvedWindow();
    ASSERT_FALSE(watch.alone());
    frames(kWindow, false);
  }
  ASSERT_FALSE(watch.alone());
  frames(LoadWatch::kLateFramesToLeave, true);
  expectRest(LoadWatch::kFirstRestFrames);
  std::uint32_t departures = 1;
  for (std::uint32_t rest = 2 * LoadWatch::kFirstRestFrames;
       rest <= 4 * LoadWatch::kLongestRestFrames; rest *= 2, ++departures) {
    if (departures % 2 == 0) {
      frames(LoadWatch::kLateFramesToEndTrial, true);
    } else {
      starvedWindow();
    }
    expectRest(std::min(rest, LoadWatch::kLongestRestFrames));
  }
  frames(kWindow, false);
  starvedWindow();
  ASSERT_FALSE(watch.alone());
  starvedWindow();
  expectRest(LoadWatch::kFirstRestFrames);
  EXPECT_EQ(watch.departures(), departures + 1);

  frames(kWindow, false);
  frames(1, false, 1);
  ASSERT_TRUE(watch.alone());
  frames(3 * LoadWatch::kLongestRestFrames, false, 1);
  ASSERT_TRUE(watch.alone());
  frames(LoadWatch::kFirstRestFrames, false, 2);
  EXPECT_FALSE(watch.alone());
}

}  // namespace
}  // namespace vornisk
