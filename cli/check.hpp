// SPDX-License-Identifier: MIT
// `tuvello check`: the library's warnings about a song text (those of
// TUVELLO_ForEachWarning), as compiler-style lines, and the song's summary.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text/function_ref.hpp"

namespace tuvello::cli {

struct Diagnostic {
  std::size_t command = 0;   // the command's number, 1 for the first; 0 for the text as a whole
  std::size_t column = 0;    // 1-based byte column of the command's first byte in the text
  std::string_view message;  // one line of ASCII ("command N 'WRITTEN': REASON"), valid
                             // during the visit
};

struct CheckSummary {
  std::size_t warnings = 0;  // warnings reported
  std::size_t notes = 0;     // notes and pauses: the note blocks of the song image
  double seconds = 0.0;      // the song image's playing time: data bytes / byte rate
};

// Hands each warning, in text order, to `visit` as it is found, holding none
// of them back (memory stays the same at any text length); `visit` returns
// false to stop. The text ends at its first NUL byte, as for
// TUVELLO_CreateSong; anything after one is reported last.
using WarningVisitor = text::FunctionRef<bool(const Diagnostic&)>;
CheckSummary for_each_warning(std::string_view text, WarningVisitor visit);

// "1 note", "3 notes": a count and its word for summary lines.
std::string plural(std::size_t n, const char* word);

// The part of `text` that TUVELLO_CreateSong reads, a C string: up to the
// first NUL byte.
std::string_view song_text(std::string_view text);

// "WHERE: warning: MESSAGE", one line; WHERE is the command's location, e.g.
// "FILE:LINE:COLUMN".
std::string format_warning(std::string_view where, const Diagnostic& d);

// "SOURCE: N notes, S.SSS s, W warnings", the report's last line.
std::string format_summary(std::string_view source, const CheckSummary& summary);

}  // namespace tuvello::cli
