// SPDX-License-Identifier: MIT
// `tuvello demo`: the built-in demo song, as a WAV file or as its text.
#include "command.hpp"
#include "demo_song.hpp"
#include "options.hpp"

namespace tuvello::cli {
namespace {

int run(const Options& o, Input&) {
  if (o.print_text) return print_line(kDemoSong) && finish_stdout() ? kOk : write_failed("demo");
  return write_song(o, "demo", kDemoSong, "<demo>", o.output.value_or("demo.wav"));
}

constexpr OptionHelp kOptions[] = {
    {Opt::output,
     "write to FILE instead of demo.wav; an existing FILE is replaced only once the whole image "
     "is written"},
    {Opt::quiet, "no summary line"},
    {Opt::print_text, "print the demo's song text instead"},
    {Opt::help, "show this help"},
    {Opt::version, "show the version"},
};

}  // namespace

const Command kDemoCommand = {
    "demo",
    "write the built-in demo song to demo.wav",
    kOptions,
    R"(Writes the built-in demo song, a short melody that uses every key of the song
text notation, to demo.wav or FILE (- for standard output, which must not be a
terminal). A summary line (output, notes, pauses, seconds, bytes) goes to
standard error.)",
    R"(Exit status: 0 written; 1 the output could not be written; 2 usage error.)",
    run,
};

}  // namespace tuvello::cli
