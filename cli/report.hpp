// SPDX-License-Identifier: MIT
// What the commands say about a song, in one wording: "22 notes, 1 pause,
// 4.560 s", warnings counted and hinted at, --strict refusals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "command.hpp"
#include "io.hpp"
#include "tuvello.h"

namespace tuvello::cli {

// The part of `text` that the library reads, a C string: up to the first
// NUL byte.
std::string_view song_text(std::string_view text);

// A song as its note map tells it (TUVELLO_ForEachNote).
struct SongSummary {
  bool too_long = false;  // the image would pass INT32_MAX bytes: nothing counted
  std::size_t notes = 0;  // notes that sound
  std::size_t pauses = 0;
  double seconds = 0.0;  // the image's playing time
};
SongSummary summarize_song(std::string_view text);

// "1 note", "3 notes": a count and its word.
std::string plural(std::size_t n, const char* word);

// "22 notes, 1 pause, 4.560 s", or "too long to render (over 2147483647
// bytes)".
std::string song_phrase(const SongSummary& song);

// Receives the lines that show a song text's warnings.
class WarningLines {
 public:
  // "SOURCE:LINE:COLUMN: warning: MESSAGE" (`warning`), or a note on the
  // warning before it. Returns false to stop.
  virtual bool line(const std::string& text, bool warning) = 0;

 protected:
  ~WarningLines() = default;
};

// The warnings of a song text in text order, as tuvello check shows them:
// TUVELLO_ForEachWarning's, each located in `source`; after one whose
// command begins with a line break, a note on how to write the song; last,
// one for a NUL byte that ends the text early. Only the first `shown`
// warnings become lines; the rest are counted. Returns the number of
// warnings, or those given to `out` when it stopped the walk.
std::size_t report_warnings(std::string_view text, std::string_view source, WarningLines& out,
                            std::size_t shown = SIZE_MAX);

// For render and play: the first 10 warnings on standard error, like a
// compiler's, then "and N more: tuvello check lists them all". Returns the
// number of warnings.
std::size_t print_first_warnings(std::string_view text, std::string_view source);

// ", 3 warnings" for a summary line.
std::string warnings_phrase(std::size_t warnings);

// "tuvello COMMAND: N warnings; --strict: NOTHING"; kFailed.
int refuse_strict(const char* command, std::size_t warnings, const char* nothing);

// A TEXT that names an existing file and draws a warning was probably meant
// for -f: says so on standard error.
void hint_if_text_is_a_file(const Options& o, const Command& command);

// Prints the library's warnings to standard error, one line each: "FILE:LINE:
// COLUMN: warning: MESSAGE" for offsets in a text (shifted by `base`, the
// text's place in a larger file), "FILE:OFFSET: warning: MESSAGE" for
// offsets in a binary file; `first_line` numbers the text's first line. Pass visit as the
// TUVELLO_WarningVisitor and the printer as its context.
class WarningPrinter {
 public:
  WarningPrinter(std::string_view source, std::string_view text, std::size_t base = 0,
                 std::size_t first_line = 1)
      : locate_(source, text, first_line), source_(source), base_(base), by_line_(true) {}
  explicit WarningPrinter(std::string_view source)
      : locate_(source, {}), source_(source), by_line_(false) {}

  // Called from inside the library, which is built without exceptions: none
  // may pass through it, so running out of memory stops the warnings
  // instead, and check() then throws std::bad_alloc.
  static int visit(const TUVELLO_Warning* w, void* context) noexcept;
  void check() const;
  // Prints a warning of the tool's own at `offset`.
  void print(std::size_t offset, const char* message);
  std::size_t printed() const { return printed_; }

 private:
  Locator locate_;
  std::string source_;
  std::size_t base_ = 0;
  bool by_line_;
  std::size_t printed_ = 0;
  bool out_of_memory_ = false;
};

}  // namespace tuvello::cli
