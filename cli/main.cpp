// SPDX-License-Identifier: MIT
// tuvello: renders song texts to WAV files, plays them and checks them for
// commands that do not do what they seem to. Each command lives in its own
// file (command.hpp); this one dispatches and reads their input.
#include <cxxabi.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>

#include "command.hpp"
#include "demo_song.hpp"
#include "options.hpp"
#include "output_file.hpp"
#include "report.hpp"

namespace {

using namespace tuvello::cli;

// The commands in the order the help lists them; "help" is the tool's own.
const Command* const kCommands[] = {
    &kRenderCommand,
#ifdef TUVELLO_HAVE_PLAY
    &kPlayCommand,
#endif
    &kCheckCommand,  &kNotesCommand, &kImportCommand, &kExportCommand, &kPlotCommand, &kDemoCommand,
};
constexpr const char* kHelpSummary = "show this help, or with COMMAND that command's help";

constexpr const char* kToolUsage = R"(Usage: tuvello COMMAND [OPTIONS] [TEXT]

Renders song texts such as 'len:200;vol:80;c;e;g;p;c' to WAV files (16-bit PCM,
mono, 22050 frames per second), plays them, and finds commands that do not do
what they seem to.
)";

constexpr const char* kToolDetails = R"(
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

std::string tool_help() {
  std::string out = std::string(kToolUsage) + "\nCommands:\n";
  const auto line = [&out](std::string_view name, std::string_view summary) {
    out +=
        "  " + std::string(name) + std::string(9 - name.size(), ' ') + std::string(summary) + "\n";
  };
  for (const Command* c : kCommands) line(c->name, c->summary);
  line("help", kHelpSummary);
  return out + kToolDetails;
}

// "render, check, ... or help", for messages.
std::string command_list() {
  std::string out;
  for (const Command* c : kCommands) out += std::string(c->name) + ", ";
  out.resize(out.size() - 2);
  return out + " or help";
}

const Command* find_command(std::string_view name) {
  for (const Command* c : kCommands) {
    if (name == c->name) return c;
  }
  return nullptr;
}

// Whether `name` is a file that begins as a MIDI file does.
bool names_midi_file(const std::string& name) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  char head[4];
  const bool midi = ::read(fd, head, sizeof head) == 4 && std::memcmp(head, "MThd", 4) == 0;
  ::close(fd);
  return midi;
}

