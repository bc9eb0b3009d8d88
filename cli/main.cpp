// tuvello: renders song texts to WAV files and checks them for commands that
// do not do what they seem to.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "demo_song.hpp"
#include "image/create_song.hpp"
#include "io.hpp"
#include "tuvello.h"

namespace {

using namespace tuvello::cli;

constexpr int kOk = 0;
constexpr int kFailed = 1;  // check found something; rendering or writing failed
constexpr int kUsage = 2;

void print_version() {
  std::printf("tuvello %d.%d.%d\n", TUVELLO_VERSION_MAJOR, TUVELLO_VERSION_MINOR,
              TUVELLO_VERSION_PATCH);
}

constexpr const char* kToolHelp = R"(Usage: tuvello COMMAND [OPTIONS] [TEXT]

Renders song texts such as 'len:200;vol:80;c;e;g;p;c' to WAV files (16-bit PCM,
mono, 22050 frames per second) and finds commands that do not do what they seem to.

Commands:
  render   write the WAV image of a song text to a file or a pipe
  check    report every command that has no effect or not the one it seems to
  demo     write the built-in demo song to demo.wav

Options:
  -h, --help     show this help; 'tuvello COMMAND --help' shows a command's
  --version      show the version

The song text is TEXT, or read from -f FILE (- for standard input), or else
from standard input. One line break ("\n" or "\r\n") at the end of a file or of
standard input is dropped, since editors add it; every other byte, line breaks
included, is part of the song text, which ends at its first NUL byte.

Exit status: 0 success; 1 check found something, or rendering or writing
failed; 2 usage error (bad options, unreadable input, binary output to a
terminal).
)";

constexpr const char* kRenderHelp =
    R"(Usage: tuvello render [TEXT | -f FILE] [-o FILE] [-q] [--max-bytes N]

Renders a song text and writes its WAV image to FILE, or to standard output
(the default, or -o -), which must not be a terminal. Without TEXT or -f the
text is read from standard input; when that is a terminal or empty, the
built-in demo song is rendered. A summary line (output, notes, seconds, bytes)
goes to standard error.

  TEXT               the song text, e.g. 'len:200;c;e;g'
  -f, --file FILE    read the song text from FILE (- for standard input); one
                     final line break is dropped
  -o, --output FILE  write to FILE (- for standard output); an existing FILE is
                     replaced only once the whole image is written
  -q, --quiet        no summary line
  --max-bytes N      fail instead of producing an image longer than N bytes
                     (44 to 2147483647, the default)
  -h, --help         show this help
  --version          show the version

Exit status: 0 written; 1 rendering failed (out of memory, image too long) or
the output could not be written; 2 usage error.
)";

constexpr const char* kCheckHelp = R"(Usage: tuvello check [TEXT | -f FILE]

Reads a song text the way the library does and reports, one line each, every
command that has no effect or probably not the one meant: unknown keys, empty
commands, values out of range, values that are not numbers or only partly,
values on notes, numbers beyond 32 bits, line breaks or tabs that hide keys,
settings that no note follows. Lines have the form

  FILE:COLUMN: warning: command N 'COMMAND': REASON

where COLUMN is the 1-based byte column of the command in the text (a song text
is one line: line breaks are ordinary bytes) and FILE is the file name,
<argument>, <stdin> or <demo>. Control bytes are shown escaped (\t \r \n \xHH).
A summary line (notes, seconds, warnings) ends the report.

Without TEXT or -f the text is read from standard input; when that is a
terminal or empty, the built-in demo song is checked.

  TEXT             the song text, e.g. 'len:200;c;e;g'
  -f, --file FILE  read the song text from FILE (- for standard input); one
                   final line break is dropped
  -h, --help       show this help
  --version        show the version

Exit status: 0 nothing to report; 1 something reported; 2 usage error or
unreadable input.
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
  --version          show the version

Exit status: 0 written; 1 the output could not be written; 2 usage error.
)";

enum class Command { render, check, demo };

struct Options {
  Command command = Command::render;
  std::optional<std::string> text;
  std::optional<std::string> file;
  std::optional<std::string> output;
  bool quiet = false;
  bool print_text = false;
  std::int64_t max_bytes = tuvello::image::kMaxImageBytes;
};

