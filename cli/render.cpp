// SPDX-License-Identifier: MIT
// `tuvello render`: the WAV image of a song text, to a file or a pipe; and the
// writing that `tuvello demo` shares.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command.hpp"
#include "import.hpp"
#include "output_file.hpp"
#include "report.hpp"
#include "tuvello.h"

namespace tuvello::cli {

bool refuses_terminal(const char* command, const std::string& output, const char* what) {
  bool terminal = false;
  if (output == "-") {
    terminal = ::isatty(STDOUT_FILENO) != 0;
  } else if (const std::optional<ResolvedPath> r = resolve_output(output)) {
    terminal = r->terminal;
  }
  if (terminal) {
    std::fprintf(stderr, "tuvello %s: refusing to write %s to a terminal; use -o FILE or a pipe\n",
                 command, what);
  }
  return terminal;
}

int write_song(const Options& o, const char* command, std::string_view text,
               std::string_view source, const std::string& output) {
  const bool to_stdout = output == "-";
  if (refuses_terminal(command, output, "a WAV image")) return kUsage;

  const std::size_t warnings = print_first_warnings(text, source);
  if (o.strict && warnings > 0) return refuse_strict(command, warnings, "nothing written");

  // The size first: a song past the limit is refused before any sample.
  const std::int64_t measured = TUVELLO_MeasureSong(text.data());
  if (measured < 0 || measured > o.max_bytes) {
    std::fprintf(stderr,
                 "tuvello %s: rendering failed: the image would pass %lld bytes; nothing "
                 "written\n",
                 command, static_cast<long long>(o.max_bytes));
    return kFailed;
  }

  // The reader renders as it is read: memory stays a few KiB beyond the text
  // at any song length, for files and pipes alike.
  TUVELLO_SongReader* const reader = TUVELLO_OpenSong(text.data());
  if (reader == nullptr) {
    std::fprintf(stderr, "tuvello %s: rendering failed: out of memory; nothing written\n", command);
    return kFailed;
  }
  std::optional<std::string> error;
  OutputFile file;
  if (!to_stdout) error = file.open(output);
  static std::uint8_t buffer[1 << 16];
  while (!error) {
    const std::int32_t n = TUVELLO_ReadSong(reader, buffer, sizeof buffer);
    if (n <= 0) break;
    const auto bytes = static_cast<std::size_t>(n);
    if (to_stdout ? !write_all(STDOUT_FILENO, buffer, bytes) : !file.write(buffer, bytes)) {
      error = (to_stdout ? std::string("cannot write to standard output")
                         : "cannot write '" + escape_name(output) + "'") +
              ": " + std::strerror(errno);
    }
  }
  TUVELLO_CloseSong(reader);
  if (!error && !to_stdout) error = file.commit();
  if (error) {
    std::fprintf(stderr, "tuvello %s: %s\n", command, error->c_str());
    return kFailed;
  }
  if (!o.quiet) {
    std::fprintf(stderr, "wrote %s: %s, %lld bytes%s\n",
                 to_stdout ? "<stdout>" : escape_name(output).c_str(),
                 song_phrase(summarize_song(text)).c_str(), static_cast<long long>(measured),
                 warnings_phrase(warnings).c_str());
  }
  return kOk;
}

namespace {

int run(const Options& o, Input& in) {
  std::string song;
  if (in.midi) {
    if (const std::optional<int> failed = midi_to_song(o, "render", in, song)) return *failed;
  } else if (o.rtttl) {
    if (const std::optional<int> failed = ringtone_to_song(o, "render", o.max_bytes, in, song)) {
      return *failed;
    }
  }
  // The warnings of a converted ringtone are about the song text, not the
  // ringtone's bytes.
  return write_song(o, "render", in.text, o.rtttl ? "<converted>" : in.source,
                    o.output.value_or("-"));
}

constexpr OptionHelp kOptions[] = {
    {Opt::text, "the song text, e.g. 'len:200;c;e;g', or the name of a MIDI file"},
    {Opt::file,
     "read the song text from FILE (- for standard input); one final line break is dropped"},
    {Opt::output,
     "write to FILE (- for standard output); an existing FILE is replaced only once the whole "
     "image is written"},
    {Opt::quiet, "no summary line"},
    {Opt::strict, "write nothing and fail if 'tuvello check' would warn"},
    {Opt::rtttl,
     "the input is an RTTTL ringtone: render what 'tuvello import' makes of it (its warnings go "
     "to standard error); one whose image would pass the limit is refused, naming the note where "
     "it does"},
    {Opt::octave_shift,
     "with --rtttl: how notes outside octaves 3 to 6 come into reach, as for 'tuvello import' "
     "(auto, the default; none; or N octaves)"},
    {Opt::midi, kMidiHelp},
    {Opt::track, kTrackHelp},
    {Opt::channel, kChannelHelp},
    {Opt::highest, kHighestHelp},
    {Opt::lowest, kLowestHelp},
    {Opt::first, kFirstHelp},
    {Opt::velocity, kVelocityHelp},
    {Opt::max_bytes,
     "fail instead of producing an image longer than N bytes (44 to 2147483647, the default)"},
    {Opt::max_input,
     "refuse a song text longer than N bytes (a K, M or G suffix multiplies by 1024, 1024^2, "
     "1024^3; default 64M)"},
    {Opt::help, "show this help"},
    {Opt::version, "show the version"},
};

}  // namespace

const Command kRenderCommand = {
    "render",
    "write the WAV image of a song text to a file or a pipe",
    kOptions,
    R"(Renders a song text and writes its WAV image to FILE, or to standard output
(the default, or -o -), which must not be a terminal. Without TEXT or -f the
text is read from standard input; when that is a terminal, the built-in demo
song is rendered. A MIDI file, named as TEXT or with -f, is found by its
"MThd" header and rendered as 'tuvello import' converts it. The song text's
warnings, the first 10 of them, and a summary line (output, notes, pauses,
seconds, bytes, warnings) go to standard error.)",
    R"(Exit status: 0 written; 1 rendering failed (out of memory, image too long), a
warning under --strict, or the output could not be written; 2 usage error or
unreadable input.)",
    run,
};

}  // namespace tuvello::cli
