// SPDX-License-Identifier: MIT
// Warnings about song texts: the commands that have no effect, or not the one
// their writer probably meant. The facts come from the interpreter itself, so
// the warnings and the rendered song never disagree about what a text plays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/function_ref.hpp"
#include "text/interpreter.hpp"

namespace tuvello::text {

// The values are those of the public TUVELLO_WARN_* kinds.
enum class WarningKind : std::int32_t {
  empty = 1,         // an empty command, or a value without a key
  unknown_key = 2,   // not a key of the notation
  out_of_range = 3,  // a setting's value outside its range
  not_a_number = 4,  // a setting's value that reads otherwise than written
  ignored_text = 5,  // a note's value, or text after a second ':'
  no_effect = 6,     // a setting that no note follows
  too_long = 7,      // the song image passes its size limit at this note
};

struct Warning {
  const Command* command;
  WarningKind kind;
  std::string_view message;  // "command N 'WRITTEN': REASON", one line of ASCII
};

// Whether the song image still fits once this note's block is added; asked
// once per note, in text order.
using NoteFits = base::FunctionRef<bool(double frequency, const NoteSettings& settings)>;

// Receives each warning, valid during the call; returns false to stop.
using WarningSink = base::FunctionRef<bool(const Warning& warning)>;

// Reports the warnings of `text` in text order, at most one per command, and
// returns how many were reported; with a null `sink` it only counts them and
// writes no message. `size_limit` is the song image's limit that `fits`
// applies, as the warning names it. Reads the text once, with a look ahead
// for the next note where a setting's effect depends on one (which covers
// each stretch of text at most once more), and allocates nothing.
std::size_t for_each_warning(std::string_view text, std::int64_t size_limit, NoteFits fits,
                             const WarningSink* sink);

// The longest message, terminating NUL included; longer ones are cut.
inline constexpr std::size_t kMessageCapacity = 2048;

}  // namespace tuvello::text