int usage_error(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "tuvello%s%s: %s\nTry 'tuvello%s%s --help'.\n", command.empty() ? "" : " ",
               command.c_str(), message.c_str(), command.empty() ? "" : " ", command.c_str());
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

// Parses the arguments after the command name. Returns an error message, or
// nullopt; sets *exit_now for --help and --version.
std::optional<std::string> parse_options(const std::vector<std::string>& args, Options& o,
                                         const char* help, std::optional<int>* exit_now) {
  const bool takes_text = o.command != Command::demo;
  const bool writes = o.command != Command::check;
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (takes_text && !options_done && a == "-") {
      // "-" as the text means: read it from standard input.
      if (o.file) return "more than one -f given";
      o.file = a;
      continue;
    }
    if (options_done || a.empty() || a[0] != '-') {
      if (!takes_text) return "unexpected argument '" + escape_bytes(a) + "'";
      if (o.text) return "more than one song text given (quote the text: 'c;e;g')";
      o.text = a;
      continue;
    }
    if (a == "--") {
      options_done = true;
      continue;
    }
    if (a == "-h" || a == "--help") {
      std::fputs(help, stdout);
      *exit_now = kOk;
      return std::nullopt;
    }
    if (a == "--version") {
      print_version();
      *exit_now = kOk;
      return std::nullopt;
    }
    // Options with a value: "-o FILE", "-oFILE", "--output FILE", "--output=FILE".
    std::string name = a;
    std::optional<std::string> value;
    if (a.starts_with("--")) {
      const std::size_t eq = a.find('=');
      if (eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
      }
    } else if (a.size() > 2) {
      name = a.substr(0, 2);
      value = a.substr(2);
    }
    const auto take_value = [&]() -> std::optional<std::string> {
      if (value) return value;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    const bool is_file = takes_text && (name == "-f" || name == "--file");
    const bool is_output = writes && (name == "-o" || name == "--output");
    const bool is_max = o.command == Command::render && name == "--max-bytes";
    if (is_file || is_output || is_max) {
      const std::optional<std::string> v = take_value();
      if (!v) return "option '" + name + "' needs a value";
      if (is_file) {
        if (o.file) return "more than one -f given";
        o.file = *v;
      } else if (is_output) {
        if (o.output) return "more than one -o given";
        if (v->empty()) return "empty output file name";
        o.output = *v;
      } else {
        const std::optional<std::int64_t> n = parse_max_bytes(*v);
        if (!n) return "--max-bytes needs a whole number from 44 to 2147483647";
        o.max_bytes = *n;
      }
      continue;
    }
    if (value && !a.starts_with("--")) return "unknown option '" + escape_bytes(a) + "'";
    if (writes && (a == "-q" || a == "--quiet")) {
      o.quiet = true;
    } else if (o.command == Command::demo && a == "--text") {
      o.print_text = true;
    } else {
      return "unknown option '" + escape_bytes(a) + "'";
    }
  }
  if (o.text && o.file) return "give the song text either as TEXT or with -f, not both";
  return std::nullopt;
}

struct Input {
  std::string text;
  std::string source;  // for messages: a file name, <argument>, <stdin> or <demo>
};

// The song text as the options say; nullopt after reporting an unreadable input.
std::optional<Input> read_input(const Options& o, const char* command) {
  if (o.text) return Input{*o.text, "<argument>"};
  if (o.file) {
    const bool from_stdin = *o.file == "-";
    const std::optional<std::string> text =
        from_stdin ? read_all(STDIN_FILENO) : read_file(*o.file);
    if (!text) {
      std::fprintf(stderr, "tuvello %s: cannot read '%s': %s\n", command, o.file->c_str(),
                   std::strerror(errno));
      return std::nullopt;
    }
    Input in{*text, from_stdin ? "<stdin>" : *o.file};
    drop_final_line_break(in.text);
    return in;
  }
  // Nothing to read from a terminal, or from an empty or closed standard input.
  if (!::isatty(STDIN_FILENO)) {
    std::optional<std::string> text = read_all(STDIN_FILENO);
    if (text && !text->empty()) {
      Input in{*text, "<stdin>"};
      drop_final_line_break(in.text);
      return in;
    }
  }
  return Input{std::string(kDemoSong), "<demo>"};
}

