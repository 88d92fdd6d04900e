// The generator's draws for one frame of the wire net, made ahead in blocks.
//
// A frame makes some 31,000 draws, nearly all of them misses that change
// nothing, in cells nearly all of which have no contour. The draws are made a
// block of 512 at a time on 16 lanes, lane l making draws 32·l … 32·l + 31 of
// the block (its start found by jumping the generator ahead), so that each
// lane's marks form one 32-bit word of a bitmap in draw order:
// - candidates: the draws a jitter or spike modulus divides;
// - resets: the draws that, taken as a reset roll, clear the jitter.
// A run of quiet cells then costs a scan of the candidate bitmap, and only a
// candidate's draw is ever looked at.
//
// Any block can be made on its own (its lanes' first states are jumps from
// the frame's first state), so a helper thread may make blocks while the
// drawing thread uses the ones before them: each side claims the next block
// not yet claimed, and the drawing thread waits only for a block the helper
// is still making.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "console/random.h"
#include "metaballs/blob_field.h"
#include "metaballs/helper_gate.h"

namespace vornisk::draws_detail {

using random_detail::kIncrement;
using random_detail::kMultiplier;

// The generator's step taken n times, as one map s → a·s + c (mod 2^32).
struct Steps {
  std::uint32_t a = 1;
  std::uint32_t c = 0;
};

constexpr Steps stepsOf(std::uint64_t n) {
  Steps result;
  Steps power{kMultiplier, kIncrement};
  for (; n != 0; n >>= 1) {
    if ((n & 1) != 0) result = {power.a * result.a, power.a * result.c + power.c};
    power = {power.a * power.a, power.a * power.c + power.c};
  }
  return result;
}

constexpr int kLanes = 16;
constexpr int kRun = 32;  // consecutive draws per lane and block
constexpr std::size_t kBlock = kLanes * kRun;

// What a block of draws is marked for.
struct Marks {
  Marks() = default;
  Marks(std::uint32_t jitterModulus, std::uint32_t spikeModulus, std::uint32_t resetBelow);

  std::uint32_t jitterFactor = 0;  // drawDivisibilityFactor of the jitter modulus
  std::uint32_t spikeFactor = 0;   // and of the spike modulus
  std::uint32_t resetBelow = 0;    // a reset roll r = draw % 1000 clears the jitter when r < this
  std::uint32_t resetBound = 0;    // drawRemainderBound(resetBelow), when below 1000
  // A multiple of the jitter modulus: its candidates are the jitter's already.
  bool spikeAmongJitter = false;
  // How a reset roll is decided: every one clears; or only candidates clear
  // (so a quiet cell never does), worked out one by one; or one by one where
  // one in fifty or more clears (a jitter then lasts a few dozen cells at
  // most, and few rolls are looked at); or from the flags.
  enum class Resets { All, AmongCandidates, OneByOne, Flagged } resets = Resets::Flagged;
  // The resetBelow from which a reset roll is worked out when it is looked at.
  static constexpr std::uint32_t kOneByOneBelow = 20;
};

// Marks one block: `laneStates` hold the states that make each lane's first
// draw. The marks of draw 32·l + i go to bit i of candidates[l] and (when
// flagged) resets[l].
void fillBlock(const std::uint32_t* laneStates, const Marks& marks, std::uint32_t* candidates,
               std::uint32_t* resets);

// The generator's step taken i times, for the i-th draw of a lane's run.
struct RunSteps {
  Steps steps[kRun];
};
constexpr RunSteps runSteps() {
  RunSteps table;
  for (int i = 0; i < kRun; ++i)
    table.steps[i] = stepsOf(static_cast<std::uint64_t>(i));
  return table;
}
inline constexpr RunSteps kRunSteps = runSteps();

// From the frame's first state to each lane's first draw of a block: block b
// lane l makes draw 512·b + 32·l, one step past the state 512·b + 32·l steps on.
template <std::size_t Blocks>
struct BlockJumps {
  Steps toBlock[Blocks];
  Steps toLane[kLanes];
};
template <std::size_t Blocks>
constexpr BlockJumps<Blocks> blockJumps() {
  BlockJumps<Blocks> table;
  for (std::size_t b = 0; b < Blocks; ++b)
    table.toBlock[b] = stepsOf(b * kBlock);
  for (int l = 0; l < kLanes; ++l)
    table.toLane[l] = stepsOf(1 + static_cast<std::uint64_t>(l) * kRun);
  return table;
}

}  // namespace vornisk::draws_detail

