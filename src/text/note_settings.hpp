// The running note settings: what every later note of a song text plays with.
#pragma once

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
  bool contains(std::int32_t v) const { return low <= v && v <= high; }
};
inline constexpr AcceptedRange kLengthRange{20, 500};
inline constexpr AcceptedRange kVolumeRange{5, 100};
inline constexpr AcceptedRange kOctaveRange{0, 8};
inline constexpr AcceptedRange kAnyValue{INT32_MIN, INT32_MAX};

}  // namespace tuvello::text
