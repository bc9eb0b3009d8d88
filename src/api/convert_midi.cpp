// SPDX-License-Identifier: MIT
// The C interface of the MIDI import. Arguments and options are checked here.
#include <cstddef>
#include <cstring>

#include "import/midi.hpp"
#include "tuvello.h"

namespace {

namespace midi = tuvello::midi;

// Public kinds in the order of tuvello::midi::Problem.
constexpr std::int32_t kind_of(midi::Problem p) {
  return TUVELLO_WARN_MIDI_FILE + static_cast<std::int32_t>(p);
}
static_assert(kind_of(midi::Problem::event) == TUVELLO_WARN_MIDI_EVENT);
static_assert(kind_of(midi::Problem::no_notes) == TUVELLO_WARN_MIDI_NO_NOTES);
static_assert(kind_of(midi::Problem::overlap) == TUVELLO_WARN_MIDI_OVERLAP);
static_assert(kind_of(midi::Problem::shift) == TUVELLO_WARN_MIDI_SHIFT);
static_assert(kind_of(midi::Problem::octave) == TUVELLO_WARN_MIDI_OCTAVE);
static_assert(kind_of(midi::Problem::too_short) == TUVELLO_WARN_MIDI_TOO_SHORT);
static_assert(kind_of(midi::Problem::split) == TUVELLO_WARN_MIDI_SPLIT);
static_assert(kind_of(midi::Problem::volume) == TUVELLO_WARN_MIDI_VOLUME);
static_assert(kind_of(midi::Problem::too_long) == TUVELLO_WARN_MIDI_TOO_LONG);

// The caller's options, each field only when struct_size covers it.
bool read_options(const TUVELLO_MidiOptions* in, midi::Options& out) {
  if (in == nullptr) return true;
  TUVELLO_MidiOptions o;
  std::memset(&o, 0, sizeof o);
  std::memcpy(&o, in, in->struct_size < sizeof o ? in->struct_size : sizeof o);
  if (o.track < 0 || o.channel < 0 || o.channel > 16) return false;
  switch (o.overlap) {
    case TUVELLO_MIDI_HIGHEST:
      out.overlap = midi::Overlap::highest;
      break;
    case TUVELLO_MIDI_LOWEST:
      out.overlap = midi::Overlap::lowest;
      break;
    case TUVELLO_MIDI_FIRST:
      out.overlap = midi::Overlap::first;
      break;
    default:
      return false;
  }
  out.track = o.track;
  out.channel = o.channel;
  out.velocity = o.velocity != 0;
  return true;
}

}  // namespace

extern "C" {

TUVELLO_API int64_t TUVELLO_ConvertMidi(const uint8_t* smf, int64_t size,
                                        const TUVELLO_MidiOptions* options, char* text,
                                        int64_t capacity, TUVELLO_WarningVisitor visit,
                                        void* context) {
  if (capacity < 0 || (text == nullptr && capacity > 0)) return -1;
  if (size < 0 || (smf == nullptr && size > 0)) return -1;
  if (static_cast<std::uint64_t>(size) > SIZE_MAX) return -1;
  midi::Options o;
  if (!read_options(options, o)) return -1;
  const auto pass_on = [visit, context](const midi::Warning& w) {
    TUVELLO_Warning out;
    std::memset(&out, 0, sizeof out);
    out.struct_size = sizeof out;
    out.command = w.track;
    out.text_offset = static_cast<int64_t>(w.offset);
    out.text_length = static_cast<int64_t>(w.length);
    out.kind = kind_of(w.problem);
    out.message = w.message;
    return visit(&out, context) == 0;
  };
  const midi::WarningSink sink = pass_on;
  const std::span<const std::uint8_t> bytes(smf, static_cast<std::size_t>(size));
  return midi::convert(bytes, o, text, capacity, visit == nullptr ? nullptr : &sink);
}

}  // extern "C"
