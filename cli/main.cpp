// SPDX-License-Identifier: MIT
// tuvello: renders song texts to WAV files, plays them and checks them for
// commands that do not do what they seem to.
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "demo_song.hpp"
#include "image/song_stream.hpp"
#include "import.hpp"
#include "io.hpp"
#include "notes.hpp"
#include "output_file.hpp"
#include "plot.hpp"
#include "tuvello.h"
#ifdef TUVELLO_HAVE_PLAY
#include "play.hpp"
#endif

namespace {

using namespace tuvello::cli;

constexpr int kOk = 0;
constexpr int kFailed = 1;  // check found something; rendering, playing or writing failed
constexpr int kUsage = 2;

constexpr std::size_t kDefaultMaxInput = std::size_t{64} << 20;

#ifdef TUVELLO_HAVE_PLAY
#define TUVELLO_PLAY_LINE "  play     play a song text on the default sound device\n"
#else
#define TUVELLO_PLAY_LINE
#endif

constexpr const char* kToolHelp =
    R"(Usage: tuvello COMMAND [OPTIONS] [TEXT]

Renders song texts such as 'len:200;vol:80;c;e;g;p;c' to WAV files (16-bit PCM,
mono, 22050 frames per second), plays them, and finds commands that do not do
what they seem to.

Commands:
  render   write the WAV image of a song text to a file or a pipe
)" TUVELLO_PLAY_LINE
    R"(  check    report every command that has no effect or not the one it seems to
  notes    list each note: its command, its time and its place in the WAV image
  import   convert an RTTTL ringtone into song text
  plot     draw the notes of a song text as an SVG picture
  demo     write the built-in demo song to demo.wav
  help     show this help, or with COMMAND that command's help

Options:
  -h, --help     show this help ('tuvello COMMAND --help' for a command's)
  -V, --version  show the version

The song text is TEXT, or read from -f FILE (- for standard input), or else
from standard input; only when standard input is a terminal is the built-in
demo song taken instead. Empty input is an empty song. One line break ("\n" or
"\r\n") at the end of a file or of standard input is dropped, since editors add
it; every other byte, line breaks included, is part of the song text, which
ends at its first NUL byte.

Files are written whole or not at all: a regular file is replaced by a
temporary file beside it (synced, then renamed over it), keeping its mode and,
where permitted, its owner, never a set-user-ID or set-group-ID bit; a link is
followed to its final target; a device, FIFO or socket is written directly.
A signal that ends the tool (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1,
SIGALRM, ...) during a write removes the temporary file first.

Exit status: 0 success; 1 check found something, a warning under --strict, or
rendering, playing or writing failed (out of memory included); 2 usage error
(bad options, unreadable input, input longer than --max-input, binary output to
a terminal).
)";

constexpr const char* kRenderHelp =
    R"(Usage: tuvello render [TEXT | -f FILE] [-o FILE] [-q] [--strict] [--rtttl]
                      [--max-bytes N] [--max-input N]

Renders a song text and writes its WAV image to FILE, or to standard output
(the default, or -o -), which must not be a terminal. Without TEXT or -f the
text is read from standard input; when that is a terminal, the built-in demo
song is rendered. A summary line (output, notes, seconds, bytes, warnings) goes
to standard error.

  TEXT               the song text, e.g. 'len:200;c;e;g'
  -f, --file FILE    read the song text from FILE (- for standard input); one
                     final line break is dropped
  -o, --output FILE  write to FILE (- for standard output); an existing FILE is
                     replaced only once the whole image is written
  -q, --quiet        no summary line
  --strict           write nothing and fail if 'tuvello check' would warn
  --rtttl            the input is an RTTTL ringtone: render what 'tuvello
                     import' makes of it (its warnings go to standard error);
                     one whose image would pass the limit is refused, naming
                     the note where it does
  --max-bytes N      fail instead of producing an image longer than N bytes
                     (44 to 2147483647, the default)
  --max-input N      refuse a song text longer than N bytes (a K, M or G
                     suffix multiplies by 1024, 1024^2, 1024^3; default 64M)
  -h, --help         show this help
  -V, --version      show the version

