// SPDX-License-Identifier: MIT
#include "report.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <new>

#include "import.hpp"
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

namespace {

struct Reporter {
  Reporter(std::string_view t, std::string_view source, WarningLines& o, std::size_t s)
      : text(t), locate(source, t), out(o), shown(s) {}
  std::string_view text;
  Locator locate;
  WarningLines& out;
  std::size_t shown;  // warnings still to be given as lines; the rest are only counted
  bool going = true;
  std::exception_ptr failure;
};

// Whether the command at `offset` begins with a line break, blanks aside.
bool begins_with_line_break(std::string_view text, std::size_t offset) {
  while (offset < text.size() && (text[offset] == ' ' || text[offset] == '\t')) ++offset;
  const std::string_view rest = text.substr(offset < text.size() ? offset : text.size());
  return rest.starts_with('\n') || rest.starts_with("\r\n");
}

// Called from inside the library, which is built without exceptions: a
// failure (out of memory) stops the walk and is thrown again after it.
int report_warning(const TUVELLO_Warning* w, void* context) noexcept {
  auto& r = *static_cast<Reporter*>(context);
  if (r.shown == 0) return 0;
  --r.shown;
  try {
    const auto offset = static_cast<std::size_t>(w->text_offset);
    const std::string where = r.locate(offset);
    r.going = r.out.line(where + ": warning: " + w->message, true);
    if (r.going && begins_with_line_break(r.text, offset)) {
      // Song text is one line: the break belongs to the command after it.
      r.going = r.out.line(where +
                               ": note: only ';' separates commands, so a line break joins the "
                               "command after it; write the song text on one line",
                           false);
    }
  } catch (...) {
    r.failure = std::current_exception();
    return 1;
  }
  return r.going ? 0 : 1;
}

class ToStandardError final : public WarningLines {
 public:
  bool line(const std::string& text, bool) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    return true;
  }
};

}  // namespace

std::size_t report_warnings(std::string_view text, std::string_view source, WarningLines& out,
                            std::size_t shown) {
  const std::string_view read = song_text(text);
  Reporter r(text, source, out, shown);
  auto warnings = static_cast<std::size_t>(TUVELLO_ForEachWarning(read.data(), report_warning, &r));
  if (r.failure) std::rethrow_exception(r.failure);
  if (r.going && r.shown > 0 && read.size() < text.size()) {
    // The library reads a C string: what follows a NUL byte is not the song.
    const std::size_t ignored = text.size() - read.size() - 1;
    out.line(r.locate(read.size()) + ": warning: the song text ends at this NUL byte; the " +
                 plural(ignored, "byte") + " after it " + (ignored == 1 ? "is" : "are") +
                 " ignored",
             true);
  }
  return warnings + (read.size() < text.size() ? 1 : 0);
}

std::size_t print_first_warnings(std::string_view text, std::string_view source) {
  constexpr std::size_t kShown = 10;
  ToStandardError out;
  const std::size_t warnings = report_warnings(text, source, out, kShown);
  if (warnings > kShown) {
    std::fprintf(stderr, "and %zu more: tuvello check lists them all\n", warnings - kShown);
  }
  return warnings;
}

std::string warnings_phrase(std::size_t warnings) { return ", " + plural(warnings, "warning"); }

int refuse_strict(const char* command, std::size_t warnings, const char* nothing) {
  std::fprintf(stderr, "tuvello %s: %s; --strict: %s\n", command,
               plural(warnings, "warning").c_str(), nothing);
  return kFailed;
}

namespace {

int count_one(const TUVELLO_Warning*, void* context) {
  ++*static_cast<std::size_t*>(context);
  return 1;  // one is enough
}

}  // namespace

void hint_if_text_is_a_file(const Options& o, const Command& command) {
  struct stat st {};
  if (!o.text || ::stat(o.text->c_str(), &st) != 0) return;
  const bool ringtone = o.rtttl || command.takes(Opt::ringtone);
  std::size_t warnings = 0;
  if (ringtone) {
    const TUVELLO_RtttlOptions options = rtttl_options(o);
    TUVELLO_ConvertRtttlEx(o.text->c_str(), nullptr, 0, &options, count_one, &warnings);
  } else {
    warnings = static_cast<std::size_t>(TUVELLO_ForEachWarning(o.text->c_str(), nullptr, nullptr));
  }
  if (warnings == 0) return;
  const std::string name = escape_name(*o.text);
  std::fprintf(stderr, "tuvello %s: '%s' was read as %s; to read the file, use -f '%s'\n",
               command.name, name.c_str(), ringtone ? "a ringtone" : "a song text", name.c_str());
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
