#include "check.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>

#include "image/song_image.hpp"
#include "synth/note_block.hpp"
#include "text/interpreter.hpp"

namespace tuvello::cli {
namespace {

using text::Command;
using text::Fate;
using text::Key;
using text::NoteSettings;

// Long commands (a whole file without ";" is one) are shown shortened.
constexpr std::size_t kShownBytes = 40;
constexpr std::size_t kShownKeys = 3;

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool all_blank(std::string_view s) { return std::all_of(s.begin(), s.end(), is_blank); }

std::string quoted(std::string_view bytes) {
  std::string out(1, '\'');
  out += escape_bytes(bytes.substr(0, kShownBytes));
  if (bytes.size() > kShownBytes) out += "...";
  out += '\'';
  return out;
}

std::string plural(std::size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// Keys of the notation that blanks (line breaks, tabs, spaces) have merged
// into one field with other bytes, so the interpreter never sees them alone.
struct HiddenKeys {
  std::vector<std::string_view> keys;
  std::size_t pieces = 0;  // blank-separated pieces of the field
  const char* blank = "a space";
};

HiddenKeys find_hidden_keys(std::string_view field) {
  HiddenKeys h;
  bool line_break = false;
  bool tab = false;
  bool control = false;
  std::size_t i = 0;
  while (i < field.size()) {
    if (is_blank(field[i])) {
      line_break |= field[i] == '\n' || field[i] == '\r';
      tab |= field[i] == '\t';
      control |= field[i] == '\v' || field[i] == '\f';
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < field.size() && !is_blank(field[j])) ++j;
    const std::string_view piece = field.substr(i, j - i);
    ++h.pieces;
    double frequency = 0.0;
    const Key kind = text::classify_key(piece, &frequency);
    if (kind != Key::unknown && kind != Key::empty) h.keys.push_back(piece);
    i = j;
  }
  if (line_break) {
    h.blank = "a line break";
  } else if (tab) {
    h.blank = "a tab";
  } else if (control) {
    h.blank = "a control byte";
  }
  return h;
}

// "'c', 'd' and 'e'", at most kShownKeys of them.
std::string key_list(const std::vector<std::string_view>& keys) {
  std::string out;
  const std::size_t shown = std::min(keys.size(), kShownKeys);
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) out += i + 1 == keys.size() ? " and " : ", ";
    out += quoted(keys[i]);
  }
  if (keys.size() > shown) out += " and " + std::to_string(keys.size() - shown) + " more";
  return out;
}

std::string hidden_phrase(const HiddenKeys& h) {
  return std::string(h.blank) + " hides " + key_list(h.keys) + " (commands are separated by ';')";
}

std::string unknown_key_reason(const Command& c) {
  const HiddenKeys h = find_hidden_keys(c.key);
  if (!h.keys.empty() && h.pieces == 1) {
    return std::string(h.blank) + " makes the key " + quoted(c.key) + " unknown, so " +
           quoted(h.keys.front()) + " is skipped";
  }
  if (!h.keys.empty()) return "unknown key " + quoted(c.key) + ": " + hidden_phrase(h);
  if (c.key.find('#') != std::string_view::npos) {
    return "unknown key " + quoted(c.key) + " (sharps are written cs, ds, fs and gs)";
  }
  return "unknown key " + quoted(c.key) + ", so the command is skipped";
}

std::string empty_reason(const Command& c) {
  if (c.has_value) return "no key before ':', so the command is skipped";
  return "empty command, skipped (a pause is written 'p')";
}

std::string note_reason(const Command& c) {
  if (!c.has_value) return {};
  std::string_view tail = c.written.substr(c.written.find(':'));
  while (!tail.empty() && tail.back() == ' ') tail.remove_suffix(1);
  std::string reason = "a note takes no value, so " + quoted(tail) + " is ignored";
  const HiddenKeys h = find_hidden_keys(tail.substr(1));
  if (!h.keys.empty()) reason += "; " + hidden_phrase(h);
  return reason;
}

// What a setting now is ("the length is 200 ms"), or stays at.
std::string setting_state(Key kind, const NoteSettings& s, const char* verb) {
  const std::string v = std::string(" ") + verb + " ";
  switch (kind) {
    case Key::len:
      return "the length" + v + std::to_string(s.length_ms) + " ms";
    case Key::vol:
      return "the volume" + v + std::to_string(std::lround(s.volume * 100.0)) + "%";
    case Key::oct:
      return "the pitch multiplier" + v + std::to_string(s.multiplier);
    case Key::pipe:
      return "pipe mode" + v + (s.pipe ? "on" : "off");
    case Key::dec:
      return "decay mode" + v + (s.decay ? "on" : "off");
    default:
      return {};
  }
}

// How a setting's value reads when that is not what it says (empty when it
// reads as written), and which keys hide in it.
struct Reading {
  std::string words;
  std::string hidden;
};

Reading value_reading(const Command& c) {
  Reading r;
  const HiddenKeys h = find_hidden_keys(c.value.substr(c.parsed.consumed));
  if (!h.keys.empty()) r.hidden = hidden_phrase(h);
  const std::string reads = " reads as " + std::to_string(c.parsed.value);
  const std::string value = "value " + quoted(c.value);
  if (!c.has_value) {
    r.words = quoted(c.key) + " has no value and" + reads;
  } else if (c.value.empty()) {
    r.words = "the value is empty and" + reads;
  } else if (!c.parsed.has_digits) {
    r.words = value + " is not a number and" + reads;
  } else if (c.parsed.saturated) {
    r.words = value + " does not fit in 32 bits and" + reads;
  } else if (!r.hidden.empty()) {
    r.words = value + reads;
  } else if (!all_blank(c.value.substr(c.parsed.consumed))) {
    r.words = value + " is only partly a number and" + reads;
  }
  return r;
}

std::string setting_reason(const Command& c, const NoteSettings& settings) {
  std::string reason;
  const Reading reading = value_reading(c);
  if (c.fate == Fate::out_of_range) {
    const text::AcceptedRange range = text::accepted_range(c.kind);
    const std::string outside = "outside the accepted range " + std::to_string(range.low) + " to " +
                                std::to_string(range.high) + ", so " +
                                setting_state(c.kind, settings, "stays");
    reason = reading.words.empty() ? "value " + std::to_string(c.parsed.value) + " is " + outside
                                   : reading.words + ", " + outside;
  } else if (!reading.words.empty()) {
    reason = reading.words + ", so " + setting_state(c.kind, settings, "is");
  }
  const auto add = [&reason](const std::string& more) {
    if (!reason.empty()) reason += "; ";
    reason += more;
  };
  if (!reading.hidden.empty()) add(reading.hidden);
  if (!all_blank(c.extra))
    add("the text after the second ':' (" + quoted(c.extra) + ") is ignored");
  return reason;
}

}  // namespace

