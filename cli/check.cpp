// SPDX-License-Identifier: MIT
// `tuvello check`: the library's warnings about a song text (those of
// TUVELLO_ForEachWarning), as compiler-style lines, and the song's summary.
#include <cstdio>
#include <string>

#include "command.hpp"
#include "options.hpp"
#include "report.hpp"
#include "tuvello.h"

namespace tuvello::cli {
namespace {

class Printer final : public WarningLines {
 public:
  bool line(const std::string& text, bool) override { return ok = print_line(text); }
  bool ok = true;
};

int run(const Options&, Input& in) {
  Printer out;
  const std::size_t warnings = report_warnings(in.text, in.source, out);
  if (!out.ok ||
      !print_line(in.source + ": " + song_phrase(summarize_song(in.text)) + ", " +
                  plural(warnings, "warning")) ||
      !finish_stdout()) {
    return write_failed("check");
  }
  return warnings == 0 ? kOk : kFailed;
}

constexpr OptionHelp kOptions[] = {
    {Opt::text, "the song text, e.g. 'len:200;c;e;g'"},
    {Opt::file,
     "read the song text from FILE (- for standard input); one final line break is dropped"},
    {Opt::max_input, "refuse a song text longer than N bytes (K, M or G suffix; default 64M)"},
    {Opt::help, "show this help"},
    {Opt::version, "show the version"},
};

}  // namespace

const Command kCheckCommand = {
    "check",
    "report every command that has no effect or not the one it seems to",
    kOptions,
    R"(Reads a song text the way the library does and reports, one line each, every
command that has no effect or probably not the one meant: unknown keys, empty
commands, values out of range, values that are not numbers or only partly,
values on notes, numbers beyond 32 bits, line breaks or tabs that hide keys,
settings that no note follows. Lines have the form

  FILE:LINE:COLUMN: warning: command N 'COMMAND': REASON

where LINE counts the text's line breaks ("\n") from 1 and COLUMN is the
1-based byte column of the command's first byte in that line (line breaks are
ordinary bytes to the library, not separators); FILE is the file name,
<argument>, <stdin> or <demo>. Control bytes are shown escaped (\t \r \n \xHH).
A warning whose command begins with a line break is followed by a note on
writing the song on one line. A summary line (notes, pauses, seconds,
warnings) ends the report. Each warning is printed as it is found.

Without TEXT or -f the text is read from standard input; when that is a
terminal, the built-in demo song is checked.)",
    R"(Exit status: 0 nothing to report; 1 something reported, out of memory, or the
report could not be written; 2 usage error or unreadable input.)",
    run,
};

}  // namespace tuvello::cli
