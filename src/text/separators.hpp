// SPDX-License-Identifier: MIT
// Finding the ";" between commands 64 bytes at a time: a mask with one bit
// per byte, so that a walk steps from separator to separator with a count of
// trailing zeros instead of looking at every byte. Vector compares where the
// processor has them, eight bytes to a word elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__AVX2__)
#include <immintrin.h>
#endif
#if defined(__ARM_NEON) && defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace tuvello::text::separators {

inline constexpr std::size_t kBlock = 64;

// The eight bytes at p as one word, first byte lowest.
inline std::uint64_t load_word(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  return w;
}

inline constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
inline constexpr std::uint64_t kHigh = 0x8080808080808080ull;

// The top bit of every byte of w that equals `byte`, and no other bit.
inline constexpr std::uint64_t bytes_equal(std::uint64_t w, unsigned char byte) {
  const std::uint64_t v = w ^ (0x0101010101010101ull * byte);
  return ~(((v & kLow7) + kLow7) | v | kLow7);
}

// One bit per byte from the top bits of a word's bytes: bit i for byte i.
inline constexpr std::uint64_t gather_bits(std::uint64_t high_bits) {
  return ((high_bits >> 7) * 0x0102040810204080ull) >> 56;
}

// Bit i set where p[i] == ';', for the 64 bytes at p.
inline std::uint64_t mask64(const char* p) {
#if defined(__AVX2__)
  const __m256i semi = _mm256_set1_epi8(';');
  const auto lo = static_cast<std::uint32_t>(_mm256_movemask_epi8(
      _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), semi)));
  const auto hi = static_cast<std::uint32_t>(_mm256_movemask_epi8(
      _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)), semi)));
  return std::uint64_t{hi} << 32 | lo;
#elif defined(__SSE2__)
  const __m128i semi = _mm_set1_epi8(';');
  std::uint64_t m = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    m |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, semi)))}
         << (16 * i);
  }
  return m;
#elif defined(__ARM_NEON) && defined(__aarch64__)
  // Each compare keeps one bit of its byte's place in a byte; pairwise adds
  // then fold 64 such bytes into eight.
  static const std::uint8_t kBits[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t bits = vld1q_u8(kBits);
  const uint8x16_t semi = vdupq_n_u8(';');
  uint8x16_t m[4];
  for (int i = 0; i < 4; ++i) {
    m[i] =
        vandq_u8(vceqq_u8(vld1q_u8(reinterpret_cast<const std::uint8_t*>(p) + 16 * i), semi), bits);
  }
  uint8x16_t s = vpaddq_u8(vpaddq_u8(m[0], m[1]), vpaddq_u8(m[2], m[3]));
  s = vpaddq_u8(s, s);
  return vgetq_lane_u64(vreinterpretq_u64_u8(s), 0);
#else
  std::uint64_t m = 0;
  for (int i = 0; i < 8; ++i) m |= gather_bits(bytes_equal(load_word(p + 8 * i), ';')) << (8 * i);
  return m;
#endif
}

// The same for the `n` < 64 bytes at p, which may end a buffer: nothing past
// p + n is read.
inline std::uint64_t mask_tail(const char* p, std::size_t n) {
  char block[kBlock] = {};
  std::memcpy(block, p, n);
  return mask64(block);
}

}  // namespace tuvello::text::separators
