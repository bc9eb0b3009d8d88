// SPDX-License-Identifier: MIT
// The straightforward song text walk, kept as the yardstick for the fast one
// in the library: it finds each ";" and ":" with a search of its own, trims
// and folds every key byte by byte and compares it with every key of the
// notation. The differential tests hold the library's walk to it command by
// command; the benchmarks measure against it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "text/interpreter.hpp"

namespace tuvello_test {

class ReferenceWalk {
 public:
  explicit ReferenceWalk(std::string_view text)
      : song_(trim_spaces(text)), base_(static_cast<std::size_t>(song_.data() - text.data())) {}

  // As CommandWalk::next: reads the next command and applies it.
  bool next(tuvello::text::Command& c) {
    using namespace tuvello::text;
    if (done_) return false;
    const std::size_t end = song_.find(';', pos_);
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
    c.kind = classify(c.key, &c.frequency);
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
        apply(c);
        break;
    }
    if (end == std::string_view::npos) {
      done_ = true;
    } else {
      pos_ = end + 1;
    }
    return true;
  }

  const tuvello::text::NoteSettings& settings() const { return settings_; }

 private:
  static std::string_view slice(std::string_view s, std::size_t from, std::size_t to) {
    if (to > s.size()) to = s.size();
    return {s.data() + from, to - from};
  }

  static std::string_view trim_spaces(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return slice(s, b, e);
  }

  static char fold_case(char c) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE)) return static_cast<char>(u + 0x20);
    return c;
  }

  static tuvello::text::Key classify(std::string_view key, double* frequency) {
    using tuvello::text::Key;
    struct Named {
      std::string_view key;
      Key kind;
      double frequency;
    };
    static constexpr std::array<Named, 18> kKeys{{
        {"c", Key::note, 261.63},
        {"cs", Key::note, 277.18},
        {"d", Key::note, 293.66},
        {"ds", Key::note, 311.13},
        {"e", Key::note, 329.63},
        {"f", Key::note, 349.23},
        {"fs", Key::note, 369.99},
        {"g", Key::note, 392.00},
        {"gs", Key::note, 415.30},
        {"a", Key::note, 440.00},
        {"b", Key::note, 466.16},
        {"h", Key::note, 493.88},
        {"p", Key::note, 0.0},
        {"len", Key::len, 0.0},
        {"vol", Key::vol, 0.0},
        {"oct", Key::oct, 0.0},
        {"pipe", Key::pipe, 0.0},
        {"dec", Key::dec, 0.0},
    }};
    if (key.empty()) return Key::empty;
    if (key.size() > 4) return Key::unknown;
    std::array<char, 4> folded{};
    for (std::size_t i = 0; i < key.size(); ++i) folded[i] = fold_case(key[i]);
    const std::string_view k(folded.data(), key.size());
    for (const Named& n : kKeys) {
      if (k == n.key) {
        if (n.kind == Key::note) *frequency = n.frequency;
        return n.kind;
      }
    }
    return Key::unknown;
  }

  void apply(tuvello::text::Command& c) {
    using namespace tuvello::text;
    const std::int32_t v = c.parsed.value;
    if (!accepted_range(c.kind).contains(v)) {
      c.fate = Fate::out_of_range;
      return;
    }
    c.fate = Fate::setting_applied;
    switch (c.kind) {
      case Key::len:
        settings_.length_ms = v;
        break;
      case Key::vol:
        settings_.volume = volume_of_percent(v);
        break;
      case Key::oct:
        settings_.multiplier = v + 1;
        break;
      case Key::pipe:
        settings_.pipe = v != 0;
        break;
      case Key::dec:
        settings_.decay = v != 0;
        break;
      default:
        break;
    }
  }

  std::string_view song_;
  std::size_t base_;
  std::size_t pos_ = 0;
  std::size_t number_ = 0;
  bool done_ = false;
  tuvello::text::NoteSettings settings_;
};

}  // namespace tuvello_test