// Reads the song text or ringtone as the options say. Returns an exit status
// after reporting a failure, or nullopt.
std::optional<int> read_input(const Options& o, const Command& command, Input& in) {
  const bool ringtone = o.rtttl || command.takes(Opt::ringtone);
  if (o.text) {
    in.text = *o.text;
    in.source = "<argument>";
    return std::nullopt;
  }
  const bool from_stdin = !o.file || *o.file == "-";
  if (!o.file && ::isatty(STDIN_FILENO)) {
    if (o.midi) {
      return usage_error(command.name,
                         "no MIDI file given (name it, give it with -f FILE, or on standard "
                         "input)");
    }
    if (ringtone) {
      return usage_error(command.name,
                         "no ringtone given (give it as an argument, with -f FILE, or on "
                         "standard input)");
    }
    // A person at a terminal with nothing to type: the demo shows what the tool does.
    in.text = kDemoSong;
    in.source = "<demo>";
    if (!o.quiet) {
      std::fprintf(stderr,
                   "tuvello %s: no song text given (TEXT, -f FILE or standard input): "
                   "taking the built-in demo song\n",
                   command.name);
    }
    return std::nullopt;
  }
  in.source = from_stdin ? "<stdin>" : escape_name(*o.file);
  const std::string shown = from_stdin ? "standard input" : "'" + in.source + "'";
  int fd = STDIN_FILENO;
  if (!from_stdin) {
    fd = ::open(o.file->c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(stderr, "tuvello %s: cannot read %s: %s\n", command.name, shown.c_str(),
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
      std::fprintf(stderr, "tuvello %s: cannot read %s: %s\n", command.name, shown.c_str(),
                   std::strerror(saved));
      return kUsage;
    case InputBuffer::Status::too_long:
      std::fprintf(stderr,
                   "tuvello %s: the %s in %s is longer than %zu bytes; "
                   "raise --max-input to read it\n",
                   command.name,
                   o.midi     ? "MIDI file"
                   : ringtone ? "ringtone"
                              : "song text",
                   shown.c_str(), o.max_input);
      return kUsage;
    case InputBuffer::Status::out_of_memory:
      std::fprintf(stderr, "tuvello %s: out of memory reading %s\n", command.name, shown.c_str());
      return kFailed;
  }
  // A MIDI file is bytes: its last one may be a line feed.
  in.midi =
      command.takes(Opt::midi) && !o.rtttl && (o.midi || in.buffer.view().starts_with("MThd"));
  if (!in.midi) in.buffer.drop_final_line_break();
  in.text = in.buffer.view();
  return std::nullopt;
}

// `tuvello help [COMMAND]`; -h and --help are the tool's help too, as the
// usage errors' "Try" line suggests.
int run_help(int argc, char** argv) {
  const std::string_view asked = argc >= 3 ? argv[2] : "";
  if (argc == 2 || (argc == 3 && (asked == "-h" || asked == "--help"))) {
    return print_and_finish(tool_help(), "");
  }
  if (argc > 3) {
    return usage_error("help", "one command at a time, not '" + escape_name(asked) + "' and '" +
                                   escape_name(argv[3]) + "'" + (argc > 4 ? " and more" : ""));
  }
  const Command* command = find_command(asked);
  if (command == nullptr) {
    return usage_error("help",
                       "no such command '" + escape_name(asked) + "' (" + command_list() + ")");
  }
  return print_and_finish(command_help(*command), "help");
}

int run(int argc, char** argv) {
  if (argc < 2) return usage_error("", "no command given (" + command_list() + ")");
  const std::string_view name = argv[1];
  if (name == "-h" || name == "--help") return print_and_finish(tool_help(), "");
  if (name == "-V" || name == "--version") return print_version("");
  if (name == "help") return run_help(argc, argv);
  const Command* command = find_command(name);
  if (command == nullptr && name.starts_with('-')) {
    return usage_error("", "unknown option '" + escape_name(name) + "'" +
                               (name == "-v" ? " (-V shows the version)" : ""));
  }
  if (command == nullptr) {
    return usage_error("", "unknown command '" + escape_name(name) + "' (" + command_list() + ")");
  }
  Options o;
  std::optional<int> exit_now;
  if (const std::optional<std::string> error =
          parse_options(argc - 1, argv + 1, *command, o, &exit_now)) {
    return usage_error(name, *error);
  }
  if (exit_now) return *exit_now;
  // A MIDI file is named as the operand, as well as with -f.
  if (command->takes(Opt::midi) && o.text && !o.rtttl && (o.midi || names_midi_file(*o.text))) {
    o.file = std::move(o.text);
    o.text.reset();
  }
  Input in;
  if (command->reads_input() && !o.each) {
    if (const std::optional<int> failed = read_input(o, *command, in)) return *failed;
  }
  if (o.midi_options_given && !in.midi) {
    return usage_error(name,
                       "--track, --channel, --highest, --lowest, --first and --velocity "
                       "are for a MIDI file");
  }
  if (o.octave_shift_given && in.midi) {
    return usage_error(name,
                       "--octave-shift is for a ringtone (a MIDI file's tune moves "
                       "whole by itself when it must)");
  }
  const int status = command->run(o, in);
  if (command->reads_input()) hint_if_text_is_a_file(o, *command);
  return status;
}

// Ends the tool when an exception cannot even be made, memory being gone
// (the runtime then has none left for it), or when one escapes where none may
// pass. Nothing here may allocate: it says so, removes the temporary file
// being written and leaves, as any failure does.
[[noreturn]] void end_at_terminate() noexcept {
  const std::type_info* thrown = abi::__cxa_current_exception_type();
  const char* message = thrown == nullptr || *thrown == typeid(std::bad_alloc)
                            ? "tuvello: out of memory\n"
                            : "tuvello: internal error: an exception escaped\n";
  remove_pending_temp();
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, message, std::strlen(message));
  ::_exit(kFailed);
}

}  // namespace

int main(int argc, char** argv) {
  // A file size limit then fails the write, which is reported and cleaned up,
  // instead of killing the tool with a temporary file left behind.
  ::signal(SIGXFSZ, SIG_IGN);
  install_cleanup_on_signals();
  std::set_terminate(end_at_terminate);
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("tuvello: out of memory\n", stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tuvello: %s\n", e.what());
  }
  return kFailed;
}
