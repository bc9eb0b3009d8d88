// SPDX-License-Identifier: MIT
// RTTTL ringtones ("name:d=4,o=5,b=125:8c6,8e6,g6,p,2c7") turned into song
// text. A ringtone's notes sound at their octave; a song text's notes sound an
// octave below their table frequency, and "oct" multiplies the pitch by
// value + 1, so only oct:0, oct:1, oct:3 and oct:7 are whole octaves: RTTTL
// octaves 3 to 6. Lengths are whole milliseconds from 20 to 500. Whatever the
// song text cannot keep is reported with its place in the ringtone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/function_ref.hpp"

namespace tuvello::rtttl {

// What a warning is about. The public warning kinds follow this order.
enum class Problem : std::uint8_t {
  section,    // a missing name, settings or notes section
  setting,    // an unknown, empty or malformed setting
  number,     // a number that is missing, malformed or out of range
  note,       // an unknown or empty note, or bytes after a note
  octave,     // an octave out of reach, moved to the nearest one in reach
  too_short,  // a note shorter than 20 ms, lengthened
  split,      // a note longer than 500 ms, played as repeated notes
  drift,      // the tune's length off by more than 1 % after rounding
};

struct Warning {
  Problem problem = Problem::section;
  std::size_t offset = 0;    // byte offset in the ringtone
  std::size_t length = 0;    // bytes concerned, possibly 0 (a place)
  std::int32_t note = 0;     // 1-based number of the note; 0 outside the notes
  const char* message = "";  // one line of ASCII, valid during the call
};

// Receives each warning in the order found; returning false asks for no
// more warnings (the conversion itself goes on).
using WarningSink = text::FunctionRef<bool(const Warning& warning)>;

// What a ringtone plays when its settings section leaves a value out.
inline constexpr std::int32_t kDefaultDuration = 4;
inline constexpr std::int32_t kDefaultOctave = 6;
inline constexpr std::int32_t kDefaultBeatsPerMinute = 63;

// Writes the song text of `ringtone` into `text` when it fits with its NUL
// (capacity > length), else makes `text` the empty string when capacity > 0;
// never writes past `capacity` bytes. Returns the song text's length without
// the NUL. Allocates nothing; time linear in the ringtone and the song text.
std::int64_t convert(std::string_view ringtone, char* text, std::int64_t capacity,
                     const WarningSink* warn);

}  // namespace tuvello::rtttl
