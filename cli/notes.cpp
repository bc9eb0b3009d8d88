// SPDX-License-Identifier: MIT
#include "notes.hpp"

#include <cstdio>
#include <string>

#include "check.hpp"
#include "image/song_stream.hpp"
#include "io.hpp"

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

}  // namespace

bool print_note_map(std::string_view text, bool json) {
  const std::string_view song = song_text(text);
  if (!json && !print_line(kHeader)) return false;
  bool ok = true;
  std::size_t number = 0;
  // Lines and columns as the check counts them; offsets only grow.
  std::size_t line = 1;
  std::size_t line_start = 0;
  std::size_t scanned = 0;
  const auto each = [&](const image::MappedNote& m) {
    const text::Command& c = *m.command;
    const synth::NoteBlock& b = *m.block;
    for (; scanned < c.offset; ++scanned) {
      if (song[scanned] == '\n') {
        ++line;
        line_start = scanned + 1;
      }
    }
    const double start =
        static_cast<double>(m.image_offset - image::kHeaderBytes) / image::kByteRate;
    const double seconds = static_cast<double>(b.bytes) / image::kByteRate;
    // Tones are tuned against twice the frame rate: they sound an octave down.
    const double pitch = b.frequency / 2.0;
    const int amplitude = b.frequency == 0.0 ? 0 : b.amplitude;
    char fields[512];
    if (json) {
      std::snprintf(fields, sizeof fields,
                    "{\"note\":%zu,\"command\":%zu,\"offset\":%zu,\"length\":%zu,\"line\":%zu,"
                    "\"column\":%zu,\"start\":%.6f,\"seconds\":%.6f,\"image_offset\":%lld,"
                    "\"bytes\":%d,\"frames\":%d,\"pitch_hz\":%.3f,\"amplitude\":%d,\"pipe\":%s,"
                    "\"decay\":%s,\"text\":",
                    ++number, c.number, c.offset, c.written.size(), line, c.offset - line_start + 1,
                    start, seconds, static_cast<long long>(m.image_offset), b.bytes, b.frames,
                    pitch, amplitude, b.pipe ? "true" : "false", b.decay ? "true" : "false");
      ok = print_line(fields + json_string(c.written) + "}");
    } else {
      std::snprintf(fields, sizeof fields,
                    "%zu\t%zu\t%zu\t%zu\t%zu\t%zu\t%.6f\t%.6f\t%lld\t%d\t%d\t%.3f\t%d\t%d\t%d\t",
                    ++number, c.number, c.offset, c.written.size(), line, c.offset - line_start + 1,
                    start, seconds, static_cast<long long>(m.image_offset), b.bytes, b.frames,
                    pitch, amplitude, b.pipe ? 1 : 0, b.decay ? 1 : 0);
      ok = print_line(fields + escape_bytes(c.written));
    }
    return ok;
  };
  image::for_each_note(song, each);
  return ok;
}

}  // namespace tuvello::cli