Exit status: 0 written; 1 rendering failed (out of memory, image too long), a
warning under --strict, or the output could not be written; 2 usage error or
unreadable input.
)";

constexpr const char* kPlayHelp =
    R"(Usage: tuvello play [TEXT | -f FILE] [-q] [--strict] [--rtttl] [--max-input N]

Plays a song text on the default sound device (ALSA's "default"), as it is
rendered, and returns once the device has played all of it. Without TEXT or -f
the text is read from standard input; when that is a terminal, the built-in
demo song is played. A summary line (notes, seconds, warnings) goes to standard
error. SIGINT (Ctrl-C) stops the sound at once.

  TEXT             the song text, e.g. 'len:200;c;e;g'
  -f, --file FILE  read the song text from FILE (- for standard input); one
                   final line break is dropped
  -q, --quiet      no summary line
  --strict         play nothing and fail if 'tuvello check' would warn
  --rtttl          the input is an RTTTL ringtone: play what 'tuvello import'
                   makes of it (its warnings go to standard error)
  --max-input N    refuse a song text longer than N bytes (K, M or G suffix;
                   default 64M)
  -h, --help       show this help
  -V, --version    show the version

Exit status: 0 played; 1 no sound device, the device is busy or failed, out of
memory, or a warning under --strict; 2 usage error or unreadable input.
)";

constexpr const char* kCheckHelp = R"(Usage: tuvello check [TEXT | -f FILE] [--max-input N]

Reads a song text the way the library does and reports, one line each, every
command that has no effect or probably not the one meant: unknown keys, empty
commands, values out of range, values that are not numbers or only partly,
values on notes, numbers beyond 32 bits, line breaks or tabs that hide keys,
settings that no note follows. Lines have the form

  FILE:LINE:COLUMN: warning: command N 'COMMAND': REASON

where LINE counts the text's line breaks ("\n") from 1 and COLUMN is the
1-based byte column of the command's first byte in that line (line breaks are
ordinary bytes to the library, not separators); FILE is the file name,
<argument>, <stdin> or <demo>. Control bytes are shown escaped (\t \r \n \xHH).
A summary line (notes, seconds, warnings) ends the report. Each warning is
printed as it is found.

Without TEXT or -f the text is read from standard input; when that is a
terminal, the built-in demo song is checked.

  TEXT             the song text, e.g. 'len:200;c;e;g'
  -f, --file FILE  read the song text from FILE (- for standard input); one
                   final line break is dropped
  --max-input N    refuse a song text longer than N bytes (K, M or G suffix;
                   default 64M)
  -h, --help       show this help
  -V, --version    show the version

Exit status: 0 nothing to report; 1 something reported, out of memory, or the
report could not be written; 2 usage error or unreadable input.
)";

constexpr const char* kNotesHelp =
    R"(Usage: tuvello notes [TEXT | -f FILE] [--json] [--max-input N]

Prints the note map of a song text: one line per note or pause, in the order
they play, after a header line of tab-separated column names:

  note command offset length line column start seconds image_offset bytes
  frames pitch_hz amplitude pipe decay text

note and command count from 1; offset and length give the command's bytes in
the text (offset from 0), line and column its place as tuvello check shows it;
start and seconds its time in the song; image_offset and bytes its note block
in the WAV image; frames the frames that carry the tone; pitch_hz the pitch
heard (0 for a pause); amplitude the peak sample value at the block's start;
pipe and decay 1 when on; text the command as written (escaped as by check).
With --json each note is one JSON object per line, with the same names.

Without TEXT or -f the text is read from standard input; when that is a
terminal, the built-in demo song is listed.

  TEXT             the song text, e.g. 'len:200;c;e;g'
  -f, --file FILE  read the song text from FILE (- for standard input); one
                   final line break is dropped
  --json           one JSON object per note instead of the table
  --max-input N    refuse a song text longer than N bytes (K, M or G suffix;
                   default 64M)
  -h, --help       show this help
  -V, --version    show the version

