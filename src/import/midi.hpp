// SPDX-License-Identifier: MIT
// Standard MIDI Files turned into song text. A song text plays one note at a
// time, so one track is followed (with the first track's tempo map) and its
// notes are reduced to a single voice; times are read exactly from ticks and
// tempos and rounded to whole milliseconds at each note's start and end, so
// the tune never drifts. Whatever the song text cannot keep, and whatever in
// the file is broken, is reported with its byte offset in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/function_ref.hpp"

namespace tuvello::midi {

// What a warning is about. The public warning kinds follow this order.
enum class Problem : std::uint8_t {
  file,       // the file's layout: header, chunk lengths, unknown chunks, stray bytes
  event,      // a track's events: a bad length, a missing status, an event cut short
  no_notes,   // no such track, or no notes where they were looked for
  overlap,    // notes sounding together, of which one plays
  shift,      // the whole tune moved by whole octaves into reach
  octave,     // notes still out of reach, each run moved singly
  too_short,  // a note shorter than 20 ms, lengthened
  split,      // a note longer than 500 ms, played as repeated notes
  volume,     // a velocity softer than the softest volume
  too_long,   // a tune longer than the longest song image: the rest is left out
};

struct Warning {
  Problem problem = Problem::file;
  std::size_t offset = 0;    // byte offset in the file
  std::size_t length = 0;    // bytes concerned, possibly 0 (a place)
  std::int32_t track = 0;    // 1-based number of the track chunk; 0 for the file as a whole
  const char* message = "";  // one line of ASCII, valid during the call
};

// Receives each warning in the order found; returning false asks for no more
// warnings (the conversion itself goes on).
using WarningSink = base::FunctionRef<bool(const Warning& warning)>;

// Which of several notes sounding together plays.
enum class Overlap : std::uint8_t { highest, lowest, first };

struct Options {
  std::int32_t track = 0;    // 1-based track chunk; 0: the first track with notes
  std::int32_t channel = 0;  // 1 to 16; 0: every channel
  Overlap overlap = Overlap::highest;
  bool velocity = false;  // velocity sets "vol"
};

// Writes the song text of the file `smf` into `text` when it fits with its NUL
// (capacity > length), else makes `text` the empty string when capacity > 0;
// never writes past `capacity` bytes. Returns the song text's length without
// the NUL. Allocates nothing and holds a few KiB whatever the file; time
// linear in the file and the song text.
std::int64_t convert(std::span<const std::uint8_t> smf, const Options& options, char* text,
                     std::int64_t capacity, const WarningSink* warn);

}  // namespace tuvello::midi
