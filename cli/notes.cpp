// SPDX-License-Identifier: MIT
// `tuvello notes`: the note map of a song text, one line per note or pause.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

#include "command.hpp"
#include "options.hpp"
#include "report.hpp"
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
  Printer(std::string_view s, Locator l) : song(s), locate(std::move(l)) {}
  std::string_view song;
  Locator locate;
  bool json = false;
  bool ok = true;
  SongSummary summary;
  std::exception_ptr failure;
};

// Called from inside the library, which is built without exceptions: running
// out of memory stops the walk and is thrown again after it.
int print_note(const TUVELLO_Note* n, void* context) noexcept {
  auto& p = *static_cast<Printer*>(context);
  try {
    const std::size_t number = p.summary.notes + p.summary.pauses + 1;
    ++(n->pitch_hz > 0 ? p.summary.notes : p.summary.pauses);
    if (number == 1 && !p.json && !print_line(kHeader)) return p.ok = false, 1;
    const auto offset = static_cast<std::size_t>(n->text_offset);
    const auto length = static_cast<std::size_t>(n->text_length);
    const Locator::Place at = p.locate.place(offset);
    const double start =
        static_cast<double>(n->image_offset - TUVELLO_HEADER_BYTES) / TUVELLO_BYTE_RATE;
    const double seconds = static_cast<double>(n->bytes) / TUVELLO_BYTE_RATE;
    p.summary.seconds = start + seconds;
    const std::string_view written = p.song.substr(offset, length);
    const bool pipe = (n->flags & TUVELLO_NOTE_PIPE) != 0;
    const bool decay = (n->flags & TUVELLO_NOTE_DECAY) != 0;
    char fields[512];
    if (p.json) {
      std::snprintf(fields, sizeof fields,
                    "{\"note\":%zu,\"command\":%d,\"offset\":%zu,\"length\":%zu,\"line\":%zu,"
                    "\"column\":%zu,\"start\":%.6f,\"seconds\":%.6f,\"image_offset\":%lld,"
                    "\"bytes\":%d,\"frames\":%d,\"pitch_hz\":%.3f,\"amplitude\":%d,\"pipe\":%s,"
                    "\"decay\":%s,\"text\":",
                    number, n->command, offset, length, at.line, at.column, start, seconds,
                    static_cast<long long>(n->image_offset), n->bytes, n->frames, n->pitch_hz,
                    n->amplitude, pipe ? "true" : "false", decay ? "true" : "false");
      p.ok = print_line(fields + json_string(written) + "}");
    } else {
      std::snprintf(fields, sizeof fields,
                    "%zu\t%d\t%zu\t%zu\t%zu\t%zu\t%.6f\t%.6f\t%lld\t%d\t%d\t%.3f\t%d\t%d\t%d\t",
                    number, n->command, offset, length, at.line, at.column, start, seconds,
                    static_cast<long long>(n->image_offset), n->bytes, n->frames, n->pitch_hz,
                    n->amplitude, pipe ? 1 : 0, decay ? 1 : 0);
      p.ok = print_line(fields + escape_bytes(written));
    }
  } catch (...) {
    p.failure = std::current_exception();
    return 1;
  }
  return p.ok ? 0 : 1;
}

// Prints the note map of the song text, as TUVELLO_ForEachNote gives it.
int run(const Options& o, Input& in) {
  Printer p(song_text(in.text), Locator(in.source, in.text));
  p.json = o.json;
  const std::int32_t visited = TUVELLO_ForEachNote(p.song.data(), print_note, &p);
  if (p.failure) std::rethrow_exception(p.failure);
  if (visited < 0) {
    std::fputs("tuvello notes: the song's image would pass 2147483647 bytes; no note is listed\n",
               stderr);
    return kFailed;
  }
  // A song without notes still gets its header.
  if (!p.ok || (visited == 0 && !p.json && !print_line(kHeader)) || !finish_stdout()) {
    return write_failed("notes");
  }
  if (!o.quiet) {
    std::fprintf(stderr, "listed %s: %s\n", in.source.c_str(), song_phrase(p.summary).c_str());
  }
  return kOk;
}

constexpr OptionHelp kOptions[] = {
    {Opt::text, "the song text, e.g. 'len:200;c;e;g'"},
    {Opt::file,
     "read the song text from FILE (- for standard input); one final line break is dropped"},
    {Opt::json, "one JSON object per note instead of the table"},
    {Opt::quiet, "no summary line"},
    {Opt::max_input, "refuse a song text longer than N bytes (K, M or G suffix; default 64M)"},
    {Opt::help, "show this help"},
    {Opt::version, "show the version"},
};

}  // namespace

const Command kNotesCommand = {
    "notes",
    "list each note: its command, its time and its place in the WAV image",
    kOptions,
    R"(Prints the note map of a song text: one line per note or pause, in the order
they play, after a header line of tab-separated column names:

  note command offset length line column start seconds image_offset bytes
  frames pitch_hz amplitude pipe decay text

note and command count from 1; offset and length give the command's bytes in
the text (offset from 0), line and column its place as tuvello check shows it;
start and seconds its time in the song; image_offset and bytes its note block
in the WAV image; frames the frames that carry the tone; pitch_hz the pitch
heard (0 for a pause); amplitude the peak sample value at the block's start;
pipe and decay 1 when on; text the command as written (escaped as by check).
With --json each note is one JSON object per line, with the same names. A
summary line (source, notes, pauses, seconds) goes to standard error.

Without TEXT or -f the text is read from standard input; when that is a
terminal, the built-in demo song is listed.)",
    R"(Exit status: 0 listed; 1 the song's image would pass 2147483647 bytes (nothing
is listed) or the list could not be written; 2 usage error or unreadable input.)",
    run,
};

}  // namespace tuvello::cli