Exit status: 0 listed; 1 the song's image would pass 2147483647 bytes (nothing
is listed) or the list could not be written; 2 usage error or unreadable input.
)";

constexpr const char* kImportHelp =
    R"(Usage: tuvello import [RTTTL | -f FILE] [-o FILE] [--strict] [--max-input N]

Converts an RTTTL ringtone such as 'tune:d=4,o=5,b=125:8c6,8e6,g6,p,2c7' into
song text, and prints it (one line) or writes it to FILE. What the song text
cannot keep as written is reported on standard error, one line each:

  FILE:LINE:COLUMN: warning: MESSAGE

where FILE is the file name, <argument> or <stdin>, and LINE and COLUMN locate
the byte concerned in the ringtone: octaves out of reach (3 to 6 play exactly;
others move to 3 or 6), notes shorter than 20 ms (played as 20 ms) or longer
than 500 ms (played as repeated notes), a tune whose length drifts by more than
1 %, and malformed parts (missing sections, unknown settings or notes, bad
numbers), which are skipped or read as RTTTL players read them. Settings left
out are d=4, o=6, b=63. One ringtone per input.

Without RTTTL or -f the ringtone is read from standard input, which must not
be a terminal.

  RTTTL              the ringtone, e.g. 'tune:d=8,o=5,b=150:c,e,g'
  -f, --file FILE    read the ringtone from FILE (- for standard input)
  -o, --output FILE  write the song text to FILE (- for standard output, the
                     default); an existing FILE is replaced only once the
                     whole text is written
  --strict           write nothing and fail if there is any warning
  --max-input N      refuse a ringtone longer than N bytes (K, M or G suffix;
                     default 64M)
  -h, --help         show this help
  -V, --version      show the version

Exit status: 0 converted (warnings or not); 1 a warning under --strict, or the
output could not be written; 2 usage error or unreadable input.
)";

constexpr const char* kDemoHelp = R"(Usage: tuvello demo [-o FILE] [-q] [--text]

Writes the built-in demo song, a short melody that uses every key of the song
text notation, to demo.wav or FILE (- for standard output, which must not be a
terminal). A summary line (output, notes, seconds, bytes) goes to standard
error.

  -o, --output FILE  write to FILE instead of demo.wav; an existing FILE is
                     replaced only once the whole image is written
  -q, --quiet        no summary line
  --text             print the demo's song text instead
  -h, --help         show this help
  -V, --version      show the version

Exit status: 0 written; 1 the output could not be written; 2 usage error.
)";

constexpr const char* kPlotHelp =
    R"(Usage: tuvello plot [TEXT | -f FILE] [-o FILE] [-q] [--max-input N]

Draws the notes of a song text as an SVG picture and writes it to FILE, or to
standard output (the default, or -o -): a piano roll of pitch over time with
the note names (opacity shows the amplitude; pipe notes are hatched, decaying
notes fade out), the amplitude envelope under it and the time in seconds. It
is the picture the playground page shows; notes narrower than a pixel are drawn
together, one bar a pixel wide. Without TEXT or -f the text is read from
standard input; when that is a terminal, the built-in demo song is drawn.
A summary line (output, notes, seconds) goes to standard error.

  TEXT               the song text, e.g. 'len:200;c;e;g'
  -f, --file FILE    read the song text from FILE (- for standard input); one
                     final line break is dropped
  -o, --output FILE  write to FILE (- for standard output); an existing FILE is
                     replaced only once the whole picture is written
  -q, --quiet        no summary line
  --max-input N      refuse a song text longer than N bytes (a K, M or G
                     suffix multiplies by 1024, 1024^2, 1024^3; default 64M)
  -h, --help         show this help
  -V, --version      show the version

Exit status: 0 written; 1 the song's image would pass 2147483647 bytes, or the
output could not be written; 2 usage error or unreadable input.
)";

enum class Command { render, play, check, notes, import, plot, demo };

struct CommandInfo {
  const char* name;
  Command command;
  const char* help;
};