namespace vornisk {

// The draws of one frame, made a block at a time as positions are asked for,
// enough for the most a frame of the wire net can take: one colour roll and
// fifteen rolls a cell (every jitter roll a hit).
class DrawsAhead {
  static constexpr std::size_t kBlock = draws_detail::kBlock;
  static constexpr std::size_t kMostDraws =
      1 + 15 * static_cast<std::size_t>(BlobField::kCells * BlobField::kCells * BlobField::kCells);
  static constexpr std::size_t kBlocks = (kMostDraws + kBlock - 1) / kBlock;
  // A frame takes at least its colour roll and nine rolls a cell: a helper
  // makes no block past those, which every frame uses.
  static constexpr std::size_t kSureBlocks =
      (1 + 9 * static_cast<std::size_t>(BlobField::kCells * BlobField::kCells * BlobField::kCells) +
       kBlock - 1) /
      kBlock;

 public:
  static constexpr std::size_t kCapacity = kBlocks * kBlock;

  // The drawing thread's side: start a frame's draws from the generator's
  // state, use them, finish. finish() returns once a helper has left.
  void start(std::uint32_t state, const draws_detail::Marks& marks) {
    start_ = state;
    marks_ = marks;
    filled_ = 0;
    // Blocks are stamped with the frame they were made for; stamps of 2^32
    // frames ago are cleared as the count comes round.
    if (++epoch_ == 0) {
      for (std::atomic<std::uint32_t>& stamp : made_)
        stamp.store(0, std::memory_order_relaxed);
      epoch_ = 1;
    }
    claimed_.store(0, std::memory_order_relaxed);
    gate_.open();
  }
  void finish() { gate_.close(); }
  // How many of the drawing thread's waits for the helper had to sleep.
  std::uint32_t lateWaits() const { return gate_.lateWaits(); }

  // The helper's side: whether blocks are left to make, and making them.
  bool helpWanted() const {
    return gate_.isOpen() && claimed_.load(std::memory_order_relaxed) < kSureBlocks;
  }
  void help() {
    gate_.enter([this] {
      for (std::size_t block; claim(kSureBlocks, block);) {
        make(block);
        gate_.pieceDone();
      }
    });
  }

  // The draw itself, made again from its lane's state at the start of its
  // block: draws are looked at only where their marks call for it.
  std::uint32_t at(std::size_t position) {
    reach(position + 1);
    const std::size_t offset = position % kBlock;
    const draws_detail::Steps& steps = draws_detail::kRunSteps.steps[offset % draws_detail::kRun];
    const std::uint32_t state =
        steps.a * blockStarts_[position / kBlock][offset / draws_detail::kRun] + steps.c;
    return (state >> 16) & random_detail::kLargestDraw;
  }
  bool candidate(std::size_t position) {
    reach(position + 1);
    return bit(candidates_, position);
  }
  // Whether the draw at `position`, taken as a reset roll, clears the jitter.
  bool resets(std::size_t position) {
    using Resets = draws_detail::Marks::Resets;
    switch (marks_.resets) {
      case Resets::All:
        return true;
      case Resets::AmongCandidates:
        if (!candidate(position)) return false;
        [[fallthrough]];
      case Resets::OneByOne:
        return at(position) % 1000 < marks_.resetBelow;
      case Resets::Flagged:
        break;
    }
    reach(position + 1);
    return bit(resets_, position);
  }
  // Whether only candidates can clear the jitter: then a stretch of draws
  // without a candidate holds no reset roll that clears it.
  bool onlyCandidatesReset() const {
    return marks_.resets == draws_detail::Marks::Resets::AmongCandidates;
  }
  // The first of `count` draws at `position`, `position` + `stride`, … that
  // resets, as its index 0..count − 1, or `count` if none does.
  std::size_t firstReset(std::size_t position, std::size_t stride, std::size_t count) {
    using Resets = draws_detail::Marks::Resets;
    if (count == 0 || marks_.resets == Resets::All) return 0;
    if (marks_.resets == Resets::OneByOne) {
      // One in fifty or more clears: the first comes within a few dozen.
      std::size_t index = 0;
      while (index < count && !resets(position + stride * index))
        ++index;
      return index;
    }
    // Clearing draws are rare where it matters: look for the marked ones (every
    // clearing draw is marked) and keep the first that falls on the stride.
    const std::uint32_t* marked = marks_.resets == Resets::Flagged ? resets_ : candidates_;
    const std::size_t end = position + stride * (count - 1) + 1;
    for (std::size_t p = nextSet(marked, position, end); p < end; p = nextSet(marked, p + 1, end)) {
      if ((p - position) % stride == 0 && resets(p)) return (p - position) / stride;
    }
    return count;
  }
  // The first candidate at or after `position`, or `limit` if none comes before it.
  std::size_t nextCandidate(std::size_t position, std::size_t limit) {
    return nextSet(candidates_, position, limit);
  }
  // The generator's state once `count` draws are taken.
  std::uint32_t stateAfter(std::size_t count) const {
    const draws_detail::Steps steps = draws_detail::stepsOf(count);
    return steps.a * start_ + steps.c;
  }

