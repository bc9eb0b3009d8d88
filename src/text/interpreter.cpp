// SPDX-License-Identifier: MIT
#include "text/interpreter.hpp"

#include <cassert>

namespace tuvello::text {
namespace {

constexpr std::size_t kLongestKey = 4;

// Case folding of the notation: A-Z move up by 0x20. (Folding 0xC0-0xDE as
// well could change no result: those bytes and their folds lie above 0x7E,
// and every key is lower-case ASCII.)
char fold_case(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

constexpr bool lower_case_ascii(std::string_view key) {
  for (const char c : key) {
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}
static_assert([] {
  for (const std::string_view k : walk_detail::kNoteKeys) {
    if (!lower_case_ascii(k)) return false;
  }
  for (const std::string_view k : walk_detail::kSettingKeys) {
    if (!lower_case_ascii(k)) return false;
  }
  return true;
}());

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

}  // namespace

Key classify_key(std::string_view key, double* frequency) {
  if (key.empty()) return Key::empty;
  if (key.size() > kLongestKey) return Key::unknown;
  std::array<char, kLongestKey> folded{};
  for (std::size_t i = 0; i < key.size(); ++i) folded[i] = fold_case(key[i]);
  const std::string_view k(folded.data(), key.size());
  for (std::size_t i = 0; i < walk_detail::kNoteKeys.size(); ++i) {
    if (k == walk_detail::kNoteKeys[i]) {
      *frequency = walk_detail::kNoteFrequencies[i];
      return Key::note;
    }
  }
  for (std::size_t i = 0; i < walk_detail::kSettingKeys.size(); ++i) {
    if (k == walk_detail::kSettingKeys[i]) return walk_detail::kSettingKinds[i];
  }
  return Key::unknown;
}

void split_command(std::string_view written, Command& c) {
  c.written = written;
  const std::size_t colon = written.find(':');
  c.key = trim_spaces(slice(written, 0, colon));
  c.has_value = colon != std::string_view::npos;
  c.value = {};
  c.extra = {};
  c.parsed = {};
  if (c.has_value) {
    const std::string_view after = slice(written, colon + 1, written.size());
    const std::size_t second = after.find(':');
    c.value = trim_spaces(slice(after, 0, second));
    if (second != std::string_view::npos) c.extra = slice(after, second + 1, after.size());
    c.parsed = parse_integer(c.value);
  }
  c.frequency = 0.0;
  c.kind = classify_key(c.key, &c.frequency);
}

std::string_view CommandWalk::trim(std::string_view s) { return trim_spaces(s); }

CommandWalk::Place CommandWalk::resume(std::string_view text, const Place& place) {
  // A place before the first command is the text's start.
  const std::size_t base = static_cast<std::size_t>(trim_spaces(text).data() - text.data());
  Place p = place;
  if (p.offset < base) p.offset = base;
  return p;
}

std::int32_t CommandWalk::percent_of(float volume) {
  // The volumes grow with the percentage.
  std::int32_t percent = kVolumeRange.low;
  while (percent < kVolumeRange.high && walk_detail::kVolumes[percent] < volume) ++percent;
  return percent;
}

CommandWalk::GeneralReading CommandWalk::read_general(const char* bytes, std::size_t length) {
  Command c;
  split_command({bytes, length}, c);
  GeneralReading g;
  g.kind = c.kind;
  g.has_value = c.has_value;
  g.value = c.parsed.value;
  g.frequency = c.frequency;
  g.plain_value = c.parsed.has_digits && !c.parsed.saturated &&
                  c.parsed.consumed == c.value.size() && c.extra.empty();
  return g;
}

void CommandWalk::describe(Command& c) const {
  c.number = number_;
  c.offset = base_ + start_;
  split_command({song_ + start_, length_}, c);
  assert(c.kind == kind_);
  c.fate = fate_;
}

bool interpret(std::string_view text, NoteSink sink, const CommandObserver* observer) {
  CommandWalk walk(text);
  if (observer == nullptr) {
    while (walk.step()) {
      if (walk.kind() == Key::note && !sink(walk.frequency(), walk.settings())) return false;
    }
    return true;
  }
  Command c;
  while (walk.next(c)) {
    if (c.kind == Key::note && !sink(c.frequency, walk.settings())) return false;
    (*observer)(c, walk.settings());
  }
  return true;
}

}  // namespace tuvello::text