constexpr CommandInfo kCommands[] = {
    {"render", Command::render, kRenderHelp},
#ifdef TUVELLO_HAVE_PLAY
    {"play", Command::play, kPlayHelp},
#endif
    {"check", Command::check, kCheckHelp},    {"notes", Command::notes, kNotesHelp},
    {"import", Command::import, kImportHelp}, {"plot", Command::plot, kPlotHelp},
    {"demo", Command::demo, kDemoHelp},
};

#ifdef TUVELLO_HAVE_PLAY
constexpr const char* kCommandList = "render, play, check, notes, import, plot, demo or help";
#else
constexpr const char* kCommandList = "render, check, notes, import, plot, demo or help";
#endif

const CommandInfo* find_command(std::string_view name) {
  for (const CommandInfo& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

struct Options {
  Command command = Command::render;
  std::optional<std::string> text;
  std::optional<std::string> file;
  std::optional<std::string> output;
  bool quiet = false;
  bool print_text = false;
  bool strict = false;
  bool rtttl = false;  // the input is an RTTTL ringtone
  bool json = false;   // notes: JSON lines instead of a table
  std::int64_t max_bytes = tuvello::image::kMaxImageBytes;
  std::size_t max_input = kDefaultMaxInput;
};

int write_failed(const char* context) {
  std::fprintf(stderr, "tuvello%s%s: cannot write to standard output: %s\n", *context ? " " : "",
               context, std::strerror(errno));
  return kFailed;
}

// Prints text that needs no check of its own (help, version) and reports a
// write error.
int print_and_finish(std::string_view text, const char* context) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  return finish_stdout() ? kOk : write_failed(context);
}

int print_version(const char* context) {
  char line[64];
  std::snprintf(line, sizeof line, "tuvello %d.%d.%d\n", TUVELLO_VERSION_MAJOR,
                TUVELLO_VERSION_MINOR, TUVELLO_VERSION_PATCH);
  return print_and_finish(line, context);
}

int usage_error(std::string_view command, const std::string& message) {
  const std::string c = command.empty() ? "" : " " + std::string(command);
  std::fprintf(stderr, "tuvello%s: %s\nTry 'tuvello%s --help'.\n", c.c_str(), message.c_str(),
               c.c_str());
  return kUsage;
}

std::optional<std::int64_t> parse_max_bytes(const std::string& s) {
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 10) {
    return std::nullopt;
  }
  const std::int64_t n = std::strtoll(s.c_str(), nullptr, 10);
  if (n < tuvello::image::kHeaderBytes || n > tuvello::image::kMaxImageBytes) return std::nullopt;
  return n;
}

// "N", "NK", "NM" or "NG", 1 to 2^40 bytes.
std::optional<std::size_t> parse_max_input(std::string s) {
  int shift = 0;
  if (!s.empty()) {
    switch (s.back()) {
      case 'K':
      case 'k':
        shift = 10;
        break;
      case 'M':
      case 'm':
        shift = 20;
        break;
      case 'G':
      case 'g':
        shift = 30;
        break;
      default:
        break;
    }
    if (shift != 0) s.pop_back();
  }
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 13) {
    return std::nullopt;
  }
  const unsigned long long n = std::strtoull(s.c_str(), nullptr, 10) << shift;
  if (n == 0 || n > (1ULL << 40) || (n >> shift) != std::strtoull(s.c_str(), nullptr, 10)) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(n);
}

// The option getopt_long stopped at: "--name" as written, or "-x" for a short
// one, also inside a group such as -qx.
std::string shown_option(const std::string& seen, const std::string& long_name) {
  if (seen.starts_with("--")) return escape_name(long_name);
  return escape_name(std::string("-") + static_cast<char>(optopt));
}

enum LongOnly { kStrict = 256, kMaxBytes, kMaxInput, kText, kRtttl, kJson };

