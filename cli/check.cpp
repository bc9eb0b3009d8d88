// SPDX-License-Identifier: MIT
#include "check.hpp"

#include <cstdio>
#include <exception>

#include "image/song_image.hpp"
#include "image/song_stream.hpp"

namespace tuvello::cli {

std::string plural(std::size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

std::string_view song_text(std::string_view text) { return text.substr(0, text.find('\0')); }

CheckSummary for_each_warning(std::string_view text, WarningVisitor visit) {
  CheckSummary summary;
  const std::string_view read = song_text(text);
  // The library is built without exceptions: none may pass through it. A
  // failure of the visitor (out of memory) stops the walk and is thrown again
  // after it.
  std::exception_ptr failure;
  bool stopped = false;
  const auto each = [&](const text::Warning& w) {
    ++summary.warnings;
    try {
      stopped = !visit(Diagnostic{w.command->number, w.command->offset + 1, w.message});
    } catch (...) {
      failure = std::current_exception();
      stopped = true;
    }
    return !stopped;
  };
  image::for_each_warning(read, each);
  if (failure) std::rethrow_exception(failure);

  std::int64_t end = image::kHeaderBytes;
  const auto note_end = [&](const image::MappedNote& note) {
    end = note.image_offset + note.block->bytes;
    return true;
  };
  summary.notes = image::for_each_note(read, note_end);
  summary.seconds = static_cast<double>(end - image::kHeaderBytes) / image::kByteRate;

  if (read.size() < text.size() && !stopped) {
    const std::size_t ignored = text.size() - read.size() - 1;
    const std::string message = "the song text ends at this NUL byte; the " +
                                plural(ignored, "byte") + " after it " +
                                (ignored == 1 ? "is" : "are") + " ignored";
    ++summary.warnings;
    visit(Diagnostic{0, read.size() + 1, message});
  }
  return summary;
}

std::string format_warning(std::string_view where, const Diagnostic& d) {
  return std::string(where) + ": warning: " + std::string(d.message);
}

std::string format_summary(std::string_view source, const CheckSummary& summary) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f s", summary.seconds);
  return std::string(source) + ": " + plural(summary.notes, "note") + ", " + seconds + ", " +
         plural(summary.warnings, "warning");
}

}  // namespace tuvello::cli
