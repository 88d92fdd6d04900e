// The wide path of portableSin and portableCos, for every finite argument and
// for the few the quick path cannot round: the argument times 2/pi to 256 bits
// past the point (Payne and Hanek's reduction), the wave of the reduced
// argument summed as a fixed-point series, and the result rounded twice from
// some 190 correct bits. Integer arithmetic only.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "geometry/trig_detail.h"

namespace vornisk::trig {
namespace {

#include "geometry/trig_tables.inc"

constexpr int kWords = 9;  // eight fraction words and the whole word

// A fixed-point number: word[0] counts units of 2^-256, word[8] whole units.
struct Fixed {
  std::uint32_t word[kWords] = {};
};

// a·b, truncated to 2^-256 (the whole part must stay below 2^32).
Fixed multiply(const Fixed& a, const Fixed& b) {
  std::uint32_t product[2 * kWords] = {};
  for (int i = 0; i < kWords; ++i) {
    std::uint64_t carry = 0;
    for (int j = 0; j < kWords; ++j) {
      const std::uint64_t sum = std::uint64_t{a.word[i]} * b.word[j] + product[i + j] + carry;
      product[i + j] = static_cast<std::uint32_t>(sum);
      carry = sum >> 32;
    }
    product[i + kWords] = static_cast<std::uint32_t>(carry);
  }
  // product[k] counts units of 2^(32 (k - 16)).
  Fixed result;
  std::copy(product + kWords - 1, product + 2 * kWords - 1, result.word);
  return result;
}

void divide(Fixed& a, std::uint32_t divisor) {
  std::uint64_t remainder = 0;
  for (int i = kWords - 1; i >= 0; --i) {
    const std::uint64_t current = (remainder << 32) | a.word[i];
    a.word[i] = static_cast<std::uint32_t>(current / divisor);
    remainder = current % divisor;
  }
}

// a ± b; the sum must stay within 0 ≤ a < 2^32.
void addOrSubtract(Fixed& a, const Fixed& b, bool subtract) {
  std::uint64_t carry = 0;
  for (int i = 0; i < kWords; ++i) {
    const std::uint64_t sum = subtract ? std::uint64_t{a.word[i]} - b.word[i] - carry
                                       : std::uint64_t{a.word[i]} + b.word[i] + carry;
    a.word[i] = static_cast<std::uint32_t>(sum);
    carry = (sum >> 32) & 1u;
  }
}

bool isZero(const Fixed& a) {
  return std::all_of(a.word, a.word + kWords, [](std::uint32_t w) { return w == 0; });
}

// sin r or cos r for 0 ≤ r < 1 by their series. Every product and quotient
// truncates by less than 2^-256 and the terms fall at least tenfold each, so
// the sum is within 2^-250 of the true value when r is within 2^-254.
Fixed series(const Fixed& r, Wave wave) {
  const Fixed square = multiply(r, r);
  Fixed term = r;
  if (wave == Wave::Cosine) {
    term = Fixed{};
    term.word[kWords - 1] = 1;
  }
  Fixed sum = term;
  bool subtract = true;
  for (std::uint32_t n = wave == Wave::Sine ? 2 : 1;; n += 2) {
    term = multiply(term, square);
    divide(term, n * (n + 1));
    if (isZero(term)) break;
    addOrSubtract(sum, term, subtract);
    subtract = !subtract;
  }
  return sum;
}

// The 32 bits of a little-endian multi-word integer from bit `position` up.
std::uint32_t bitsAt(const std::uint32_t* words, int position) {
  const int word = position / 32;
  const int shift = position % 32;
  if (shift == 0) return words[word];
  return static_cast<std::uint32_t>((words[word] >> shift) |
                                    (std::uint64_t{words[word + 1]} << (32 - shift)));
}

// `magnitude` (normal, positive) times 2/pi, modulo 4: the whole part 0..3 in
// word[8] and the fraction to within 2^-298 below it. With magnitude = m·2^e
// (m an integer below 2^53), a word of 2/pi weighing 2^(-32 i) adds
// m·word·2^(e - 32 i), a multiple of 4 when e - 32 i ≥ 2; so only twelve words
// from the first with e - 32 i < 2 on count, and the words after them add less
// than m·2^(e - 32 (i + 11)) ≤ 2^-298.
Fixed timesTwoOverPi(double magnitude) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &magnitude, sizeof bits);
  const std::uint64_t m = (bits & 0xFFFFFFFFFFFFFu) | (std::uint64_t{1} << 52);
  const int e = static_cast<int>(bits >> 52) - 1075;
  constexpr int kWindow = 12;
  // The first word index i (1-based) with e - 32 i < 2: floor((e - 2) / 32) + 1.
  // Words before the first (for small magnitudes) are zeros.
  const int first = (e - 2 >= 0 ? (e - 2) / 32 : -((33 - e) / 32)) + 1;
  std::uint32_t window[kWindow];  // little-endian: window[0] is word first + 11
  for (int t = 0; t < kWindow; ++t) {
    const int index = first + kWindow - 1 - t;
    window[t] = index >= 1 ? kTwoOverPiWords[index - 1] : 0u;
  }
  std::uint32_t product[kWindow + 2] = {};
  const std::uint32_t mParts[2] = {static_cast<std::uint32_t>(m),
                                   static_cast<std::uint32_t>(m >> 32)};
  for (int i = 0; i < 2; ++i) {
    std::uint64_t carry = 0;
    for (int t = 0; t < kWindow; ++t) {
      const std::uint64_t sum = std::uint64_t{mParts[i]} * window[t] + product[i + t] + carry;
      product[i + t] = static_cast<std::uint32_t>(sum);
      carry = sum >> 32;
    }
    product[i + kWindow] = static_cast<std::uint32_t>(carry);
  }
  // The product counts units of 2^-point, point 351..382: 448 bits hold it.
  const int point = 32 * (first + kWindow - 1) - e;
  Fixed y;
  y.word[kWords - 1] = bitsAt(product, point) & 3u;
  for (int w = 0; w < kWords - 1; ++w)
    y.word[w] = bitsAt(product, point - 32 * (kWords - 1 - w));
  return y;
}