// Parses the arguments after the command name (argv[0] is the command name).
// Returns an error message, or nullopt; sets *exit_now for --help and
// --version.
std::optional<std::string> parse_options(int argc, char** argv, const CommandInfo& info, Options& o,
                                         std::optional<int>* exit_now) {
  const Command c = info.command;
  const bool takes_text = c != Command::demo;
  const bool writes =
      c == Command::render || c == Command::demo || c == Command::import || c == Command::plot;
  // a summary -q silences
  const bool says = c != Command::check && c != Command::notes && c != Command::import;

  std::vector<option> longs;
  std::string shorts = ":hV";  // ':' first: a missing value is reported as ':'
  const auto add = [&](const char* name, int has_arg, int val) {
    longs.push_back({name, has_arg, nullptr, val});
    if (val < 256) {
      shorts += static_cast<char>(val);
      if (has_arg == required_argument) shorts += ':';
    }
  };
  longs.push_back({"help", no_argument, nullptr, 'h'});
  longs.push_back({"version", no_argument, nullptr, 'V'});
  if (takes_text) {
    add("file", required_argument, 'f');
    add("max-input", required_argument, kMaxInput);
  }
  if (writes) add("output", required_argument, 'o');
  if (says) add("quiet", no_argument, 'q');
  if (c == Command::render || c == Command::play || c == Command::import) {
    add("strict", no_argument, kStrict);
  }
  if (c == Command::render || c == Command::play) add("rtttl", no_argument, kRtttl);
  if (c == Command::render) add("max-bytes", required_argument, kMaxBytes);
  if (c == Command::demo) add("text", no_argument, kText);
  if (c == Command::notes) add("json", no_argument, kJson);
  longs.push_back({nullptr, 0, nullptr, 0});

  opterr = 0;
  optind = 1;
  for (;;) {
    const int previous = optind;
    const int opt = getopt_long(argc, argv, shorts.c_str(), longs.data(), nullptr);
    if (opt == -1) break;
    // The argument getopt just looked at, for messages.
    const std::string seen = argv[optind - 1] != nullptr && optind > previous
                                 ? std::string(argv[optind - 1])
                                 : std::string(argv[previous]);
    const std::string long_name = seen.substr(0, seen.find('='));
    switch (opt) {
      case 'h':
        *exit_now = print_and_finish(info.help, info.name);
        return std::nullopt;
      case 'V':
        *exit_now = print_version(info.name);
        return std::nullopt;
      case 'f':
        if (o.file) return "more than one -f given";
        o.file = optarg;
        break;
      case 'o':
        if (o.output) return "more than one -o given";
        if (*optarg == '\0') return "empty output file name";
        o.output = optarg;
        break;
      case 'q':
        o.quiet = true;
        break;
      case kStrict:
        o.strict = true;
        break;
      case kText:
        o.print_text = true;
        break;
      case kRtttl:
        o.rtttl = true;
        break;
      case kJson:
        o.json = true;
        break;
      case kMaxBytes: {
        const std::optional<std::int64_t> n = parse_max_bytes(optarg);
        if (!n) return "--max-bytes needs a whole number from 44 to 2147483647";
        o.max_bytes = *n;
        break;
      }
      case kMaxInput: {
        const std::optional<std::size_t> n = parse_max_input(optarg);
        if (!n) return "--max-input needs a whole number of bytes from 1 to 1024G (K, M, G suffix)";
        o.max_input = *n;
        break;
      }
      case ':':
        return "option '" + shown_option(seen, long_name) + "' needs a value";
      default:
        return "unknown option '" + shown_option(seen, long_name) + "'";
    }
  }
  for (int i = optind; i < argc; ++i) {
    const std::string a = argv[i];
    if (!takes_text) return "unexpected argument '" + escape_name(a) + "'";
    if (a == "-") {
      // "-" as the text means: read it from standard input.
      if (o.file) return "more than one -f given";
      o.file = a;
      continue;
    }
    if (o.text) {
      return c == Command::import || o.rtttl
                 ? "more than one ringtone given (quote it: 't:d=8,o=5,b=150:c,e,g')"
                 : "more than one song text given (quote the text: 'c;e;g')";
    }
    o.text = a;
  }
  if (o.text && o.file) {
    return c == Command::import || o.rtttl
               ? "give the ringtone either as RTTTL or with -f, not both"
               : "give the song text either as TEXT or with -f, not both";
  }
  return std::nullopt;
}

