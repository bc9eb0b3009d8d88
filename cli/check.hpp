// Diagnostics for song texts: which commands have no effect, or not the one
// their writer probably meant. The facts come from the library's own
// interpreter, which reports every command to an observer, so the check and
// the rendered song image never disagree about what a text plays.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "text/function_ref.hpp"

namespace tuvello::cli {

struct Diagnostic {
  std::size_t command = 0;  // the command's number, 1 for the first; 0 for the text as a whole
  std::size_t column = 0;   // 1-based byte column of the command's first byte in the text
  std::string written;      // the command as written, raw bytes
  std::string reason;       // plain words, one line (control bytes escaped)
};

struct CheckSummary {
  std::size_t warnings = 0;  // warnings reported
  std::size_t commands = 0;  // commands read
  std::size_t notes = 0;     // notes and pauses: the note blocks of the song image
  double seconds = 0.0;      // the song image's playing time: data bytes / byte rate
};

// Hands each warning, in text order, to `visit` as it is found, holding none
// of them back (memory stays the same at any text length); `visit` returns
// false to stop. The text ends at its first NUL byte, as for
// TUVELLO_CreateSong; anything after one is reported last.
using WarningVisitor = text::FunctionRef<bool(const Diagnostic&)>;
CheckSummary for_each_warning(std::string_view text, WarningVisitor visit);

struct CheckReport {
  std::vector<Diagnostic> warnings;  // in text order
  std::size_t commands = 0;          // commands read
  std::size_t notes = 0;             // notes and pauses: the note blocks of the song image
  double seconds = 0.0;              // the song image's playing time: data bytes / byte rate
};

// All warnings of for_each_warning at once, for tests and fuzzing.
CheckReport check_song_text(std::string_view text);

// The part of `text` that TUVELLO_CreateSong reads, a C string: up to the
// first NUL byte.
std::string_view song_text(std::string_view text);

// `bytes` with backslash, control bytes and bytes above 0x7E escaped (\t \r \n
// \\ \xHH), so that it stays on one line of plain ASCII.
std::string escape_bytes(std::string_view bytes);

// "WHERE: warning: command N 'WRITTEN': REASON", one line; WHERE is the
// command's location, e.g. "FILE:LINE:COLUMN".
std::string format_warning(std::string_view where, const Diagnostic& d);

// "SOURCE: N notes, S.SSS s, W warnings", the report's last line.
std::string format_summary(std::string_view source, const CheckSummary& summary);
std::string format_summary(std::string_view source, const CheckReport& report);

}  // namespace tuvello::cli