Fixed halfPi() {
  Fixed value;
  for (int i = 0; i < kWords; ++i)
    value.word[kWords - 1 - i] = kHalfPiFixed[i];
  return value;
}

// The value of a 288-bit integer's bit `position`.
bool bitAt(const Fixed& a, int position) {
  return ((a.word[position / 32] >> (position % 32)) & 1u) != 0;
}

bool anyBitBelow(const Fixed& a, int position) {
  for (int w = 0; w < position / 32; ++w)
    if (a.word[w] != 0) return true;
  const int shift = position % 32;
  return shift != 0 && (a.word[position / 32] & ((std::uint32_t{1} << shift) - 1u)) != 0;
}

// `value` (in 2^-256 .. 1, within 2^-248) rounded to 64 significant bits and
// then to 53. No double lies nearer a multiple of pi/2 than 2^-60.9 (the
// nearest, 6381956970095103·2^797, is one of the tests' cases), so the value
// is above 2^-62 and its bits below the 64th are known to 2^-122 of that bit:
// a true value nearer than that to where a rounding changes (about one in
// 2^120) would be rounded as its computed bits say, the same on every
// platform.
Rounding roundFixed(const Fixed& value) {
  int top = 32 * kWords - 1;
  while (top > 64 && !bitAt(value, top))
    --top;
  std::uint64_t significand =
      (std::uint64_t{bitsAt(value.word, top - 31)} << 32) | bitsAt(value.word, top - 63);
  const std::uint64_t truncated = significand;
  if (bitAt(value, top - 64) && (anyBitBelow(value, top - 64) || (significand & 1u) != 0)) {
    if (++significand == 0) {
      significand = std::uint64_t{1} << 63;
      ++top;
    }
  }
  const unsigned low = static_cast<unsigned>(significand & 0x7FFu);
  std::uint64_t rounded = significand >> 11;
  if (low > 0x400u || (low == 0x400u && (rounded & 1u) != 0)) ++rounded;
  // Units of 2^(top - 52 - 256); 2^53 is exact, too.
  const int exponent = top - 52 - 256;
  const unsigned truncatedLow = static_cast<unsigned>(truncated & 0x7FFu);
  const std::uint64_t below = truncated >> 11;
  Rounding result;
  result.value = std::ldexp(static_cast<double>(rounded), exponent);
  result.other = std::ldexp(static_cast<double>(rounded == below ? below + 1 : below), exponent);
  result.nearMidpoint = truncatedLow >= 0x3FEu && truncatedLow <= 0x401u;
  return result;
}

}  // namespace

Rounding roundWidely(double x, Wave wave) {
  Fixed y = timesTwoOverPi(std::fabs(x));
  unsigned quadrant = y.word[kWords - 1];
  y.word[kWords - 1] = 0;
  // Past half a quarter turn, reduce from the next multiple of pi/2: r < 0.
  const bool negativeReduced = (y.word[kWords - 2] >> 31) != 0;
  if (negativeReduced) {
    ++quadrant;
    std::uint64_t carry = 1;
    for (int w = 0; w < kWords - 1; ++w) {
      const std::uint64_t sum = std::uint64_t{~y.word[w]} + carry;
      y.word[w] = static_cast<std::uint32_t>(sum);
      carry = sum >> 32;
    }
  }
  const Fixed r = multiply(y, halfPi());
  // The wave of x = ±sin r or ±cos r by the quarter turns, with sin(-r) = -sin r.
  const unsigned turn = (quadrant + (wave == Wave::Cosine ? 1u : 0u)) & 3u;
  const Wave reducedWave = (turn & 1u) != 0 ? Wave::Cosine : Wave::Sine;
  bool negative = (turn & 2u) != 0;
  if (reducedWave == Wave::Sine && negativeReduced) negative = !negative;
  if (wave == Wave::Sine && x < 0) negative = !negative;
  Rounding result = roundFixed(series(r, reducedWave));
  if (negative) {
    result.value = -result.value;
    result.other = -result.other;
  }
  return result;
}

}  // namespace vornisk::trig
