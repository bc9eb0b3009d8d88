// SPDX-License-Identifier: MIT
#include "import.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "io.hpp"
#include "options.hpp"
#include "output_file.hpp"
#include "report.hpp"
#include "tuvello.h"

namespace tuvello::cli {
namespace {

// Prints the warnings of the whole ringtone; returns their number, and
// the song text's length in *length.
std::size_t print_warnings(std::string_view ringtone, std::string_view source,
                           const TUVELLO_RtttlOptions& options, std::int64_t* length,
                           std::size_t first_line) {
  WarningPrinter printer(source, ringtone, 0, first_line);
  *length = TUVELLO_ConvertRtttlEx(ringtone.data(), nullptr, 0, &options, WarningPrinter::visit,
                                   &printer);
  printer.check();
  if (const void* nul = std::memchr(ringtone.data(), '\0', ringtone.size())) {
    const auto at = static_cast<std::size_t>(static_cast<const char*>(nul) - ringtone.data());
    printer.print(at, "a NUL byte ends the ringtone here; the rest is ignored");
  }
  return printer.printed();
}

std::string converted(const char* rtttl, const TUVELLO_RtttlOptions& options, std::int64_t length) {
  std::string text(static_cast<std::size_t>(length), '\0');
  // std::string keeps room for its NUL past size().
  TUVELLO_ConvertRtttlEx(rtttl, text.data(), length + 1, &options, nullptr, nullptr);
  return text;
}

// Where the song image passes its limit: the place of the converter's last
// warning, of its own kind.
int find_too_long(const TUVELLO_Warning* w, void* context) {
  if (w->kind == TUVELLO_WARN_RTTTL_TOO_LONG) *static_cast<std::int64_t*>(context) = w->text_offset;
  return 0;
}

}  // namespace

TUVELLO_RtttlOptions rtttl_options(const Options& o) {
  TUVELLO_RtttlOptions options{};
  options.struct_size = sizeof options;
  options.octave_shift = o.octave_shift;
  options.octaves = o.octaves;
  return options;
}

ConvertedRingtone convert_ringtone(std::string_view ringtone, std::string_view source,
                                   const TUVELLO_RtttlOptions& options, std::size_t first_line) {
  ConvertedRingtone out;
  std::int64_t length = 0;
  out.warnings = print_warnings(ringtone, source, options, &length, first_line);
  out.text = converted(ringtone.data(), options, length);
  return out;
}

RingtoneSong convert_ringtone_within(std::string_view ringtone, std::string_view source,
                                     const TUVELLO_RtttlOptions& options,
                                     std::int64_t max_image_bytes, std::size_t first_line) {
  RingtoneSong out;
  TUVELLO_RtttlOptions limited = options;
  limited.max_image_bytes = max_image_bytes;
  std::int64_t passes_at = -1;
  const std::int64_t length =
      TUVELLO_ConvertRtttlEx(ringtone.data(), nullptr, 0, &limited, find_too_long, &passes_at);
  if (length == -2) {
    out.too_long = true;
    out.passes_at = static_cast<std::size_t>(passes_at);
    return out;
  }
  out.song = convert_ringtone(ringtone, source, options, first_line);
  return out;
}

ConvertedRingtone convert_midi(const Options& o, const Input& in) {
  TUVELLO_MidiOptions options{};
  options.struct_size = sizeof options;
  options.track = o.track;
  options.channel = o.channel;
  options.overlap = o.overlap;
  options.velocity = o.velocity ? 1 : 0;
  const auto* smf = reinterpret_cast<const std::uint8_t*>(in.text.data());
  const auto size = static_cast<std::int64_t>(in.text.size());
  WarningPrinter printer(in.source);
  const std::int64_t length =
      TUVELLO_ConvertMidi(smf, size, &options, nullptr, 0, WarningPrinter::visit, &printer);
  printer.check();
  ConvertedRingtone out;
  out.warnings = printer.printed();
  out.text.resize(static_cast<std::size_t>(length));
  TUVELLO_ConvertMidi(smf, size, &options, out.text.data(), length + 1, nullptr, nullptr);
  return out;
}

std::optional<int> midi_to_song(const Options& o, const char* command, Input& in,
                                std::string& song) {
  ConvertedRingtone converted = convert_midi(o, in);
  if (o.strict && converted.warnings > 0) {
    std::fprintf(stderr, "tuvello %s: %s in the MIDI file; --strict: %s\n", command,
                 plural(converted.warnings, "warning").c_str(),
                 std::strcmp(command, "play") == 0 ? "nothing played" : "nothing written");
    return kFailed;
  }
  song = std::move(converted.text);
  in.text = song;
  return std::nullopt;
}

std::optional<int> ringtone_to_song(const Options& o, const char* command,
                                    std::int64_t max_image_bytes, Input& in, std::string& song) {
  const char* nothing = std::strcmp(command, "play") == 0 ? "nothing played" : "nothing written";
  RingtoneSong converted =
      convert_ringtone_within(in.text, in.source, rtttl_options(o), max_image_bytes);
  if (converted.too_long) {
    const std::string where = " at the ringtone's note at " +
                              Locator(in.source, in.text)(converted.passes_at) + " (byte " +
                              std::to_string(converted.passes_at) + ")";
    std::fprintf(stderr, "tuvello %s: the song's image would pass %lld bytes%s; %s\n", command,
                 static_cast<long long>(max_image_bytes), where.c_str(), nothing);
    return kFailed;
  }
  if (o.strict && converted.song.warnings > 0) {
    std::fprintf(stderr, "tuvello %s: %s in the ringtone; --strict: %s\n", command,
                 plural(converted.song.warnings, "warning").c_str(), nothing);
    return kFailed;
  }
  song = std::move(converted.song.text);
  in.text = song;
  return std::nullopt;
}

namespace {

int run(const Options& o, Input& in) {
  if (o.each) return import_each(o);
  const ConvertedRingtone song =
      in.midi ? convert_midi(o, in) : convert_ringtone(in.text, in.source, rtttl_options(o));
  if (o.strict && song.warnings > 0) {
    std::fprintf(stderr, "tuvello import: %s; --strict: nothing written\n",
                 plural(song.warnings, "warning").c_str());
    return kFailed;
  }
  const std::string output = o.output.value_or("-");
  if (output == "-") return print_line(song.text) && finish_stdout() ? kOk : write_failed("import");
  // The text and its line end, written one after the other: no copy of a
  // text that may be hundreds of times the ringtone's size.
  OutputFile file;
  std::optional<std::string> error = file.open(output);
  const auto put = [&](std::string_view bytes) {
    if (!error && !file.write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())) {
      error = "cannot write '" + escape_name(output) + "': " + std::strerror(errno);
    }
  };
  put(song.text);
  put("\n");
  if (!error) error = file.commit();
  if (error) {
    std::fprintf(stderr, "tuvello import: %s\n", error->c_str());
    return kFailed;
  }
  return kOk;
}

constexpr OptionHelp kOptions[] = {
    {Opt::ringtone, "the ringtone, e.g. 'tune:d=8,o=5,b=150:c,e,g', or the name of a MIDI file"},
    {Opt::file, "read the ringtone or MIDI file from FILE (- for standard input)"},
    {Opt::output,
     "write the song text to FILE (- for standard output, the default); an existing FILE is "
     "replaced only once the whole text is written"},
    {Opt::octave_shift,
     "how notes outside octaves 3 to 6 come into reach: auto (the default) moves the whole tune by "
     "the fewest whole octaves that play every note exactly, if it spans at most four octaves, "
     "and else by those that keep the most notes; none moves each such note alone into octave 3 "
     "or 6; N (-8 to 8) moves the whole tune N octaves up (negative: down), then each note still "
     "out of reach alone"},
    {Opt::midi, kMidiHelp},
    {Opt::track, kTrackHelp},
    {Opt::channel, kChannelHelp},
    {Opt::highest, kHighestHelp},
    {Opt::lowest, kLowestHelp},
    {Opt::first, kFirstHelp},
    {Opt::velocity, kVelocityHelp},
    {Opt::each,
     "convert every ringtone of FILE (- for standard input), one a line, each into a file of its "
     "own: NAME.txt, after the tune's name"},
    {Opt::directory,
     "with --each: write the files into the folder DIR (default: the current folder), which must "
     "exist"},
    {Opt::wav, "with --each: write each tune's WAV image, NAME.wav, instead of its song text"},
    {Opt::strict, "write nothing and fail if there is any warning (with --each: for that tune)"},
    {Opt::max_input, "refuse a ringtone longer than N bytes (K, M or G suffix; default 64M)"},
    {Opt::help, "show this help"},
    {Opt::version, "show the version"},
};

}  // namespace

