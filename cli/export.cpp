// SPDX-License-Identifier: MIT
// `tuvello export`: a song text as an RTTTL ringtone or a MIDI file, through
// the library's exporters, their warnings located in the song text.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.hpp"
#include "options.hpp"
#include "output_file.hpp"
#include "report.hpp"
#include "tuvello.h"

namespace tuvello::cli {
namespace {

// The ringtone's name: --name, else the stem of -f FILE, else "tune".
std::string ringtone_name(const Options& o) {
  if (o.name) return *o.name;
  if (!o.file || *o.file == "-") return "tune";
  std::string stem = o.file->substr(o.file->rfind('/') + 1);
  if (const std::size_t dot = stem.rfind('.'); dot != std::string::npos && dot > 0) {
    stem.resize(dot);
  }
  return stem.empty() ? "tune" : stem;
}

// Prints the song text's NUL, which ends what the exporters read.
void warn_about_nul(const Input& in, WarningPrinter& printer) {
  if (const void* nul = std::memchr(in.text.data(), '\0', in.text.size())) {
    const auto at = static_cast<std::size_t>(static_cast<const char*>(nul) - in.text.data());
    printer.print(at, "a NUL byte ends the song text here; the rest is ignored");
  }
}

int write_bytes(const char* command, const std::string& output, const void* data,
                std::size_t size) {
  std::optional<std::string> error;
  if (output == "-") {
    if (!write_all(STDOUT_FILENO, static_cast<const std::uint8_t*>(data), size)) {
      error = std::string("cannot write to standard output: ") + std::strerror(errno);
    }
  } else {
    error = write_whole_file(output, data, size);
  }
  if (error) {
    std::fprintf(stderr, "tuvello %s: %s\n", command, error->c_str());
    return kFailed;
  }
  return kOk;
}

int export_rtttl(const Options& o, const Input& in) {
  const std::string name = ringtone_name(o);
  WarningPrinter printer(in.source, in.text);
  const std::int64_t length = TUVELLO_ExportRtttl(in.text.data(), name.c_str(), nullptr, 0,
                                                  WarningPrinter::visit, &printer);
  printer.check();
  warn_about_nul(in, printer);
  if (o.strict && printer.printed() > 0) {
    std::fprintf(stderr, "tuvello export: %s; --strict: nothing written\n",
                 plural(printer.printed(), "warning").c_str());
    return kFailed;
  }
  // The ringtone and its line end: room for both, and the NUL the call writes.
  std::string ringtone(static_cast<std::size_t>(length) + 1, '\0');
  TUVELLO_ExportRtttl(in.text.data(), name.c_str(), ringtone.data(), length + 1, nullptr, nullptr);
  ringtone.back() = '\n';
  return write_bytes("export", o.output.value_or("-"), ringtone.data(), ringtone.size());
}

int export_midi(const Options& o, const Input& in) {
  const std::string output = o.output.value_or("-");
  if (refuses_terminal("export", output, "a MIDI file")) return kUsage;
  WarningPrinter printer(in.source, in.text);
  const std::int64_t size =
      TUVELLO_ExportMidi(in.text.data(), nullptr, 0, WarningPrinter::visit, &printer);
  printer.check();
  if (size < 0) {
    std::fputs("tuvello export: the song's image would pass 2147483647 bytes; nothing written\n",
               stderr);
    return kFailed;
  }
  warn_about_nul(in, printer);
  if (o.strict && printer.printed() > 0) {
    std::fprintf(stderr, "tuvello export: %s; --strict: nothing written\n",
                 plural(printer.printed(), "warning").c_str());
    return kFailed;
  }
  std::vector<std::uint8_t> smf(static_cast<std::size_t>(size));
  TUVELLO_ExportMidi(in.text.data(), smf.data(), size, nullptr, nullptr);
  const int status = write_bytes("export", output, smf.data(), smf.size());
  if (status == kOk && !o.quiet) {
    std::fprintf(stderr, "wrote %s: %s, %lld bytes, %s\n",
                 output == "-" ? "<stdout>" : escape_name(output).c_str(),
                 song_phrase(summarize_song(in.text)).c_str(), static_cast<long long>(size),
                 plural(printer.printed(), "warning").c_str());
  }
  return status;
}

int run(const Options& o, Input& in) {
  if (o.to_rtttl == o.to_midi) return usage_error("export", "give either --rtttl or --midi");
  if (o.name && !o.to_rtttl) return usage_error("export", "--name is for --rtttl");
  return o.to_rtttl ? export_rtttl(o, in) : export_midi(o, in);
}

constexpr OptionHelp kOptions[] = {
    {Opt::text, "the song text, e.g. 'len:200;c;e;g'"},
    {Opt::file,
     "read the song text from FILE (- for standard input); one final line break is dropped"},
    {Opt::to_rtttl, "write an RTTTL ringtone (one line)"},
    {Opt::to_midi, "write a MIDI file (format 0, one tick a millisecond)"},
    {Opt::name,
     "the ringtone's name (default: the name of -f FILE without its extension, else 'tune'); "
     "each ':' and control byte in it is written as '_'"},
    {Opt::output,
     "write to FILE (- for standard output, the default); an existing FILE is replaced only once "
     "the whole ringtone or file is written"},
    {Opt::quiet, "no summary line (--midi)"},
    {Opt::strict, "write nothing and fail if there is any warning"},
    {Opt::max_input, "refuse a song text longer than N bytes (K, M or G suffix; default 64M)"},
    {Opt::help, "show this help"},
    {Opt::version, "show the version"},
};

}  // namespace

const Command kExportCommand = {
    "export",
    "write a song text as an RTTTL ringtone or a MIDI file",
    kOptions,
    R"(Writes a song text as an RTTTL ringtone (--rtttl), for the devices that play
them, or as a Standard MIDI File (--midi), for MIDI editors and synthesizers,
to FILE or to standard output, which must not be a terminal for MIDI. A
ringtone keeps every note's pitch when "oct" is a whole octave (0, 1, 3, 7)
and its length within 1 ms when a note value reaches it; a MIDI file keeps
every note's start, length and pitch (within 1 cent, by pitch bend) and its
"vol" as velocity. What the output cannot hold is reported on standard error,
one line each, located in the song text as 'tuvello check' does:

  FILE:LINE:COLUMN: warning: MESSAGE

for a ringtone "vol", "pipe" and "dec", an "oct" that is no whole octave (the
nearest semitone) and lengths no note value reaches (the nearest); for MIDI
"pipe" and "dec" (plain notes). Without TEXT or -f the song text is read from
standard input; when that is a terminal, the built-in demo song is exported.
With --midi a summary line (output, notes, pauses, seconds, bytes, warnings)
goes to standard error.)",
    R"(Exit status: 0 written (warnings or not); 1 a warning under --strict, a song
too long for an image, or the output could not be written; 2 usage error,
unreadable input or a MIDI file to a terminal.)",
    run,
};

}  // namespace tuvello::cli
