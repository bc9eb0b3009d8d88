// SPDX-License-Identifier: MIT
// `tuvello plot`: the picture of a song (plot_svg.cpp) as an SVG file.
#include "plot.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "command.hpp"
#include "output_file.hpp"
#include "report.hpp"
#include "tuvello.h"

namespace tuvello::cli {

namespace {

int run(const Options& o, Input& in) {
  const std::optional<Plot> plot = plot_song(in.text);
  if (!plot) {
    std::fprintf(stderr,
                 "tuvello plot: the song's image would pass 2147483647 bytes; nothing written\n");
    return kFailed;
  }
  const std::string output = o.output.value_or("-");
  std::optional<std::string> error;
  if (output == "-") {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(plot->svg.data());
    if (!write_all(STDOUT_FILENO, bytes, plot->svg.size())) {
      error = std::string("cannot write to standard output: ") + std::strerror(errno);
    }
  } else {
    error = write_whole_file(output, plot->svg.data(), plot->svg.size());
  }
  if (error) {
    std::fprintf(stderr, "tuvello plot: %s\n", error->c_str());
    return kFailed;
  }
  if (!o.quiet) {
    SongSummary song;
    song.notes = plot->tones;
    song.pauses = plot->pauses;
    song.seconds = plot->seconds;
    std::fprintf(stderr, "wrote %s: %s\n", output == "-" ? "<stdout>" : escape_name(output).c_str(),
                 song_phrase(song).c_str());
  }
  return kOk;
}

constexpr OptionHelp kOptions[] = {
    {Opt::text, "the song text, e.g. 'len:200;c;e;g'"},
    {Opt::file,
     "read the song text from FILE (- for standard input); one final line break is dropped"},
    {Opt::output,
     "write to FILE (- for standard output); an existing FILE is replaced only once the whole "
     "picture is written"},
    {Opt::quiet, "no summary line"},
    {Opt::max_input,
     "refuse a song text longer than N bytes (a K, M or G suffix multiplies by 1024, 1024^2, "
     "1024^3; default 64M)"},
    {Opt::help, "show this help"},
    {Opt::version, "show the version"},
};

}  // namespace

const Command kPlotCommand = {
    "plot",
    "draw the notes of a song text as an SVG picture",
    kOptions,
    R"(Draws the notes of a song text as an SVG picture and writes it to FILE, or to
standard output (the default, or -o -): a piano roll of pitch over time with
the note names (opacity shows the amplitude; pipe notes are hatched, decaying
notes fade out), the amplitude envelope under it and the time in seconds. It
is the picture the playground page shows; notes narrower than a pixel are drawn
together, one bar on their pitch's row for each stretch of them less than a
pixel apart, a pixel wide at least. Without TEXT or -f the text is read from
standard input; when that is a terminal, the built-in demo song is drawn.
A summary line (output, notes, pauses, seconds) goes to standard error.)",
    R"(Exit status: 0 written; 1 the song's image would pass 2147483647 bytes, or the
output could not be written; 2 usage error or unreadable input.)",
    run,
};

}  // namespace tuvello::cli
