// SPDX-License-Identifier: MIT
#include "report.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <new>

#include "tuvello.h"

namespace tuvello::cli {

std::string_view song_text(std::string_view text) { return text.substr(0, text.find('\0')); }

namespace {

int count_note(const TUVELLO_Note* n, void* context) {
  auto& song = *static_cast<SongSummary*>(context);
  ++(n->pitch_hz > 0 ? song.notes : song.pauses);
  song.seconds =
      static_cast<double>(n->image_offset + n->bytes - TUVELLO_HEADER_BYTES) / TUVELLO_BYTE_RATE;
  return 0;
}

}  // namespace

SongSummary summarize_song(std::string_view text) {
  SongSummary song;
  song.too_long = TUVELLO_ForEachNote(song_text(text).data(), count_note, &song) < 0;
  return song;
}

std::string plural(std::size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

std::string song_phrase(const SongSummary& song) {
  if (song.too_long) return "too long to render (over 2147483647 bytes)";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f s", song.seconds);
  return plural(song.notes, "note") + ", " + plural(song.pauses, "pause") + ", " + seconds;
}

std::size_t count_warnings(std::string_view text) {
  const std::string_view read = song_text(text);
  const std::int32_t n = TUVELLO_ForEachWarning(read.data(), nullptr, nullptr);
  return static_cast<std::size_t>(n) + (read.size() < text.size() ? 1 : 0);
}

std::string warnings_phrase(std::size_t warnings) {
  std::string s = ", " + plural(warnings, "warning");
  if (warnings > 0)
    s += warnings == 1 ? " (tuvello check shows it)" : " (tuvello check shows them)";
  return s;
}

int refuse_strict(const char* command, std::size_t warnings, const char* nothing) {
  std::fprintf(
      stderr, "tuvello %s: %s%s; --strict: %s\n", command, plural(warnings, "warning").c_str(),
      warnings == 1 ? " (tuvello check shows it)" : " (tuvello check shows them)", nothing);
  return kFailed;
}

void hint_if_text_is_a_file(const Options& o, const char* command, std::size_t warnings) {
  struct stat st {};
  if (!o.text || warnings == 0 || ::stat(o.text->c_str(), &st) != 0) return;
  const std::string name = escape_name(*o.text);
  std::fprintf(stderr, "tuvello %s: '%s' was read as a song text; to read the file, use -f '%s'\n",
               command, name.c_str(), name.c_str());
}

void WarningPrinter::print(std::size_t offset, const char* message) {
  const std::string where =
      by_line_ ? locate_(base_ + offset) : source_ + ":" + std::to_string(offset);
  std::fprintf(stderr, "%s: warning: %s\n", where.c_str(), message);
  ++printed_;
}

int WarningPrinter::visit(const TUVELLO_Warning* w, void* context) noexcept {
  auto* p = static_cast<WarningPrinter*>(context);
  try {
    p->print(static_cast<std::size_t>(w->text_offset), w->message);
  } catch (const std::bad_alloc&) {
    p->out_of_memory_ = true;
    return 1;
  }
  return 0;
}

void WarningPrinter::check() const {
  if (out_of_memory_) throw std::bad_alloc();
}

}  // namespace tuvello::cli