struct Input {
  InputBuffer buffer;
  std::string_view text;  // NUL-terminated: text.data()[text.size()] is 0, for C calls
  std::string source;     // for messages: a file name (escaped), <argument>, <stdin> or <demo>
};

// Reads the song text as the options say. Returns an exit status after
// reporting a failure, or nullopt.
std::optional<int> read_input(const Options& o, const char* command, Input& in) {
  const bool ringtone = o.rtttl || o.command == Command::import;
  if (o.text) {
    in.text = *o.text;
    in.source = "<argument>";
    return std::nullopt;
  }
  const bool from_stdin = !o.file || *o.file == "-";
  if (!o.file && ::isatty(STDIN_FILENO)) {
    // A person at a terminal with nothing to type: the demo shows what the tool does.
    in.text = kDemoSong;
    in.source = "<demo>";
    return std::nullopt;
  }
  in.source = from_stdin ? "<stdin>" : escape_name(*o.file);
  const std::string shown = from_stdin ? "standard input" : "'" + in.source + "'";
  int fd = STDIN_FILENO;
  if (!from_stdin) {
    fd = ::open(o.file->c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(stderr, "tuvello %s: cannot read %s: %s\n", command, shown.c_str(),
                   std::strerror(errno));
      return kUsage;
    }
  }
  const InputBuffer::Status status = in.buffer.read_all(fd, o.max_input);
  const int saved = errno;
  if (!from_stdin) ::close(fd);
  switch (status) {
    case InputBuffer::Status::ok:
      break;
    case InputBuffer::Status::unreadable:
      std::fprintf(stderr, "tuvello %s: cannot read %s: %s\n", command, shown.c_str(),
                   std::strerror(saved));
      return kUsage;
    case InputBuffer::Status::too_long:
      std::fprintf(stderr,
                   "tuvello %s: the %s in %s is longer than %zu bytes; "
                   "raise --max-input to read it\n",
                   command, ringtone ? "ringtone" : "song text", shown.c_str(), o.max_input);
      return kUsage;
    case InputBuffer::Status::out_of_memory:
      std::fprintf(stderr, "tuvello %s: out of memory reading %s\n", command, shown.c_str());
      return kFailed;
  }
  in.buffer.drop_final_line_break();
  in.text = in.buffer.view();
  return std::nullopt;
}

// ", 3 warnings (tuvello check shows them)" for a summary line.
std::string warnings_phrase(std::size_t warnings) {
  std::string s = ", " + plural(warnings, "warning");
  if (warnings > 0)
    s += warnings == 1 ? " (tuvello check shows it)" : " (tuvello check shows them)";
  return s;
}

// A TEXT that names a file was probably meant for -f.
void hint_if_text_is_a_file(const Options& o, const char* command, std::size_t warnings) {
  struct stat st {};
  if (!o.text || warnings == 0 || ::stat(o.text->c_str(), &st) != 0) return;
  const std::string name = escape_name(*o.text);
  std::fprintf(stderr, "tuvello %s: '%s' was read as a song text; to read the file, use -f '%s'\n",
               command, name.c_str(), name.c_str());
}

int refuse_strict(const char* command, std::size_t warnings, const char* nothing) {
  std::fprintf(
      stderr, "tuvello %s: %s%s; --strict: %s\n", command, plural(warnings, "warning").c_str(),
      warnings == 1 ? " (tuvello check shows it)" : " (tuvello check shows them)", nothing);
  return kFailed;
}

std::size_t count_warnings(std::string_view text, CheckSummary* summary) {
  const auto keep_going = [](const Diagnostic&) { return true; };
  *summary = for_each_warning(text, keep_going);
  return summary->warnings;
}