 private:
  // The first position at or after `position` whose bit is set, or `limit`.
  std::size_t nextSet(const std::uint32_t* bits, std::size_t position, std::size_t limit) {
    limit = limit < kCapacity ? limit : kCapacity;
    while (position < limit) {
      reach(position + 1);
      const std::uint32_t word = bits[position / 32] >> (position % 32);
      if (word != 0) {
        position += static_cast<std::size_t>(std::countr_zero(word));
        return position < limit ? position : limit;
      }
      position = (position / 32 + 1) * 32;
    }
    return limit;
  }
  static bool bit(const std::uint32_t* bits, std::size_t position) {
    return (bits[position / 32] >> (position % 32) & 1u) != 0;
  }
  // Makes the blocks up to the one holding draw count − 1: those not yet
  // claimed by either side here, and waits for the helper's. Looked at for
  // nearly every draw the frame uses, and nearly always already true: only
  // the test is inlined.
  void reach(std::size_t count) {
    if (count > filled_) [[unlikely]]
      reachBlocks(count);
  }
  [[gnu::noinline]] void reachBlocks(std::size_t count) {
    while (count > filled_ && filled_ < kCapacity) {
      const std::size_t block = filled_ / kBlock;
      if (made_[block].load(std::memory_order_acquire) == epoch_) {
        filled_ += kBlock;
      } else if (std::size_t mine; claim(kBlocks, mine)) {
        make(mine);
      } else {
        // Every block is claimed, and this one by the helper: wait for it.
        gate_.awaitHelper([&] { return made_[block].load(std::memory_order_acquire) == epoch_; });
      }
    }
  }
  // Takes the next block not yet claimed, if it lies below `limit`: a claim
  // that fails leaves the count as it is, so every block counted is made.
  bool claim(std::size_t limit, std::size_t& block) {
    block = claimed_.load(std::memory_order_relaxed);
    while (block < limit) {
      if (claimed_.compare_exchange_weak(block, block + 1, std::memory_order_relaxed)) return true;
    }
    return false;
  }
  // Block `block`'s marks and its lanes' first states, then its stamp.
  void make(std::size_t block) {
    std::uint32_t lanes[draws_detail::kLanes];
    const draws_detail::Steps& toBlock = kJumps.toBlock[block];
    const std::uint32_t blockState = toBlock.a * start_ + toBlock.c;
    for (int lane = 0; lane < draws_detail::kLanes; ++lane) {
      const draws_detail::Steps& toLane = kJumps.toLane[lane];
      lanes[lane] = toLane.a * blockState + toLane.c;
      blockStarts_[block][lane] = lanes[lane];
    }
    draws_detail::fillBlock(lanes, marks_, candidates_ + block * draws_detail::kLanes,
                            resets_ + block * draws_detail::kLanes);
    made_[block].store(epoch_, std::memory_order_release);
  }

  static constexpr draws_detail::BlockJumps<kBlocks> kJumps = draws_detail::blockJumps<kBlocks>();

  // Written by the drawing thread before the gate opens; read by both.
  std::uint32_t start_ = 0;
  draws_detail::Marks marks_{};
  std::uint32_t epoch_ = 0;  // which frame a block's stamp must name
  std::size_t filled_ = 0;   // the drawing thread's: blocks known to be made, in draws
  // Each block's marks and lanes, written by whichever side claimed it.
  std::uint32_t blockStarts_[kBlocks][draws_detail::kLanes] = {};
  std::uint32_t candidates_[kCapacity / 32] = {};
  std::uint32_t resets_[kCapacity / 32] = {};
  std::atomic<std::uint32_t> made_[kBlocks] = {};
  alignas(64) std::atomic<std::size_t> claimed_{0};
  HelperGate gate_;
};

}  // namespace vornisk
