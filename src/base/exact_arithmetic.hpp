// SPDX-License-Identifier: MIT
// Integer arithmetic for the note block's numbers, so that every rounding is
// the one written here and none depends on how wide the target evaluates
// float, double or long double (x87 keeps doubles in 80-bit registers and
// rounds them whenever it spills; long double is 80-bit on x86 but 128-bit
// elsewhere). Only 64-bit integers are used: 32-bit x86 has no wider ones.
#pragma once

#include <bit>
#include <cassert>
#include <cstdint>

namespace tuvello::base::exact {

// A positive binary number: significand × 2^exponent.
struct Binary {
  std::uint64_t significand = 0;
  int exponent = 0;
};

// The exact value of a finite, positive, normal double or float.
constexpr Binary binary_of(double d) {
  const auto bits = std::bit_cast<std::uint64_t>(d);
  const int biased = static_cast<int>(bits >> 52) & 0x7FF;
  assert(d > 0.0 && biased != 0 && biased != 0x7FF);
  return {(bits & ((std::uint64_t{1} << 52) - 1)) | std::uint64_t{1} << 52, biased - 1075};
}

constexpr Binary binary_of(float f) {
  const auto bits = std::bit_cast<std::uint32_t>(f);
  const int biased = static_cast<int>(bits >> 23) & 0xFF;
  assert(f > 0.0f && biased != 0 && biased != 0xFF);
  return {(bits & ((std::uint32_t{1} << 23) - 1)) | std::uint32_t{1} << 23, biased - 150};
}

// An unsigned 128-bit integer from two 64-bit halves.
struct U128 {
  std::uint64_t high = 0;
  std::uint64_t low = 0;

  friend constexpr bool operator==(const U128&, const U128&) = default;
  friend constexpr bool operator<(const U128& a, const U128& b) {
    return a.high != b.high ? a.high < b.high : a.low < b.low;
  }
  friend constexpr U128 operator-(const U128& a, const U128& b) {
    return {a.high - b.high - (a.low < b.low), a.low - b.low};
  }
  friend constexpr U128 operator+(const U128& a, const U128& b) {
    const std::uint64_t low = a.low + b.low;
    return {a.high + b.high + (low < a.low), low};
  }
};

// a × b, exactly, from 32-bit halves.
constexpr U128 multiply(std::uint64_t a, std::uint64_t b) {
  const std::uint64_t a0 = a & 0xFFFFFFFF, a1 = a >> 32, b0 = b & 0xFFFFFFFF, b1 = b >> 32;
  const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFF) + (p10 & 0xFFFFFFFF);
  return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & 0xFFFFFFFF)};
}

constexpr U128 shift_left(const U128& x, int s) {
  assert(0 <= s && s < 128);
  if (s == 0) return x;
  if (s >= 64) return {x.low << (s - 64), 0};
  return {(x.high << s) | (x.low >> (64 - s)), x.low << s};
}

constexpr U128 shift_right(const U128& x, int s) {
  assert(0 <= s && s < 128);
  if (s == 0) return x;
  if (s >= 64) return {0, x.high >> (s - 64)};
  return {x.high >> s, (x.low >> s) | (x.high << (64 - s))};
}

// x / 2^s rounded to nearest, ties to even; the result must fit 64 bits.
constexpr std::uint64_t round_shift(const U128& x, int s) {
  assert(0 < s && s < 128);
  const U128 whole = shift_right(x, s);
  assert(whole.high == 0);
  const U128 rest = x - shift_left(whole, s);
  const U128 half = shift_left(U128{0, 1}, s - 1);
  const bool up = half < rest || (rest == half && (whole.low & 1) != 0);
  return whole.low + up;
}

