// SPDX-License-Identifier: MIT
#include "synth/sample.hpp"

#include <cassert>
#include <cmath>
#include <cstdint>

#include "base/exact_arithmetic.hpp"

namespace tuvello::synth {

namespace exact = base::exact;

namespace {

// Unsigned fixed-size integers in 32-bit words, least significant first.
template <int N>
struct Words {
  std::uint32_t w[N] = {};
};

template <int N, int M>
Words<N + M> multiply(const Words<N>& a, const Words<M>& b) {
  Words<N + M> r;
  for (int i = 0; i < N; ++i) {
    std::uint64_t carry = 0;
    for (int j = 0; j < M; ++j) {
      const std::uint64_t t = std::uint64_t{a.w[i]} * b.w[j] + r.w[i + j] + carry;
      r.w[i + j] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    r.w[i + M] = static_cast<std::uint32_t>(carry);
  }
  return r;
}

// The K words of x / 2^bits, truncated.
template <int K, int N>
Words<K> shift_right(const Words<N>& x, int bits) {
  Words<K> r;
  const int whole = bits / 32, part = bits % 32;
  for (int i = 0; i < K; ++i) {
    const int j = i + whole;
    std::uint64_t v = j < N ? x.w[j] : 0;
    if (j + 1 < N) v |= std::uint64_t{x.w[j + 1]} << 32;
    r.w[i] = static_cast<std::uint32_t>(v >> part);
  }
  return r;
}

template <int N>
void divide(Words<N>& x, std::uint32_t d) {
  std::uint64_t rest = 0;
  for (int i = N - 1; i >= 0; --i) {
    const std::uint64_t v = rest << 32 | x.w[i];
    x.w[i] = static_cast<std::uint32_t>(v / d);
    rest = v % d;
  }
}

template <int N>
void add(Words<N>& x, const Words<N>& y) {
  std::uint64_t carry = 0;
  for (int i = 0; i < N; ++i) {
    const std::uint64_t t = std::uint64_t{x.w[i]} + y.w[i] + carry;
    x.w[i] = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
}

template <int N>
Words<N> difference(const Words<N>& x, const Words<N>& y) {  // x >= y
  Words<N> r;
  std::int64_t borrow = 0;
  for (int i = 0; i < N; ++i) {
    const std::int64_t t = std::int64_t{x.w[i]} - y.w[i] - borrow;
    r.w[i] = static_cast<std::uint32_t>(t);
    borrow = t < 0;
  }
  return r;
}

template <int N>
bool is_zero(const Words<N>& x) {
  for (const std::uint32_t v : x.w) {
    if (v != 0) return false;
  }
  return true;
}

// 13176795 / (2^21 × 2π × 44100), turns per frame per hertz with 2π rounded
// to a float, × 2^207, rounded: relative error below 2^-192.
constexpr Words<6> kTurnsPerHertz{
    {0xad40f65c, 0x171c6eac, 0x9cc2c05d, 0x1feccd7e, 0x5e127b04, 0xbe37c693}};
constexpr int kTurnsPerHertzShift = 207;
// π/2 × 2^128, rounded.
constexpr Words<5> kHalfPi{{0x701b839a, 0x9898cc51, 0x442d1846, 0x921fb544, 0x1}};

// Frame n's phase as a fraction of a turn, × 2^128: within 1.1 units of the
// exact one (truncation, and the constant's error times f × n, far below one
// unit for any tone).
Words<4> turn_fraction(double f, std::int32_t n) {
  const exact::Binary b = exact::binary_of(f);
  const exact::U128 fn = exact::multiply(b.significand, static_cast<std::uint64_t>(n));
  const Words<3> cycles{{static_cast<std::uint32_t>(fn.low),
                         static_cast<std::uint32_t>(fn.low >> 32),
                         static_cast<std::uint32_t>(fn.high)}};
  const int shift = kTurnsPerHertzShift - 128 - b.exponent;
  assert(shift > 0);
  return shift_right<4>(multiply(cycles, kTurnsPerHertz), shift);
}

// sin x (odd) or cos x (even) for x in [0, π/2], both with 128 fraction bits
// (and whole bits above), by Taylor series: every term is truncated twice,
// by 2^-128 each time, and at most 35 terms give an error below 2^-121.
Words<5> series(const Words<5>& x, bool odd) {
  const Words<5> x2 = shift_right<5>(multiply(x, x), 128);
  Words<5> term;
  if (odd) {
    term = x;
  } else {
    term.w[4] = 1;
  }
  // Partial sums of the cosine can dip below zero: sum each sign apart.
  Words<5> plus = term, minus;
  for (std::uint32_t k = 1; !is_zero(term); ++k) {
    term = shift_right<5>(multiply(term, x2), 128);
    divide(term, odd ? 2 * k * (2 * k + 1) : (2 * k - 1) * (2 * k));
    add(k % 2 == 1 ? minus : plus, term);
  }
  return difference(plus, minus);
}

// sin 2πt = ±sin x or ±cos x with x = 2π × (t's place in its quarter turn):
// t's top two bits give the quarter.
struct Quarter {
  bool negative;
  bool cosine;
  Words<4> place;  // a fraction of the quarter turn, × 2^128
};

Quarter quarter_of(const Words<4>& t) {
  const std::uint32_t q = t.w[3] >> 30;
  return {q >= 2, (q & 1) != 0,
          shift_right<4>(Words<5>{{0, t.w[0], t.w[1], t.w[2], t.w[3] & 0x3FFFFFFF}}, 30)};
}

}  // namespace

std::int32_t exact_sample(double f, std::int32_t n, std::int32_t amplitude) {
  assert(f > 0.0 && n > 0 && amplitude >= 0);
  if (amplitude == 0) return 0;
  const Quarter q = quarter_of(turn_fraction(f, n));

  // First in double precision. R = the place's top 64 bits; x = R × π/2 / 2^64 is
  // within 3 roundings of 2^-53 relative (converting R, the constant, the
  // product) plus R's own truncation, so within 5.3e-16 rad; the target's sin
  // and cos are within 2 units of 2^-53, 2.2e-16; A × the sine rounds once
  // more, A × 2^-53. So y is within A × 8.6e-16 < A × 2^-50 of A × sin, at any
  // evaluation width, and rounds to the right integer unless it lies within
  // that distance of a half-integer.
  const std::uint64_t top = std::uint64_t{q.place.w[3]} << 32 | q.place.w[2];
  const double x = static_cast<double>(top) * 0x1.921fb54442d18p-64;  // π/2 / 2^64
  const double sine = q.cosine ? std::cos(x) : std::sin(x);
  const double y = amplitude * (q.negative ? -sine : sine);
  const double nearest = std::nearbyint(y);
  if (std::fabs(y - nearest) < 0.5 - amplitude * 0x1p-50) {
    return static_cast<std::int32_t>(nearest);
  }

  return sample_in_fixed_point(f, n, amplitude);
}

std::int32_t sample_in_fixed_point(double f, std::int32_t n, std::int32_t amplitude) {
  assert(f > 0.0 && n > 0 && amplitude >= 0);
  if (amplitude == 0) return 0;
  const Quarter q = quarter_of(turn_fraction(f, n));
  // With 128 fraction bits: the place is within 2^-125 of the exact one,
  // x = place × π/2 (truncated) within 2^-123 of the exact angle, and the
  // series adds below 2^-121, so A × sin comes within A × 2^-120 < 2^-89 of
  // the exact product. That decides every sample not within 2^-89 of a
  // half-integer; none is exactly one (the sine of a nonzero rational is
  // transcendental), and debug builds assert that none comes within 2^-56.
  const Words<5> x = shift_right<5>(multiply(q.place, kHalfPi), 128);
  const Words<5> s = series(x, !q.cosine);
  const Words<6> product = multiply(s, Words<1>{{static_cast<std::uint32_t>(amplitude)}});
  // product = integer part (words 4, 5) and a 128-bit fraction (words 0-3).
  std::uint64_t whole = std::uint64_t{product.w[5]} << 32 | product.w[4];
  const bool above_half = (product.w[3] & 0x80000000u) != 0;
  assert(!(product.w[3] == 0x80000000u && product.w[2] < 0x100) &&
         !(product.w[3] == 0x7FFFFFFFu && product.w[2] > 0xFFFFFF00u));
  whole += above_half;
  const auto value = static_cast<std::int32_t>(whole);
  return q.negative ? -value : value;
}

}  // namespace tuvello::synth
