// SPDX-License-Identifier: MIT
#include "notes.hpp"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "check.hpp"
#include "io.hpp"
#include "tuvello.h"

namespace tuvello::cli {
namespace {

constexpr const char* kHeader =
    "note\tcommand\toffset\tlength\tline\tcolumn\tstart\tseconds\timage_offset\tbytes\tframes\t"
    "pitch_hz\tamplitude\tpipe\tdecay\ttext";

// A JSON string of raw bytes: quotes, backslashes, control bytes and bytes
// beyond ASCII (read as Latin-1) escaped, so any text gives valid JSON.
std::string json_string(std::string_view bytes) {
  std::string out = "\"";
  for (const char ch : bytes) {
    const auto u = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (u < 0x20 || u > 0x7E) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", u);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

struct Printer {
  std::string_view song;
  bool json = false;
  bool ok = true;
  std::size_t number = 0;
  // Lines and columns as the check counts them; offsets only grow.
  std::size_t line = 1;
  std::size_t line_start = 0;
  std::size_t scanned = 0;
  std::exception_ptr failure;
};

// Called from inside the library, which is built without exceptions: running
// out of memory stops the walk and is thrown again after it.
int print_note(const TUVELLO_Note* n, void* context) noexcept {
  auto& p = *static_cast<Printer*>(context);
  try {
    if (p.number == 0 && !p.json && !print_line(kHeader)) return p.ok = false, 1;
    const auto offset = static_cast<std::size_t>(n->text_offset);
    const auto length = static_cast<std::size_t>(n->text_length);
    for (; p.scanned < offset; ++p.scanned) {
      if (p.song[p.scanned] == '\n') {
        ++p.line;
        p.line_start = p.scanned + 1;
      }
    }
    const double start =
        static_cast<double>(n->image_offset - TUVELLO_HEADER_BYTES) / TUVELLO_BYTE_RATE;
    const double seconds = static_cast<double>(n->bytes) / TUVELLO_BYTE_RATE;
    const std::string_view written = p.song.substr(offset, length);
    char fields[512];
    if (p.json) {
      std::snprintf(fields, sizeof fields,
                    "{\"note\":%zu,\"command\":%d,\"offset\":%zu,\"length\":%zu,\"line\":%zu,"
                    "\"column\":%zu,\"start\":%.6f,\"seconds\":%.6f,\"image_offset\":%lld,"
                    "\"bytes\":%d,\"frames\":%d,\"pitch_hz\":%.3f,\"amplitude\":%d,\"pipe\":%s,"
                    "\"decay\":%s,\"text\":",
                    ++p.number, n->command, offset, length, p.line, offset - p.line_start + 1,
                    start, seconds, static_cast<long long>(n->image_offset), n->bytes, n->frames,
                    n->pitch_hz, n->amplitude, (n->flags & TUVELLO_NOTE_PIPE) ? "true" : "false",
                    (n->flags & TUVELLO_NOTE_DECAY) ? "true" : "false");
      p.ok = print_line(fields + json_string(written) + "}");
    } else {
      std::snprintf(fields, sizeof fields,
                    "%zu\t%d\t%zu\t%zu\t%zu\t%zu\t%.6f\t%.6f\t%lld\t%d\t%d\t%.3f\t%d\t%d\t%d\t",
                    ++p.number, n->command, offset, length, p.line, offset - p.line_start + 1,
                    start, seconds, static_cast<long long>(n->image_offset), n->bytes, n->frames,
                    n->pitch_hz, n->amplitude, (n->flags & TUVELLO_NOTE_PIPE) ? 1 : 0,
                    (n->flags & TUVELLO_NOTE_DECAY) ? 1 : 0);
      p.ok = print_line(fields + escape_bytes(written));
    }
  } catch (...) {
    p.failure = std::current_exception();
    return 1;
  }
  return p.ok ? 0 : 1;
}

}  // namespace

NoteMapResult print_note_map(std::string_view text, bool json) {
  Printer p;
  p.song = song_text(text);
  p.json = json;
  const std::int32_t visited = TUVELLO_ForEachNote(p.song.data(), print_note, &p);
  if (p.failure) std::rethrow_exception(p.failure);
  if (visited < 0) return NoteMapResult::too_long;
  if (!p.ok) return NoteMapResult::write_failed;
  // A song without notes still gets its header.
  if (visited == 0 && !json && !print_line(kHeader)) return NoteMapResult::write_failed;
  return NoteMapResult::printed;
}

}  // namespace tuvello::cli
