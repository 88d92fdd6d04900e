// Maths for the data generator that gives the same bits on every machine: only
// + − × ÷ and sqrt (all correctly rounded in IEEE arithmetic, and the build
// forbids contraction into FMA), never the C library's sin/exp/pow, whose last
// bits differ between library versions. Precision is what pictures and sound
// need, not more.
#pragma once

#include <cstdint>

namespace datagen {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kLn2 = 0.69314718055994530942;

// sin(2π·cycles) for any cycles; error below 1e-7.
inline double sineOfCycles(double cycles) {
  // Reduce to t in [−0.5, 0.5) cycles, then fold to [−0.25, 0.25].
  const double whole = static_cast<double>(static_cast<std::int64_t>(cycles));
  double t = cycles - whole;
  if (t >= 0.5) t -= 1.0;
  if (t < -0.5) t += 1.0;
  if (t > 0.25) t = 0.5 - t;
  if (t < -0.25) t = -0.5 - t;
  const double x = t * (2.0 * kPi);
  const double x2 = x * x;
  // Taylor series to x^13 on |x| ≤ π/2, evaluated from the small end.
  double sum = 1.0 / 6227020800.0;
  sum = sum * x2 - 1.0 / 39916800.0;
  sum = sum * x2 + 1.0 / 362880.0;
  sum = sum * x2 - 1.0 / 5040.0;
  sum = sum * x2 + 1.0 / 120.0;
  sum = sum * x2 - 1.0 / 6.0;
  sum = sum * x2 + 1.0;
  return sum * x;
}

// e^x for |x| up to a few hundred; relative error below 1e-12.
inline double exponential(double x) {
  if (x < -700.0) return 0.0;
  // e^x = (e^(x/2^k))^(2^k) with x/2^k small enough for a short series.
  int halvings = 0;
  double reduced = x;
  while (reduced > 0.125 || reduced < -0.125) {
    reduced *= 0.5;
    ++halvings;
  }
  double term = 1.0;
  double sum = 1.0;
  for (int n = 1; n <= 12; ++n) {
    term = term * reduced / n;
    sum += term;
  }
  for (int i = 0; i < halvings; ++i)
    sum *= sum;
  return sum;
}

inline double powerOfTwo(double x) {
  return exponential(x * kLn2);
}

// The frequency of a MIDI note number (A4 = 69 = 440 Hz).
inline double noteHz(double midiNote) {
  return 440.0 * powerOfTwo((midiNote - 69.0) / 12.0);
}

// A small xorshift generator: the same sequence everywhere.
class Noise {
 public:
  explicit Noise(std::uint32_t seed) : state_(seed != 0 ? seed : 0x9E3779B9u) {}
  std::uint32_t nextWord() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  // Uniform in [−1, 1).
  double nextSigned() { return static_cast<double>(nextWord()) / 2147483648.0 - 1.0; }
  // Uniform in [0, 1).
  double nextUnit() { return static_cast<double>(nextWord()) / 4294967296.0; }

 private:
  std::uint32_t state_;
};

inline double clamp01(double v) {
  return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}
inline double mix(double a, double b, double t) {
  return a + (b - a) * t;
}
inline double smoothStep(double edge0, double edge1, double x) {
  const double t = clamp01((x - edge0) / (edge1 - edge0));
  return t * t * (3.0 - 2.0 * t);
}

}  // namespace datagen