std::string escape_bytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto u = static_cast<unsigned char>(ch);
    switch (ch) {
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (u < 0x20 || u > 0x7E) {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02X", u);
          out += hex;
        } else {
          out += ch;
        }
    }
  }
  return out;
}

std::string_view song_text(std::string_view text) { return text.substr(0, text.find('\0')); }

CheckSummary for_each_warning(std::string_view text, WarningVisitor visit) {
  CheckSummary summary;
  const std::size_t nul = song_text(text).size();
  const bool cut = nul < text.size();
  const std::size_t ignored = cut ? text.size() - nul - 1 : 0;
  text = text.substr(0, nul);
  const bool blank_text = text.find_first_not_of(' ') == std::string_view::npos;

  // A setting that took its value as written matters only if a note follows:
  // a first walk finds the last note, so the second can report in text order
  // without holding anything back.
  std::size_t last_note = 0;
  const auto ignore_note = [](double, const NoteSettings&) { return true; };
  const auto find_last_note = [&last_note](const Command& c, const NoteSettings&) {
    if (c.fate == Fate::note_rendered) last_note = c.number;
  };
  const text::CommandObserver first_walk = find_last_note;
  text::interpret(text, ignore_note, &first_walk);

  std::int64_t data_bytes = 0;
  bool too_large = false;
  const auto add_note = [&](double frequency, const NoteSettings& settings) {
    data_bytes +=
        synth::plan_note_block(frequency, settings, image::kSampleRate, image::kByteRate).bytes;
    return true;
  };
  bool stopped = false;
  Diagnostic d;
  const auto report = [&](const Command& c, std::string reason) {
    if (stopped) return;
    ++summary.warnings;
    d.command = c.number;
    d.column = c.offset + 1;
    d.written.assign(c.written);
    d.reason = std::move(reason);
    stopped = !visit(d);
  };
  const auto diagnose = [&](const Command& c, const NoteSettings& settings) {
    ++summary.commands;
    std::string reason;
    switch (c.fate) {
      case Fate::empty:
        if (!blank_text) reason = empty_reason(c);
        break;
      case Fate::unknown_key:
        reason = unknown_key_reason(c);
        break;
      case Fate::note_rendered:
        ++summary.notes;
        reason = note_reason(c);
        if (!too_large && data_bytes + image::kHeaderBytes > image::kMaxImageBytes) {
          too_large = true;
          if (!reason.empty()) reason += "; ";
          reason += "the song image passes " + std::to_string(image::kMaxImageBytes) +
                    " bytes here, so rendering fails";
        }
        break;
      case Fate::setting_applied:
      case Fate::out_of_range:
        reason = setting_reason(c, settings);
        if (reason.empty() && c.number > last_note) {
          reason = "no note follows, so the setting has no effect";
        }
        break;
    }
    if (!reason.empty()) report(c, std::move(reason));
  };
  // The interpreter is built without exceptions: none may pass through it.
  // A failure (out of memory) stops the reports and is thrown again after.
  std::exception_ptr failure;
  const auto observe = [&](const Command& c, const NoteSettings& settings) {
    if (failure) return;
    try {
      diagnose(c, settings);
    } catch (...) {
      failure = std::current_exception();
    }
  };
  const text::CommandObserver observer = observe;
  text::interpret(text, add_note, &observer);
  if (failure) std::rethrow_exception(failure);

  if (cut && !stopped) {
    ++summary.warnings;
    d.command = 0;
    d.column = nul + 1;
    d.written.clear();
    d.reason = "the song text ends at this NUL byte; the " + plural(ignored, "byte") +
               " after it " + (ignored == 1 ? "is" : "are") + " ignored";
    visit(d);
  }
  summary.seconds = static_cast<double>(data_bytes) / image::kByteRate;
  return summary;
}

CheckReport check_song_text(std::string_view text) {
  CheckReport report;
  const auto keep = [&report](const Diagnostic& d) {
    report.warnings.push_back(d);
    return true;
  };
  const CheckSummary summary = for_each_warning(text, keep);
  report.commands = summary.commands;
  report.notes = summary.notes;
  report.seconds = summary.seconds;
  return report;
}

std::string format_warning(std::string_view where, const Diagnostic& d) {
  std::string line = std::string(where) + ": warning: ";
  if (d.command > 0) {
    line += "command " + std::to_string(d.command) + " " + quoted(d.written) + ": ";
  }
  return line + d.reason;
}

std::string format_summary(std::string_view source, const CheckSummary& summary) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f s", summary.seconds);
  return std::string(source) + ": " + plural(summary.notes, "note") + ", " + seconds + ", " +
         plural(summary.warnings, "warning");
}

std::string format_summary(std::string_view source, const CheckReport& report) {
  CheckSummary summary;
  summary.warnings = report.warnings.size();
  summary.notes = report.notes;
  summary.seconds = report.seconds;
  return format_summary(source, summary);
}

}  // namespace tuvello::cli