// Writes the song image of `text` (NUL-terminated) to `output`.
int write_song(const Options& o, const char* command, std::string_view text,
               const std::string& output) {
  const bool to_stdout = output == "-";
  bool terminal = false;
  if (to_stdout) {
    terminal = ::isatty(STDOUT_FILENO) != 0;
  } else if (const std::optional<ResolvedPath> r = resolve_output(output)) {
    terminal = r->terminal;
  }
  if (terminal) {
    std::fprintf(stderr,
                 "tuvello %s: refusing to write a WAV image to a terminal; "
                 "use -o FILE or a pipe\n",
                 command);
    return kUsage;
  }

  CheckSummary summary;
  const std::size_t warnings = count_warnings(text, &summary);
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
  const auto size = static_cast<std::size_t>(measured);
  const double seconds =
      static_cast<double>(measured - tuvello::image::kHeaderBytes) / tuvello::image::kByteRate;

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
    std::fprintf(stderr, "wrote %s: %s, %.3f s, %lld bytes%s\n",
                 to_stdout ? "<stdout>" : escape_name(output).c_str(),
                 plural(summary.notes, "note").c_str(), seconds, static_cast<long long>(size),
                 warnings_phrase(warnings).c_str());
  }
  hint_if_text_is_a_file(o, command, warnings);
  return kOk;
}

int run_check(const Input& in) {
  Locator locate(in.source, in.text);
  const auto print = [&locate](const Diagnostic& d) {
    return print_line(format_warning(locate(d.column - 1), d));
  };
  const CheckSummary summary = for_each_warning(in.text, print);
  if (!print_line(format_summary(in.source, summary)) || !finish_stdout()) {
    return write_failed("check");
  }
  return summary.warnings == 0 ? kOk : kFailed;
}