const Command kImportCommand = {
    "import",
    "convert an RTTTL ringtone into song text",
    kOptions,
    R"(Converts an RTTTL ringtone such as 'tune:d=4,o=5,b=125:8c6,8e6,g6,p,2c7' into
song text, and prints it (one line) or writes it to FILE. What the song text
cannot keep as written is reported on standard error, one line each:

  FILE:LINE:COLUMN: warning: MESSAGE

where FILE is the file name, <argument> or <stdin>, and LINE and COLUMN locate
the byte concerned in the ringtone: octaves out of reach (3 to 6 play exactly;
by default a tune reaching past them moves whole by whole octaves, keeping its
melody, see --octave-shift), notes shorter than 20 ms (played as 20 ms) or
longer than 500 ms (played as repeated notes), a tune whose length drifts by
more than 1 %, and malformed parts (missing sections, unknown settings or
notes, bad numbers), which are skipped or read as RTTTL players read them.
Settings left out are d=4, o=6, b=63. One ringtone per input.

A Standard MIDI File (named as RTTTL or with -f, or on standard input) is
found by its "MThd" header, or read as one with --midi: its melody becomes song
text, one track and one note at a time, lengths in whole milliseconds from the
file's tempos, keys 48 to 95 exactly (a tune outside them moves whole by
octaves). Its warnings read FILE:OFFSET: warning: MESSAGE, OFFSET being the
byte in the file.

Without RTTTL or -f the ringtone is read from standard input, which must not
be a terminal.

With --each FILE, every line of FILE is a ringtone, except blank lines and
lines starting with '#'. Each tune goes to a new file in DIR named after the
tune ('/', control bytes and bytes that are not UTF-8 made '_', leading '.'
and '-' dropped, at most 120 bytes; tune-LINE when no name is left), never
over an existing file: NAME-2, NAME-3, ... take the next free name. Each file
written gets a line on standard output:

  FILE:LINE: wrote NAME.txt: N notes, N pauses, S s, N warnings

Warnings are located in FILE as above. A tune that fails (a warning under
--strict, a line longer than --max-input, an image past 2147483647 bytes)
is left out and the others converted; a file that cannot be written stops
the run. One ringtone is held at a time.)",
    R"(Exit status: 0 converted (warnings or not); 1 a warning under --strict, any tune
of --each not converted, or the output could not be written; 2 usage error or
unreadable input.)",
    run,
};

}  // namespace tuvello::cli
