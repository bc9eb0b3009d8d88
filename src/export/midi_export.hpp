// SPDX-License-Identifier: MIT
// Song text into a Standard MIDI File that a MIDI editor or synthesizer plays
// as the song image sounds: one track, one tick a millisecond, each note
// block a note at the nearest key with a pitch bend for what remains.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/function_ref.hpp"

namespace tuvello::midi_export {

// About a command that turns on pipe or decay mode, which MIDI cannot hold.
struct Warning {
  std::size_t command = 0;   // 1-based number of the song text's command
  std::size_t offset = 0;    // its byte offset in the song text
  std::size_t length = 0;    // its length in bytes
  const char* message = "";  // one line of ASCII, valid during the call
};

// Receives each warning in text order; returning false asks for no more.
using WarningSink = base::FunctionRef<bool(const Warning& warning)>;

// One tick is a millisecond: 1,000 ticks a quarter note at 60 quarter notes
// a minute.
inline constexpr std::int32_t kTicksPerQuarter = 1000;
inline constexpr std::uint32_t kTempo = 1'000'000;  // microseconds a quarter note
// The pitch bend range set by the file: ±2 semitones, the usual default, so
// a player that ignores the setting still bends right.
inline constexpr std::int32_t kBendSemitones = 2;

// Writes the file of `song` into `smf` when it fits (capacity >= its size);
// otherwise writes nothing. Returns the file's size, or -1 when the song's
// image would pass the image limit (then nothing is written or warned).
// Allocates nothing; time linear in the song text.
std::int64_t export_song(std::string_view song, std::uint8_t* smf, std::int64_t capacity,
                         const WarningSink* warn);

}  // namespace tuvello::midi_export
