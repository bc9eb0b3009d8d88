// SPDX-License-Identifier: MIT
#include "options.hpp"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "option_values.hpp"
#include "tuvello.h"

namespace tuvello::cli {
namespace {

struct OptionName {
  Opt option;
  const char* long_name;  // nullptr for an operand
  char short_name;        // 0 for none
  const char* value;      // the value's name, nullptr for a flag
};

constexpr OptionName kNames[] = {
    {Opt::text, nullptr, 0, "TEXT"},         {Opt::ringtone, nullptr, 0, "RTTTL"},
    {Opt::file, "file", 'f', "FILE"},        {Opt::output, "output", 'o', "FILE"},
    {Opt::quiet, "quiet", 'q', nullptr},     {Opt::strict, "strict", 0, nullptr},
    {Opt::rtttl, "rtttl", 0, nullptr},       {Opt::octave_shift, "octave-shift", 0, "N|auto|none"},
    {Opt::midi, "midi", 0, nullptr},         {Opt::track, "track", 0, "N"},
    {Opt::channel, "channel", 0, "N"},       {Opt::highest, "highest", 0, nullptr},
    {Opt::lowest, "lowest", 0, nullptr},     {Opt::first, "first", 0, nullptr},
    {Opt::velocity, "velocity", 0, nullptr}, {Opt::to_rtttl, "rtttl", 0, nullptr},
    {Opt::to_midi, "midi", 0, nullptr},      {Opt::name, "name", 0, "NAME"},
    {Opt::max_bytes, "max-bytes", 0, "N"},   {Opt::max_input, "max-input", 0, "N"},
    {Opt::print_text, "text", 0, nullptr},   {Opt::json, "json", 0, nullptr},
    {Opt::each, "each", 0, "FILE"},          {Opt::directory, "directory", 'd', "DIR"},
    {Opt::wav, "wav", 0, nullptr},           {Opt::help, "help", 'h', nullptr},
    {Opt::version, "version", 'V', nullptr},
};

const OptionName& name_of(Opt option) {
  for (const OptionName& n : kNames) {
    if (n.option == option) return n;
  }
  return kNames[0];
}

// getopt_long's value for an option: its short name, else 256 and up.
int code_of(Opt option) {
  const OptionName& n = name_of(option);
  return n.short_name != 0 ? n.short_name : 256 + static_cast<int>(option);
}

// "-f, --file FILE", "--strict", "TEXT": the help's left column.
std::string label_of(Opt option) {
  const OptionName& n = name_of(option);
  if (n.long_name == nullptr) return n.value;
  std::string label = n.short_name != 0 ? std::string("-") + n.short_name + ", " : "";
  label += std::string("--") + n.long_name;
  if (n.value != nullptr) label += std::string(" ") + n.value;
  return label;
}

// "[-o FILE]", "[--strict]": an option in the usage line.
std::string usage_of(Opt option) {
  const OptionName& n = name_of(option);
  std::string s =
      n.short_name != 0 ? std::string("-") + n.short_name : std::string("--") + n.long_name;
  if (n.value != nullptr) s += std::string(" ") + n.value;
  return "[" + s + "]";
}

// Appends `words` wrapped to 79 columns, each line but the first starting
// with `indent` spaces; the first continues a line already `column` wide.
void wrap(std::string& out, std::string_view words, std::size_t column, std::size_t indent) {
  bool first = true;
  while (!words.empty()) {
    const std::size_t end = words.find(' ');
    const std::string_view word = words.substr(0, end);
    words = end == std::string_view::npos ? std::string_view{} : words.substr(end + 1);
    if (!first && column + 1 + word.size() > 79) {
      out += '\n';
      out.append(indent, ' ');
      column = indent;
    } else if (!first) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    first = false;
  }
}

std::int32_t overlap_of(Opt option) {
  return option == Opt::lowest  ? TUVELLO_MIDI_LOWEST
         : option == Opt::first ? TUVELLO_MIDI_FIRST
                                : TUVELLO_MIDI_HIGHEST;
}

// The option getopt_long stopped at: "--name" as written, or "-x" for a short
// one, also inside a group such as -qx.
std::string shown_option(const std::string& seen, const std::string& long_name) {
  if (seen.starts_with("--")) return escape_name(long_name);
  return escape_name(std::string("-") + static_cast<char>(optopt));
}

}  // namespace

std::string usage_line(const Command& command) {
  const std::string head = std::string("Usage: tuvello ") + command.name;
  std::string words;
  const auto add = [&words](const std::string& w) {
    // Words of one option stay together: spaces inside it are no break.
    std::string joined = w;
    for (char& c : joined) c = c == ' ' ? '\x01' : c;
    if (!words.empty()) words += ' ';
    words += joined;
  };
  for (const OptionHelp& h : command.options) {
    if (h.option == Opt::help || h.option == Opt::version) continue;
    if (h.option == Opt::text || h.option == Opt::ringtone) {
      std::string operand = "[";
      operand += name_of(h.option).value;
      operand += command.takes(Opt::file) ? " | -f FILE]" : "]";
      add(operand);
    } else if (h.option != Opt::file || !command.reads_input()) {
      add(usage_of(h.option));
    }
  }
  std::string out = head;
  if (!words.empty()) {
    out += ' ';
    wrap(out, words, head.size() + 1, head.size() + 1);
  }
  for (char& c : out) c = c == '\x01' ? ' ' : c;
  return out;
}

std::string command_help(const Command& command) {
  std::string out = usage_line(command) + "\n\n" + command.description + "\n\n";
  std::size_t width = 0;
  for (const OptionHelp& h : command.options) width = std::max(width, label_of(h.option).size());
  const std::size_t column = 2 + width + 2;
  for (const OptionHelp& h : command.options) {
    const std::string label = label_of(h.option);
    out += "  " + label + std::string(column - 2 - label.size(), ' ');
    wrap(out, h.help, column, column);
    out += '\n';
  }
  return out + "\n" + command.exit_status + "\n";
}

std::optional<std::string> parse_options(int argc, char** argv, const Command& command, Options& o,
                                         std::optional<int>* exit_now) {
  std::vector<option> longs;
  std::string shorts = ":";  // ':' first: a missing value is reported as ':'
  for (const OptionHelp& h : command.options) {
    const OptionName& n = name_of(h.option);
    if (n.long_name == nullptr) continue;
    const int has_arg = n.value != nullptr ? required_argument : no_argument;
    longs.push_back({n.long_name, has_arg, nullptr, code_of(h.option)});
    if (n.short_name != 0) {
      shorts += n.short_name;
      if (has_arg == required_argument) shorts += ':';
    }
  }
  longs.push_back({nullptr, 0, nullptr, 0});

  bool octave_shift = false;
  bool overlap_set = false;
  // A bad value is reported once every option is read: --help after it
  // still shows the help.
  std::optional<std::string> bad_value;
  opterr = 0;
  optind = 1;
  for (;;) {
    const int previous = optind;
    const int code = getopt_long(argc, argv, shorts.c_str(), longs.data(), nullptr);
    if (code == -1) break;
    // The argument getopt just looked at, for messages.
    const std::string seen = argv[optind - 1] != nullptr && optind > previous
                                 ? std::string(argv[optind - 1])
                                 : std::string(argv[previous]);
    const std::string long_name = seen.substr(0, seen.find('='));
    if (code == ':') return "option '" + shown_option(seen, long_name) + "' needs a value";
    const OptionName* found = nullptr;
    for (const OptionHelp& h : command.options) {
      if (code_of(h.option) == code) found = &name_of(h.option);
    }
    if (found == nullptr) return "unknown option '" + shown_option(seen, long_name) + "'";
    switch (found->option) {
      case Opt::help:
        *exit_now = print_and_finish(command_help(command), command.name);
        return std::nullopt;
      case Opt::version:
        *exit_now = print_version(command.name);
        return std::nullopt;
      case Opt::file:
        if (o.file) return "more than one -f given";
        o.file = optarg;
        break;
      case Opt::output:
        if (o.output) return "more than one -o given";
        if (*optarg == '\0') return "empty output file name";
        o.output = optarg;
        break;
      case Opt::each:
        if (o.each) return "more than one --each given";
        o.each = optarg;
        break;
      case Opt::directory:
        if (o.directory) return "more than one -d given";
        if (*optarg == '\0') return "empty folder name";
        o.directory = optarg;
        break;
      case Opt::wav:
        o.wav = true;
        break;
      case Opt::quiet:
        o.quiet = true;
        break;
      case Opt::strict:
        o.strict = true;
        break;
      case Opt::print_text:
        o.print_text = true;
        break;
      case Opt::rtttl:
        o.rtttl = true;
        break;
      case Opt::json:
        o.json = true;
        break;
      case Opt::midi:
        o.midi = true;
        break;
      case Opt::track:
      case Opt::channel: {
        // A track chunk from 1; a channel from 1 to 16.
        const bool track = found->option == Opt::track;
        const std::optional<std::int64_t> n = parse_count(optarg, track ? 65535 : 16);
        if (!n && !bad_value) {
          bad_value = track ? "--track needs a whole number from 1 to 65535"
                            : "--channel needs a whole number from 1 to 16";
        }
        (track ? o.track : o.channel) = static_cast<std::int32_t>(n.value_or(0));
        o.midi_options_given = true;
        break;
      }
      case Opt::highest:
      case Opt::lowest:
      case Opt::first:
        if (overlap_set && o.overlap != overlap_of(found->option) && !bad_value) {
          bad_value = "give one of --highest, --lowest and --first";
        }
        o.overlap = overlap_of(found->option);
        overlap_set = true;
        o.midi_options_given = true;
        break;
      case Opt::velocity:
        o.velocity = true;
        o.midi_options_given = true;
        break;
      case Opt::to_rtttl:
        o.to_rtttl = true;
        break;
      case Opt::to_midi:
        o.to_midi = true;
        break;
      case Opt::name:
        o.name = optarg;
        break;
      case Opt::octave_shift:
        octave_shift = true;
        o.octave_shift_given = true;
        if (!parse_octave_shift(optarg, o) && !bad_value) {
          bad_value = "--octave-shift needs auto, none or a whole number of octaves from -8 to 8";
        }
        break;
      case Opt::max_bytes: {
        const std::optional<std::int64_t> n = parse_max_bytes(optarg);
        if (!n) return "--max-bytes needs a whole number from 44 to 2147483647";
        o.max_bytes = *n;
        break;
      }
      case Opt::max_input: {
        const std::optional<std::size_t> n = parse_max_input(optarg);
        if (!n) return "--max-input needs a whole number of bytes from 1 to 1024G (K, M, G suffix)";
        o.max_input = *n;
        break;
      }
      case Opt::text:
      case Opt::ringtone:
        break;
    }
  }
  if (bad_value) return bad_value;
  const bool ringtone = command.takes(Opt::ringtone) || o.rtttl;
  if (octave_shift && !ringtone) return "--octave-shift is for a ringtone: give --rtttl too";
  if (o.midi && o.rtttl) return "give either --rtttl or --midi";
  for (int i = optind; i < argc; ++i) {
    const std::string a = argv[i];
    if (!command.reads_input()) return "unexpected argument '" + escape_name(a) + "'";
    if (a == "-") {
      // "-" as the text means: read it from standard input.
      if (o.file) return "more than one -f given";
      o.file = a;
      continue;
    }
    if (o.text) {
      return ringtone ? "more than one ringtone given (quote it: 't:d=8,o=5,b=150:c,e,g')"
                      : "more than one song text given (quote the text: 'c;e;g')";
    }
    o.text = a;
  }
  if (o.each && (o.text || o.file || o.output || o.midi)) {
    return "--each reads its ringtones from FILE and writes them into -d DIR: give no ringtone, "
           "-f, -o or --midi with it";
  }
  if (!o.each && (o.directory || o.wav)) return "-d and --wav are for --each";
  if (o.text && o.file) {
    return ringtone ? "give the ringtone either as RTTTL or with -f, not both"
                    : "give the song text either as TEXT or with -f, not both";
  }
  return std::nullopt;
}

int usage_error(std::string_view command, const std::string& message) {
  std::string c;
  if (!command.empty()) c.append(" ").append(command);
  std::fprintf(stderr, "tuvello%s: %s\nTry 'tuvello%s --help'.\n", c.c_str(), message.c_str(),
               c.c_str());
  return kUsage;
}

int write_failed(const char* context) {
  std::fprintf(stderr, "tuvello%s%s: cannot write to standard output: %s\n", *context ? " " : "",
               context, std::strerror(errno));
  return kFailed;
}

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

}  // namespace tuvello::cli
