// SPDX-License-Identifier: MIT
// The tool's commands. Each command's file defines one Command: its name, its
// one-line summary, its options with their help, its help text and its run();
// main.cpp lists them, reads their input and dispatches. The tool's help, each
// command's help and usage line come from these entries, and the man page and
// the bash completion are checked against them (tests/cli/check_docs.sh).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "io.hpp"

namespace tuvello::cli {

constexpr int kOk = 0;
constexpr int kFailed = 1;  // check found something; rendering, playing or writing failed
constexpr int kUsage = 2;

// Every option of the tool, and the two kinds of operand; a command takes
// some of them.
enum class Opt {
  text,      // TEXT: the song text as an argument
  ringtone,  // RTTTL: the ringtone as an argument
  file,
  output,
  quiet,
  strict,
  rtttl,
  octave_shift,
  midi,  // the input is a MIDI file
  track,
  channel,
  highest,
  lowest,
  first,
  velocity,
  to_rtttl,  // export's --rtttl: the output, not the input, is a ringtone
  to_midi,
  name,
  max_bytes,
  max_input,
  print_text,
  json,
  each,       // import --each: a file of ringtones, one a line
  directory,  // import --each: the folder of the files it writes
  wav,        // import --each: WAV files instead of song texts
  help,
  version,
};

struct OptionHelp {
  Opt option;
  const char* help;  // one paragraph, wrapped to the terminal by the help
};

struct Options {
  std::optional<std::string> text;  // the operand: song text or ringtone
  std::optional<std::string> file;
  std::optional<std::string> output;
  bool quiet = false;
  bool print_text = false;
  bool strict = false;
  bool rtttl = false;  // the input is an RTTTL ringtone
  // How a ringtone's notes outside octaves 3 to 6 come into reach:
  // TUVELLO_OCTAVE_SHIFT_AUTO, _NONE or _BY `octaves`.
  std::int32_t octave_shift = 0;
  std::int32_t octaves = 0;
  bool octave_shift_given = false;
  bool midi = false;  // the input is a MIDI file, whatever its first bytes
  // How a MIDI file is read (TUVELLO_MidiOptions), and whether any of these
  // was given, which only a MIDI file may take.
  std::int32_t track = 0;
  std::int32_t channel = 0;
  std::int32_t overlap = 0;
  bool velocity = false;
  bool midi_options_given = false;
  bool to_rtttl = false;            // export: an RTTTL ringtone
  bool to_midi = false;             // export: a MIDI file
  std::optional<std::string> name;  // export --rtttl: the ringtone's name
  bool json = false;                // notes: JSON lines instead of a table
  std::optional<std::string> each;  // import: the collection of ringtones
  std::optional<std::string> directory;
  bool wav = false;
  std::int64_t max_bytes = INT32_MAX;
  std::size_t max_input = std::size_t{64} << 20;
};

// The song text or ringtone a command works on.
struct Input {
  InputBuffer buffer;
  std::string_view text;  // NUL-terminated: text.data()[text.size()] is 0, for C calls
  std::string source;     // for messages: a file name (escaped), <argument>, <stdin> or <demo>
  bool midi = false;      // the bytes are a MIDI file: by --midi, or their "MThd" header
};

struct Command {
  const char* name;
  const char* summary;                  // one line for the tool's help
  std::span<const OptionHelp> options;  // in the order the help lists them
  const char* description;              // the help's paragraphs before the options
  const char* exit_status;              // the help's last paragraph
  int (*run)(const Options& o, Input& in);

  bool takes(Opt option) const {
    for (const OptionHelp& h : options) {
      if (h.option == option) return true;
    }
    return false;
  }
  // Reads a song text or a ringtone from TEXT, -f or standard input.
  bool reads_input() const { return takes(Opt::text) || takes(Opt::ringtone); }
};

extern const Command kRenderCommand;
extern const Command kPlayCommand;  // only with ALSA (TUVELLO_HAVE_PLAY)
extern const Command kCheckCommand;
extern const Command kNotesCommand;
extern const Command kImportCommand;
extern const Command kExportCommand;
extern const Command kPlotCommand;
extern const Command kDemoCommand;

// Whether `output` ("-" for standard output) is a terminal: binary output
// is refused there, with a message saying so; kUsage.
bool refuses_terminal(const char* command, const std::string& output, const char* what);

// Writes the song image of `text` (NUL-terminated) to `output` ("-" for
// standard output), after its first warnings (located in `source`) and with
// a summary line unless o.quiet: render and demo.
int write_song(const Options& o, const char* command, std::string_view text,
               std::string_view source, const std::string& output);

}  // namespace tuvello::cli