int write_song(const Options& o, const char* command, std::string_view text,
               const std::string& output) {
  const bool to_stdout = output == "-";
  if (to_stdout ? ::isatty(STDOUT_FILENO) != 0 : names_a_terminal(output)) {
    std::fprintf(stderr,
                 "tuvello %s: refusing to write a WAV image to a terminal; "
                 "use -o FILE or a pipe\n",
                 command);
    return kUsage;
  }

  std::size_t notes = 0;
  const auto count = [&notes](const tuvello::text::Command& c, const tuvello::text::NoteSettings&) {
    if (c.fate == tuvello::text::Fate::note_rendered) ++notes;
  };
  const tuvello::text::CommandObserver observer = count;
  std::uint8_t* song = tuvello::image::create_song(text, o.max_bytes, &observer);
  if (song == nullptr) {
    std::fprintf(stderr,
                 "tuvello %s: rendering failed: out of memory, or the image would pass %lld "
                 "bytes; nothing written\n",
                 command, static_cast<long long>(o.max_bytes));
    return kFailed;
  }
  const auto size = static_cast<std::size_t>(TUVELLO_GetSongSize(song));
  const double seconds = TUVELLO_GetSongDuration(song);

  std::optional<std::string> error;
  if (to_stdout) {
    if (!write_all(STDOUT_FILENO, song, size)) {
      error = std::string("cannot write to standard output: ") + std::strerror(errno);
    }
  } else {
    error = write_file_atomically(output, song, size);
  }
  TUVELLO_FreeSong(song);
  if (error) {
    std::fprintf(stderr, "tuvello %s: %s\n", command, error->c_str());
    return kFailed;
  }
  if (!o.quiet) {
    std::fprintf(stderr, "wrote %s: %zu note%s, %.3f s, %zu bytes\n",
                 to_stdout ? "<stdout>" : output.c_str(), notes, notes == 1 ? "" : "s", seconds,
                 size);
  }
  return kOk;
}

int run_check(const Input& in) {
  const CheckReport report = check_song_text(in.text);
  for (const Diagnostic& d : report.warnings) {
    std::printf("%s\n", format_warning(in.source, d).c_str());
  }
  std::printf("%s\n", format_summary(in.source, report).c_str());
  return report.warnings.empty() ? kOk : kFailed;
}

int run(int argc, char** argv) {
  if (argc < 2) return usage_error("", "no command given (render, check or demo)");
  const std::string name = argv[1];
  if (name == "-h" || name == "--help") {
    std::fputs(kToolHelp, stdout);
    return kOk;
  }
  if (name == "--version") {
    print_version();
    return kOk;
  }
  Options o;
  const char* help = nullptr;
  if (name == "render") {
    o.command = Command::render;
    help = kRenderHelp;
  } else if (name == "check") {
    o.command = Command::check;
    help = kCheckHelp;
  } else if (name == "demo") {
    o.command = Command::demo;
    help = kDemoHelp;
  } else {
    return usage_error("", "unknown command '" + escape_bytes(name) + "' (render, check or demo)");
  }

  const std::vector<std::string> args(argv + 2, argv + argc);
  std::optional<int> exit_now;
  if (const std::optional<std::string> error = parse_options(args, o, help, &exit_now)) {
    return usage_error(name, *error);
  }
  if (exit_now) return *exit_now;

  switch (o.command) {
    case Command::demo:
      if (o.print_text) {
        std::printf("%.*s\n", static_cast<int>(kDemoSong.size()), kDemoSong.data());
        return kOk;
      }
      return write_song(o, "demo", kDemoSong, o.output.value_or("demo.wav"));
    case Command::render: {
      const std::optional<Input> in = read_input(o, "render");
      if (!in) return kUsage;
      return write_song(o, "render", song_text(in->text), o.output.value_or("-"));
    }
    case Command::check: {
      const std::optional<Input> in = read_input(o, "check");
      if (!in) return kUsage;
      return run_check(*in);
    }
  }
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // A file size limit then fails the write, which is reported and cleaned up,
  // instead of killing the tool with a temporary file left behind.
  ::signal(SIGXFSZ, SIG_IGN);
  return run(argc, argv);
}
