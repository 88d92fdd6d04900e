// The generator's draws for one frame of the wire net, made ahead in blocks.
//
// A frame makes some 31,000 draws, nearly all of them misses that change
// nothing, in cells nearly all of which have no contour. The draws are made in
// blocks on 16 lanes (lane l yields every 16th draw, by the generator's step
// applied 16 times). Each is marked as a candidate when a jitter or spike
// modulus divides it, and flagged when, taken as a reset roll, it would clear
// the jitter. A run of quiet cells then costs nothing beyond its position in
// the block, and only a candidate is ever divided.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "shell/random.h"

namespace vornisk::draws_detail {

constexpr std::uint32_t kMultiplier = 214013u;
constexpr std::uint32_t kIncrement = 2531011u;

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
constexpr std::size_t kChunk = 512;
constexpr std::uint16_t kCandidateMark = 0x8000;

// What a block of draws is marked for.
struct Marks {
  std::uint32_t jitterFactor;  // drawDivisibilityFactor of the jitter modulus
  std::uint32_t spikeFactor;   // and of the spike modulus
  std::uint32_t resetBelow;    // a reset roll r = draw % 1000 clears the jitter when r < this
};

// Fills `count` (a multiple of 16) draws and reset flags from the 16 lane states.
void fillDraws(std::uint32_t* laneStates, Steps lanesStep, const Marks& marks, std::uint16_t* draws,
               std::uint8_t* resets, std::size_t count);

}  // namespace vornisk::draws_detail

namespace vornisk {

// The draws of one frame, made a chunk at a time as positions are asked for.
// `Capacity` bounds the draws a frame can take.
template <std::size_t Capacity>
class DrawsAhead {
 public:
  static constexpr std::size_t kCapacity =
      (Capacity + draws_detail::kChunk - 1) / draws_detail::kChunk * draws_detail::kChunk;

  void start(std::uint32_t state, const draws_detail::Marks& marks) {
    start_ = state;
    for (std::uint32_t& lane : lanes_) {
      state = state * draws_detail::kMultiplier + draws_detail::kIncrement;
      lane = state;
    }
    marks_ = marks;
    filled_ = 0;
  }
  std::uint32_t at(std::size_t position) {
    reach(position + 1);
    return draws_[position] & ~draws_detail::kCandidateMark;
  }
  bool candidate(std::size_t position) {
    reach(position + 1);
    return (draws_[position] & draws_detail::kCandidateMark) != 0;
  }
  // Whether the draw at `position`, taken as a reset roll, clears the jitter.
  bool resets(std::size_t position) {
    reach(position + 1);
    return resets_[position] != 0;
  }
  // The first of `count` draws at `position`, `position` + `stride`, … that
  // resets, as its index 0..count − 1, or `count` if none does.
  std::size_t firstReset(std::size_t position, std::size_t stride, std::size_t count) {
    if (count == 0) return 0;
    reach(position + stride * (count - 1) + 1);
    for (std::size_t i = 0; i < count; ++i, position += stride) {
      if (resets_[position] != 0) return i;
    }
    return count;
  }
  // The first candidate at or after `position`, or `limit` if none comes before it.
  std::size_t nextCandidate(std::size_t position, std::size_t limit) {
    using draws_detail::kLanes;
    limit = std::min(limit, kCapacity);
    while (position < limit) {
      reach(position + 1);
      // Within the group holding `position`, if the group has any candidate.
      const std::size_t group = position / kLanes;
      if ((groups_[group / 64] >> (group % 64) & 1) != 0) {
        for (const std::size_t end = (group + 1) * kLanes; position < end; ++position) {
          if ((draws_[position] & draws_detail::kCandidateMark) != 0) {
            return std::min(position, limit);
          }
        }
      }
      // Then whole groups, 64 at a time, as far as the draws are made.
      std::size_t next = group + 1;
      const std::size_t filledGroups = filled_ / kLanes;
      while (next < filledGroups) {
        const std::uint64_t bits = groups_[next / 64] >> (next % 64);
        if (bits != 0) {
          next += static_cast<std::size_t>(std::countr_zero(bits));
          break;
        }
        next = (next / 64 + 1) * 64;
      }
      position = std::min(next, filledGroups) * kLanes;
    }
    return limit;
  }
  // The generator's state once `count` draws are taken.
  std::uint32_t stateAfter(std::size_t count) const {
    const draws_detail::Steps steps = draws_detail::stepsOf(count);
    return steps.a * start_ + steps.c;
  }

 private:
  void reach(std::size_t count) {
    if (count > filled_) [[unlikely]]
      fill(count);
  }
  void fill(std::size_t count) {
    using draws_detail::kChunk;
    using draws_detail::kLanes;
    while (filled_ < count && filled_ < kCapacity) {
      draws_detail::fillDraws(lanes_, kLanesStep, marks_, draws_ + filled_, resets_ + filled_,
                              kChunk);
      // One bit per group of 16 draws: whether any of them is a candidate.
      for (std::size_t group = filled_ / kLanes; group < (filled_ + kChunk) / kLanes; ++group) {
        std::uint64_t marks = 0;
        for (int word = 0; word < 4; ++word) {
          std::uint64_t four;
          std::memcpy(&four, draws_ + group * kLanes + 4 * word, sizeof four);
          marks |= four;
        }
        const std::uint64_t bit = std::uint64_t{1} << (group % 64);
        if ((marks & 0x8000800080008000u) != 0) {
          groups_[group / 64] |= bit;
        } else {
          groups_[group / 64] &= ~bit;
        }
      }
      filled_ += kChunk;
    }
  }

  static constexpr draws_detail::Steps kLanesStep = draws_detail::stepsOf(draws_detail::kLanes);
  std::uint32_t start_ = 0;
  std::uint32_t lanes_[draws_detail::kLanes] = {};
  draws_detail::Marks marks_{};
  std::size_t filled_ = 0;
  // Each draw in 16 bits with its candidate mark in the top bit.
  std::uint16_t draws_[kCapacity] = {};
  std::uint8_t resets_[kCapacity] = {};
  std::uint64_t groups_[(kCapacity / draws_detail::kLanes + 63) / 64] = {};
};

}  // namespace vornisk