int run_import(const Options& o, const ConvertedRingtone& song) {
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

int run_plot(const Options& o, const Input& in) {
  const std::optional<Plot> plot = plot_song(in.text);
  if (!plot) {
    std::fprintf(stderr,
                 "tuvello plot: the song's image would pass 2147483647 bytes; nothing written\n");
    return kFailed;
  }
  const std::string& svg = plot->svg;
  const std::string output = o.output.value_or("-");
  std::optional<std::string> error;
  if (output == "-") {
    if (!write_all(STDOUT_FILENO, reinterpret_cast<const std::uint8_t*>(svg.data()), svg.size())) {
      error = std::string("cannot write to standard output: ") + std::strerror(errno);
    }
  } else {
    error = write_whole_file(output, svg.data(), svg.size());
  }
  if (error) {
    std::fprintf(stderr, "tuvello plot: %s\n", error->c_str());
    return kFailed;
  }
  if (!o.quiet) {
    std::fprintf(stderr, "wrote %s: %s, %.3f s\n",
                 output == "-" ? "<stdout>" : escape_name(output).c_str(),
                 plural(plot->tones, "note").c_str(), plot->seconds);
  }
  return kOk;
}

int run_notes(const Options& o, const Input& in) {
  switch (print_note_map(in.text, o.json)) {
    case NoteMapResult::too_long:
      std::fputs("tuvello notes: the song's image would pass 2147483647 bytes; no note is listed\n",
                 stderr);
      return kFailed;
    case NoteMapResult::write_failed:
      return write_failed("notes");
    case NoteMapResult::printed:
      break;
  }
  return finish_stdout() ? kOk : write_failed("notes");
}

#ifdef TUVELLO_HAVE_PLAY
int run_play(const Options& o, const Input& in) {
  CheckSummary summary;
  const std::size_t warnings = count_warnings(in.text, &summary);
  if (o.strict && warnings > 0) return refuse_strict("play", warnings, "nothing played");
  const int status = play_song(in.text.data());
  if (status == kOk && !o.quiet) {
    std::fprintf(stderr, "played %s: %s, %.3f s%s\n", in.source.c_str(),
                 plural(summary.notes, "note").c_str(), summary.seconds,
                 warnings_phrase(warnings).c_str());
  }
  if (status == kOk) hint_if_text_is_a_file(o, "play", warnings);
  return status;
}
#endif

int run(int argc, char** argv) {
  if (argc < 2) return usage_error("", std::string("no command given (") + kCommandList + ")");
  const std::string_view name = argv[1];
  if (name == "-h" || name == "--help") return print_and_finish(kToolHelp, "");
  if (name == "-V" || name == "--version") return print_version("");
  if (name == "help") {
    // "help" is described by the tool's own help, which --help also asks for.
    if (argc == 2 || (argc == 3 && (std::string_view(argv[2]) == "-h" ||
                                    std::string_view(argv[2]) == "--help"))) {
      return print_and_finish(kToolHelp, "");
    }
    const CommandInfo* info = argc == 3 ? find_command(argv[2]) : nullptr;
    if (info == nullptr) {
      return usage_error("help", "no such command '" + escape_name(argc == 3 ? argv[2] : "") +
                                     "' (" + kCommandList + ")");
    }
    return print_and_finish(info->help, "help");
  }
  const CommandInfo* info = find_command(name);
  if (info == nullptr) {
    return usage_error("", "unknown command '" + escape_name(name) + "' (" + kCommandList + ")");
  }

  Options o;
  o.command = info->command;
  std::optional<int> exit_now;
  if (const std::optional<std::string> error =
          parse_options(argc - 1, argv + 1, *info, o, &exit_now)) {
    return usage_error(name, *error);
  }
  if (exit_now) return *exit_now;

  if (o.command == Command::demo) {
    if (o.print_text) {
      return print_line(kDemoSong) && finish_stdout() ? kOk : write_failed("demo");
    }
    return write_song(o, "demo", kDemoSong, o.output.value_or("demo.wav"));
  }
  const bool ringtone = o.rtttl || o.command == Command::import;
  if (ringtone && !o.text && !o.file && ::isatty(STDIN_FILENO)) {
    return usage_error(name,
                       "no ringtone given (give it as an argument, with -f FILE, or on "
                       "standard input)");
  }
  Input in;
  if (const std::optional<int> failed = read_input(o, info->name, in)) return *failed;
  ConvertedRingtone converted;
  if (ringtone) {
    if (o.command == Command::import) return run_import(o, convert_ringtone(in.text, in.source));
    const std::int64_t limit = o.command == Command::render ? o.max_bytes : INT32_MAX;
    RingtoneSong song = convert_ringtone_within(in.text, in.source, limit);
    if (song.too_long) {
      std::string where;
      if (song.located) {
        where = " at the ringtone's note at " + Locator(in.source, in.text)(song.passes_at) +
                " (byte " + std::to_string(song.passes_at) + ")";
      }
      std::fprintf(stderr, "tuvello %s: the song's image would pass %lld bytes%s; nothing %s\n",
                   info->name, static_cast<long long>(limit), where.c_str(),
                   o.command == Command::play ? "played" : "written");
      return kFailed;
    }
    converted = std::move(song.song);
    if (o.strict && converted.warnings > 0) {
      std::fprintf(stderr, "tuvello %s: %s in the ringtone; --strict: %s\n", info->name,
                   plural(converted.warnings, "warning").c_str(),
                   o.command == Command::play ? "nothing played" : "nothing written");
      return kFailed;
    }
    in.text = converted.text;
  }
  switch (o.command) {
    case Command::render:
      return write_song(o, "render", in.text, o.output.value_or("-"));
    case Command::check:
      return run_check(in);
    case Command::plot:
      return run_plot(o, in);
    case Command::notes:
      return run_notes(o, in);
    case Command::play:
#ifdef TUVELLO_HAVE_PLAY
      return run_play(o, in);
#endif
    case Command::import:
    case Command::demo:
      break;
  }
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // A file size limit then fails the write, which is reported and cleaned up,
  // instead of killing the tool with a temporary file left behind.
  ::signal(SIGXFSZ, SIG_IGN);
  install_cleanup_on_signals();
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("tuvello: out of memory\n", stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tuvello: %s\n", e.what());
  }
  return kFailed;
}
