// SPDX-License-Identifier: MIT
// The running note settings: what every later note of a song text plays with.
#pragma once

#include <bit>
#include <cassert>
#include <cstdint>

namespace tuvello::text {

struct NoteSettings {
  std::int32_t length_ms = 100;  // "len"
  float volume = 1.0f;           // "vol" / 100
  std::int32_t multiplier = 1;   // "oct" + 1: a whole-number factor on the frequency
  bool pipe = false;             // "pipe": every sixteenth sample at twice the frequency
  bool decay = false;            // "dec": a linear fade over each note
};

// The values each setting command accepts; anything else leaves it unchanged.
struct AcceptedRange {
  std::int32_t low;
  std::int32_t high;
  // One unsigned comparison, which compilers keep free of branches.
  constexpr bool contains(std::int32_t v) const {
    return static_cast<std::uint32_t>(v) - static_cast<std::uint32_t>(low) <=
           static_cast<std::uint32_t>(high) - static_cast<std::uint32_t>(low);
  }
};
inline constexpr AcceptedRange kLengthRange{20, 500};
inline constexpr AcceptedRange kVolumeRange{5, 100};
inline constexpr AcceptedRange kOctaveRange{0, 8};
inline constexpr AcceptedRange kAnyValue{INT32_MIN, INT32_MAX};

// The volume of a "vol" percentage: percent / 100 as the float nearest to it,
// ties to even. Worked out in integers, since a division in floating point is
// rounded twice on x87 (to 80 bits, then to a float whenever the compiler
// stores it) and the two roundings could, in principle, disagree with one.
constexpr float volume_of_percent(std::int32_t percent) {
  assert(kVolumeRange.contains(percent));
  const auto p = static_cast<std::uint64_t>(percent);
  // percent / 100 = q / 2^shift, q with 24 significant bits.
  int shift = 30 - std::bit_width(p);  // 100 has 7 bits
  if ((p << shift) < (std::uint64_t{100} << 23)) ++shift;
  std::uint64_t q = (p << shift) / 100;
  const std::uint64_t rest = (p << shift) % 100;
  q += rest > 50 || (rest == 50 && (q & 1) != 0);
  if (q == std::uint64_t{1} << 24) {
    q >>= 1;
    --shift;
  }
  const auto biased = static_cast<std::uint32_t>(150 - shift);
  return std::bit_cast<float>(biased << 23 | (static_cast<std::uint32_t>(q) & 0x7FFFFF));
}

}  // namespace tuvello::text