// numerator / denominator rounded to `bits` significant bits (53 for a
// double, 24 for a float), to nearest with ties to even: long division in
// 32-bit steps keeps every remainder below 2^64. Used to build tables and
// once per call, never per note.
constexpr Binary divide_to_bits(std::uint64_t numerator, std::uint32_t denominator, int bits) {
  assert(numerator > 0 && denominator > 0 && bits > 0 && bits <= 53);
  // Scale so that the quotient lies in [2^(bits-1), 2^bits).
  const int estimate = bits - 1 + std::bit_width(denominator) - std::bit_width(numerator);
  assert(estimate >= 0 && estimate < 64);
  const U128 low_end = shift_left(U128{0, denominator}, bits - 1);
  int s = estimate;
  if (shift_left(U128{0, numerator}, s) < low_end) ++s;
  const U128 n = shift_left(U128{0, numerator}, s);
  const std::uint64_t words[4] = {n.high >> 32, n.high & 0xFFFFFFFF, n.low >> 32,
                                  n.low & 0xFFFFFFFF};
  std::uint64_t quotient = 0, remainder = 0;
  for (const std::uint64_t w : words) {
    const std::uint64_t part = remainder << 32 | w;
    quotient = quotient << 32 | part / denominator;
    remainder = part % denominator;
  }
  const bool up = 2 * remainder > denominator || (2 * remainder == denominator && (quotient & 1));
  return {quotient + up, -s};  // 2^bits after rounding up is still exact
}

// The double significand × 2^exponent, which must be one: at most 53
// significant bits, in the normal range.
constexpr double double_of(Binary b) {
  while (b.significand >= std::uint64_t{1} << 53) {
    assert((b.significand & 1) == 0);
    b.significand >>= 1;
    ++b.exponent;
  }
  while (b.significand < std::uint64_t{1} << 52) {
    b.significand <<= 1;
    --b.exponent;
  }
  assert(b.exponent + 1075 > 0 && b.exponent + 1075 < 0x7FF);
  const auto biased = static_cast<std::uint64_t>(b.exponent + 1075);
  return std::bit_cast<double>(biased << 52 | (b.significand & ((std::uint64_t{1} << 52) - 1)));
}

// The same for a float: at most 24 significant bits.
constexpr float float_of(Binary b) {
  while (b.significand >= std::uint64_t{1} << 24) {
    assert((b.significand & 1) == 0);
    b.significand >>= 1;
    ++b.exponent;
  }
  while (b.significand < std::uint64_t{1} << 23) {
    b.significand <<= 1;
    --b.exponent;
  }
  assert(b.exponent + 150 > 0 && b.exponent + 150 < 0xFF);
  const auto biased = static_cast<std::uint32_t>(b.exponent + 150);
  return std::bit_cast<float>(biased << 23 |
                              (static_cast<std::uint32_t>(b.significand) & ((1u << 23) - 1)));
}

// b rounded to `bits` significant bits, to nearest with ties to even.
constexpr Binary round_to_bits(Binary b, int bits) {
  const int excess = std::bit_width(b.significand) - bits;
  if (excess <= 0) return b;
  return {round_shift(U128{0, b.significand}, excess), b.exponent + excess};
}

// numerator / denominator × 2^exponent rounded to a float, to nearest with
// ties to even, bit by bit; both below 2^100, the quotient in a float's
// normal range.
inline float divide_to_float(U128 numerator, U128 denominator, int exponent) {
  assert(!(numerator == U128{}) && !(denominator == U128{}));
  while (numerator < denominator) {
    numerator = shift_left(numerator, 1);
    --exponent;
  }
  while (!(numerator < shift_left(denominator, 1))) {
    denominator = shift_left(denominator, 1);
    ++exponent;
  }
  // numerator / denominator is in [1, 2): 24 quotient bits, then the
  // remainder tells the rounding.
  std::uint64_t q = 0;
  for (int i = 0; i < 24; ++i) {
    q <<= 1;
    if (!(numerator < denominator)) {
      numerator = numerator - denominator;
      q |= 1;
    }
    numerator = shift_left(numerator, 1);
  }
  // numerator is now twice the remainder.
  q += denominator < numerator || (numerator == denominator && (q & 1) != 0);
  return float_of({q, exponent - 23});
}

}  // namespace tuvello::base::exact
