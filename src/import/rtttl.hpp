// SPDX-License-Identifier: MIT
// RTTTL ringtones ("name:d=4,o=5,b=125:8c6,8e6,g6,p,2c7") turned into song
// text, and song text back into ringtones. A ringtone's notes sound at their
// octave (a4 = 440 Hz); a song text's notes sound an octave below their table
// frequency, and "oct" multiplies the pitch by value + 1, so only oct:0,
// oct:1, oct:3 and oct:7 are whole octaves: RTTTL octaves 3 to 6. Lengths are
// whole milliseconds from 20 to 500. Whatever the other side cannot keep is
// reported with its place in the text read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/function_ref.hpp"

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
  guess,      // a spelling outside the grammar, read as its writer most likely meant it
  shift,      // the whole tune moved by whole octaves into reach
  // Song text into a ringtone, about the song text:
  lost_setting,  // vol, pipe or dec, which a ringtone cannot hold
  pitch,         // an "oct" that is no whole octave: the nearest semitone
  length,        // a length no note value reaches within 1 ms: the nearest
  // Ringtone into song text again:
  too_long,  // the note at which the song image would pass Options::max_image_bytes
};

struct Warning {
  Problem problem = Problem::section;
  std::size_t offset = 0;    // byte offset in the text read
  std::size_t length = 0;    // bytes concerned, possibly 0 (a place)
  std::int32_t note = 0;     // 1-based number of the note or command; 0 for none
  const char* message = "";  // one line of ASCII, valid during the call
};

// Receives each warning in the order found; returning false asks for no
// more warnings (the conversion itself goes on).
using WarningSink = base::FunctionRef<bool(const Warning& warning)>;

// What a ringtone plays when its settings section leaves a value out.
inline constexpr std::int32_t kDefaultDuration = 4;
inline constexpr std::int32_t kDefaultOctave = 6;
inline constexpr std::int32_t kDefaultBeatsPerMinute = 63;

// How the notes' octaves are brought into reach (3 to 6).
enum class OctaveShift : std::uint8_t {
  single,     // 1.1: each note out of reach moved alone, said once per octave
  automatic,  // the whole tune by the whole octaves that keep most notes exact
  by,         // the whole tune by Options::octaves
};

struct Options {
  OctaveShift shift = OctaveShift::automatic;
  std::int32_t octaves = 0;  // for OctaveShift::by
  // 0: none; else the longest song image, in bytes (at least the header's 44),
  // that the song text may make.
  std::int64_t max_image_bytes = 0;
};

// What convert() returns when the song image would pass
// Options::max_image_bytes: it stopped at that note.
inline constexpr std::int64_t kPassesImageLimit = -2;

// Writes the song text of `ringtone` into `text` when it fits with its NUL
// (capacity > length), else makes `text` the empty string when capacity > 0;
// never writes past `capacity` bytes. Returns the song text's length without
// the NUL, or kPassesImageLimit (`text` then empty), with a too_long warning
// last. Allocates nothing; time linear in the ringtone and the song text, and
// with a limit, in the ringtone read before the note that passes it.
std::int64_t convert(std::string_view ringtone, char* text, std::int64_t capacity,
                     const Options& options, const WarningSink* warn);

// The ringtone's name as convert() reads it, blanks around it left out: a
// part of `ringtone`, empty when it has no name section.
std::string_view name_of(std::string_view ringtone);

// Writes the ringtone of song text `song`, named `name`, into `rtttl` with
// the same buffer contract as convert(). Warnings locate the song text's
// commands. Allocates nothing; time linear in the song text and the ringtone.
std::int64_t export_song(std::string_view song, std::string_view name, char* rtttl,
                         std::int64_t capacity, const WarningSink* warn);

}  // namespace tuvello::rtttl
