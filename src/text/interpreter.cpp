// SPDX-License-Identifier: MIT
#include "text/interpreter.hpp"

#include <array>
#include <cstring>

namespace tuvello::text {
namespace {

struct NoteKey {
  std::string_view key;
  double frequency;
};

// German letter names: "h" is B natural, "b" is B flat; "p" is a pause.
constexpr std::array<NoteKey, 13> kNotes{{
    {"c", 261.63},
    {"cs", 277.18},
    {"d", 293.66},
    {"ds", 311.13},
    {"e", 329.63},
    {"f", 349.23},
    {"fs", 369.99},
    {"g", 392.00},
    {"gs", 415.30},
    {"a", 440.00},
    {"b", 466.16},
    {"h", 493.88},
    {"p", 0.0},
}};

struct SettingKey {
  std::string_view key;
  Key kind;
};

constexpr std::array<SettingKey, 5> kSettings{{
    {"len", Key::len},
    {"vol", Key::vol},
    {"oct", Key::oct},
    {"pipe", Key::pipe},
    {"dec", Key::dec},
}};

constexpr std::size_t kLongestKey = 4;

// Case folding of the notation: A-Z and 0xC0-0xDE move up by 0x20.
char fold_case(char c) {
  const auto u = static_cast<unsigned char>(c);
  if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE)) return static_cast<char>(u + 0x20);
  return c;
}

// Bytes [from, to) of s, to clipped at its end. Unlike substr it never
// throws, which keeps the library free of the C++ runtime.
std::string_view slice(std::string_view s, std::size_t from, std::size_t to) {
  if (to > s.size()) to = s.size();
  return {s.data() + from, to - from};
}

std::string_view trim_spaces(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return slice(s, b, e);
}

void apply_setting(Command& c, NoteSettings& settings) {
  const std::int32_t v = c.parsed.value;
  if (!accepted_range(c.kind).contains(v)) {
    c.fate = Fate::out_of_range;
    return;
  }
  c.fate = Fate::setting_applied;
  switch (c.kind) {
    case Key::len:
      settings.length_ms = v;
      break;
    case Key::vol:
      settings.volume = volume_of_percent(v);
      break;
    case Key::oct:
      settings.multiplier = v + 1;
      break;
    case Key::pipe:
      settings.pipe = v != 0;
      break;
    case Key::dec:
      settings.decay = v != 0;
      break;
    default:
      break;
  }
}

}  // namespace

Key classify_key(std::string_view key, double* frequency) {
  if (key.empty()) return Key::empty;
  if (key.size() > kLongestKey) return Key::unknown;
  std::array<char, kLongestKey> folded{};
  for (std::size_t i = 0; i < key.size(); ++i) folded[i] = fold_case(key[i]);
  const std::string_view k(folded.data(), key.size());
  for (const NoteKey& note : kNotes) {
    if (k == note.key) {
      *frequency = note.frequency;
      return Key::note;
    }
  }
  for (const SettingKey& setting : kSettings) {
    if (k == setting.key) return setting.kind;
  }
  return Key::unknown;
}

AcceptedRange accepted_range(Key setting) {
  switch (setting) {
    case Key::len:
      return kLengthRange;
    case Key::vol:
      return kVolumeRange;
    case Key::oct:
      return kOctaveRange;
    default:
      return kAnyValue;
  }
}

CommandWalk::CommandWalk(std::string_view text)
    // Spaces around the whole text belong to no command.
    : song_(trim_spaces(text)), base_(static_cast<std::size_t>(song_.data() - text.data())) {}

bool CommandWalk::next(Command& c) {
  if (done_) return false;
  const std::size_t end = song_.find(';', pos_);
  // After the last ";" there is one more command only if the text does not
  // end with ";" (a blank text is one empty command).
  if (end == std::string_view::npos && pos_ == song_.size() && number_ > 0) {
    done_ = true;
    return false;
  }
  const std::size_t stop = end == std::string_view::npos ? song_.size() : end;

  c = Command{};
  c.number = ++number_;
  c.offset = base_ + pos_;
  c.written = slice(song_, pos_, stop);
  const std::size_t colon = c.written.find(':');
  c.key = trim_spaces(slice(c.written, 0, colon));
  c.has_value = colon != std::string_view::npos;
  if (c.has_value) {
    const std::string_view after = slice(c.written, colon + 1, c.written.size());
    const std::size_t second = after.find(':');
    c.value = trim_spaces(slice(after, 0, second));
    if (second != std::string_view::npos) c.extra = slice(after, second + 1, after.size());
    c.parsed = parse_integer(c.value);
  }
  c.kind = classify_key(c.key, &c.frequency);
  switch (c.kind) {
    case Key::empty:
      c.fate = Fate::empty;
      break;
    case Key::unknown:
      c.fate = Fate::unknown_key;
      break;
    case Key::note:
      c.fate = Fate::note_rendered;
      break;
    default:
      apply_setting(c, settings_);
      break;
  }
  if (end == std::string_view::npos) {
    done_ = true;
  } else {
    pos_ = end + 1;
  }
  return true;
}

bool interpret(std::string_view text, NoteSink sink, const CommandObserver* observer) {
  CommandWalk walk(text);
  Command c;
  while (walk.next(c)) {
    if (c.kind == Key::note && !sink(c.frequency, walk.settings())) return false;
    if (observer != nullptr) (*observer)(c, walk.settings());
  }
  return true;
}

}  // namespace tuvello::text
