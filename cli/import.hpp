// SPDX-License-Identifier: MIT
// RTTTL ringtones for the command-line tool: `tuvello import` and the
// --rtttl option of render and play, through the library's converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "command.hpp"
#include "tuvello.h"

namespace tuvello::cli {

// The help of the MIDI options, which import, render and play share.
inline constexpr const char* kMidiHelp =
    "the input is a MIDI file, even without its \"MThd\" header (by which it is found "
    "otherwise); the operand names it";
inline constexpr const char* kTrackHelp =
    "of a MIDI file, play track chunk N (from 1; default: the first track with notes)";
inline constexpr const char* kChannelHelp =
    "of a MIDI file, play only channel N (1 to 16; default: every channel)";
inline constexpr const char* kHighestHelp =
    "of notes sounding together, the highest plays (the default)";
inline constexpr const char* kLowestHelp = "of notes sounding together, the lowest plays";
inline constexpr const char* kFirstHelp =
    "of notes sounding together, the one that has sounded longest plays";
inline constexpr const char* kVelocityHelp =
    "each MIDI note's velocity sets its volume (vol); without it every note plays at full volume";

// The converter's options as the tool's --octave-shift sets them.
TUVELLO_RtttlOptions rtttl_options(const Options& o);

struct ConvertedRingtone {
  std::string text;          // the song text
  std::size_t warnings = 0;  // printed to standard error
};

// The song text of `ringtone` (NUL-terminated: ringtone.data()[size] is 0),
// each warning printed to standard error as "SOURCE:LINE:COLUMN: warning:
// MESSAGE". The converter reads the ringtone up to its first NUL byte, which
// is reported too; `first_line` is the ringtone's line in SOURCE. Throws
// std::bad_alloc when memory runs out.
ConvertedRingtone convert_ringtone(std::string_view ringtone, std::string_view source,
                                   const TUVELLO_RtttlOptions& options, std::size_t first_line = 1);

struct RingtoneSong {
  ConvertedRingtone song;     // when the image fits
  bool too_long = false;      // the image would pass the limit
  std::size_t passes_at = 0;  // the byte offset in the ringtone of the note where it does
};

// As convert_ringtone, for rendering: when the image of the song text would
// pass `max_image_bytes` (44 to INT32_MAX), finds the note where it does
// instead, printing no warning. The converter stops there itself, so the
// work stays in proportion to the part read before the limit, however much
// song text each note makes.
RingtoneSong convert_ringtone_within(std::string_view ringtone, std::string_view source,
                                     const TUVELLO_RtttlOptions& options,
                                     std::int64_t max_image_bytes, std::size_t first_line = 1);

// The song text of the MIDI file in `in` as the options say, each warning
// printed to standard error as "SOURCE:OFFSET: warning: MESSAGE" (the byte
// offset in the file). Throws std::bad_alloc when memory runs out.
ConvertedRingtone convert_midi(const Options& o, const Input& in);

// `tuvello import --each`: each ringtone of the collection o.each, one a
// line, written to a file of its own in o.directory. Returns the exit status.
int import_each(const Options& o);

// For render and play with a MIDI file: converts it into `song` and points
// in.text at it. Returns an exit status after reporting a warning under
// --strict, or nullopt.
std::optional<int> midi_to_song(const Options& o, const char* command, Input& in,
                                std::string& song);

// For render and play with --rtttl: converts the ringtone in `in` into
// `song` and points in.text at it. Returns an exit status after reporting a
// failure (an image past `max_image_bytes`, a warning under --strict), or
// nullopt.
std::optional<int> ringtone_to_song(const Options& o, const char* command,
                                    std::int64_t max_image_bytes, Input& in, std::string& song);

}  // namespace tuvello::cli
