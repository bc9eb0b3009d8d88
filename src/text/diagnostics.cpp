// SPDX-License-Identifier: MIT
#include "text/diagnostics.hpp"

#include <cmath>

#include "base/quote.hpp"

namespace tuvello::text {
namespace {

// Long commands (a whole file without ";" is one) are shown shortened.
constexpr std::size_t kShownBytes = 40;
constexpr std::size_t kShownKeys = 3;

// A message built in place, cut at its capacity instead of growing.
class Message {
 public:
  void add(std::string_view s) {
    for (const char ch : s) put(ch);
  }
  void add_number(std::int64_t v) {
    // Digits from the last, of the magnitude taken unsigned (INT64_MIN too).
    char digits[24];
    std::size_t n = sizeof digits;
    std::uint64_t u = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    do {
      digits[--n] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
    if (v < 0) digits[--n] = '-';
    add({digits + n, sizeof digits - n});
  }
  void clear() { size_ = 0; }
  // 'BYTES', the first kShownBytes bytes quoted to one line of ASCII.
  void add_quoted(std::string_view bytes) {
    put('\'');
    base::quote_bytes(bytes, kShownBytes, [this](char ch) { put(ch); });
    put('\'');
  }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {text_, size_}; }
  const char* c_str() {
    text_[size_] = '\0';
    return text_;
  }

 private:
  void put(char ch) {
    if (size_ + 1 < kMessageCapacity) text_[size_++] = ch;
  }
  char text_[kMessageCapacity];
  std::size_t size_ = 0;
};

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool all_blank(std::string_view s) {
  for (const char c : s) {
    if (!is_blank(c)) return false;
  }
  return true;
}

// Bytes [from, to) of s, clipped at its end. Unlike substr it never throws,
// which keeps the library free of the C++ runtime.
std::string_view slice(std::string_view s, std::size_t from, std::size_t to = SIZE_MAX) {
  if (to > s.size()) to = s.size();
  if (from > to) from = to;
  return {s.data() + from, to - from};
}

std::string_view tail(std::string_view s, std::size_t from) { return slice(s, from); }

// Keys of the notation that blanks (line breaks, tabs, spaces) have merged
// into one field with other bytes, so the interpreter never sees them alone.
struct HiddenKeys {
  std::string_view shown[kShownKeys];
  std::size_t keys = 0;    // all keys found, shown or not
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
    const std::string_view piece = slice(field, i, j);
    ++h.pieces;
    double frequency = 0.0;
    const Key kind = classify_key(piece, &frequency);
    if (kind != Key::unknown && kind != Key::empty) {
      if (h.keys < kShownKeys) h.shown[h.keys] = piece;
      ++h.keys;
    }
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

// "a line break hides 'c', 'd' and 'e' (commands are separated by ';')"
void add_hidden_phrase(Message& m, const HiddenKeys& h) {
  m.add(h.blank);
  m.add(" hides ");
  const std::size_t shown = h.keys < kShownKeys ? h.keys : kShownKeys;
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) m.add(i + 1 == h.keys ? " and " : ", ");
    m.add_quoted(h.shown[i]);
  }
  if (h.keys > shown) {
    m.add(" and ");
    m.add_number(static_cast<std::int64_t>(h.keys - shown));
    m.add(" more");
  }
  m.add(" (commands are separated by ';')");
}

void add_unknown_key_reason(Message& m, const Command& c) {
  const HiddenKeys h = find_hidden_keys(c.key);
  if (h.keys > 0 && h.pieces == 1) {
    m.add(h.blank);
    m.add(" makes the key ");
    m.add_quoted(c.key);
    m.add(" unknown, so ");
    m.add_quoted(h.shown[0]);
    m.add(" is skipped");
    return;
  }
  m.add("unknown key ");
  m.add_quoted(c.key);
  if (h.keys > 0) {
    m.add(": ");
    add_hidden_phrase(m, h);
  } else if (c.key.find('#') != std::string_view::npos) {
    m.add(" (sharps are written cs, ds, fs and gs)");
  } else {
    m.add(", so the command is skipped");
  }
}

void add_empty_reason(Message& m, const Command& c) {
  m.add(c.has_value ? "no key before ':', so the command is skipped"
                    : "empty command, skipped (a pause is written 'p')");
}

// A note's value, which plays no part. Adds nothing without one.
void add_note_value_reason(Message& m, const Command& c) {
  if (!c.has_value) return;
  std::string_view value = slice(c.written, c.written.find(':'));
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  m.add("a note takes no value, so ");
  m.add_quoted(value);
  m.add(" is ignored");
  const HiddenKeys h = find_hidden_keys(slice(value, 1));
  if (h.keys > 0) {
    m.add("; ");
    add_hidden_phrase(m, h);
  }
}

// What a setting now is ("the length is 200 ms"), or stays at.
void add_setting_state(Message& m, Key kind, const NoteSettings& s, const char* verb) {
  const auto say = [&](const char* what) {
    m.add(what);
    m.add(" ");
    m.add(verb);
    m.add(" ");
  };
  switch (kind) {
    case Key::len:
      say("the length");
      m.add_number(s.length_ms);
      m.add(" ms");
      break;
    case Key::vol:
      say("the volume");
      m.add_number(std::lround(s.volume * 100.0));
      m.add("%");
      break;
    case Key::oct:
      say("the pitch multiplier");
      m.add_number(s.multiplier);
      break;
    case Key::pipe:
      say("pipe mode");
      m.add(s.pipe ? "on" : "off");
      break;
    case Key::dec:
      say("decay mode");
      m.add(s.decay ? "on" : "off");
      break;
    default:
      break;
  }
}

// How a setting's value reads when that is not what it says ("value '5x' is
// only partly a number and reads as 5"); adds nothing when it reads as
// written. Returns whether it added words.
bool add_value_reading(Message& m, const Command& c, const HiddenKeys& hidden) {
  const auto value = [&] {
    m.add("value ");
    m.add_quoted(c.value);
  };
  const std::string_view rest = tail(c.value, c.parsed.consumed);
  if (!c.has_value) {
    m.add_quoted(c.key);
    m.add(" has no value and");
  } else if (c.value.empty()) {
    m.add("the value is empty and");
  } else if (!c.parsed.has_digits) {
    value();
    m.add(" is not a number and");
  } else if (c.parsed.saturated) {
    value();
    m.add(" does not fit in 32 bits and");
  } else if (hidden.keys > 0) {
    value();
  } else if (!all_blank(rest)) {
    value();
    m.add(" is only partly a number and");
  } else {
    return false;
  }
  m.add(" reads as ");
  m.add_number(c.parsed.value);
  return true;
}

// The warning about a setting, if any, and its kind.
bool add_setting_reason(Message& m, const Command& c, const NoteSettings& settings,
                        WarningKind* kind) {
  const std::size_t start = m.size();
  const HiddenKeys hidden = find_hidden_keys(tail(c.value, c.parsed.consumed));
  const bool reads_otherwise = add_value_reading(m, c, hidden);
  if (c.fate == Fate::out_of_range) {
    *kind = WarningKind::out_of_range;
    if (reads_otherwise) {
      m.add(", ");
    } else {
      m.add("value ");
      m.add_number(c.parsed.value);
      m.add(" is ");
    }
    const AcceptedRange range = accepted_range(c.kind);
    m.add("outside the accepted range ");
    m.add_number(range.low);
    m.add(" to ");
    m.add_number(range.high);
    m.add(", so ");
    add_setting_state(m, c.kind, settings, "stays");
  } else if (reads_otherwise) {
    *kind = WarningKind::not_a_number;
    m.add(", so ");
    add_setting_state(m, c.kind, settings, "is");
  }
  if (hidden.keys > 0) {
    m.add("; ");
    add_hidden_phrase(m, hidden);
  }
  if (!all_blank(c.extra)) {
    if (m.size() > start) {
      m.add("; ");
    } else {
      *kind = WarningKind::ignored_text;
    }
    m.add("the text after the second ':' (");
    m.add_quoted(c.extra);
    m.add(") is ignored");
  }
  return m.size() > start;
}

}  // namespace

std::size_t for_each_warning(std::string_view text, std::int64_t size_limit, NoteFits fits,
                             const WarningSink* sink) {
  CommandWalk walk(text);
  // A setting that takes its value as written matters only if a note
  // follows. The walk looks ahead for the next note when a setting needs to
  // know, and remembers it until it passes it: every stretch of text is
  // looked through at most once ahead, and warnings come out in text order.
  std::size_t next_note = 0;  // number of a note known to come, or 0
  bool notes_over = false;    // no note follows the place looked from
  const auto note_follows = [&] {
    if (next_note > walk.number()) return true;
    if (notes_over) return false;
    CommandWalk ahead = walk;
    while (ahead.step()) {
      if (ahead.kind() == Key::note) {
        next_note = ahead.number();
        return true;
      }
    }
    notes_over = true;
    return false;
  };
  const bool blank_text = walk.blank();

  std::size_t reported = 0;
  std::size_t unresolved = 0;  // plain settings counted with no note seen after them yet
  bool too_long = false;
  Command c;
  Message m;
  while (walk.step()) {
    // Most commands can be told to have no warning, or its kind, without
    // looking at their words; the message is written only for a sink.
    bool plain = false;  // the warning (if any) follows from the fate alone
    bool passes_limit = false;
    WarningKind kind = WarningKind::empty;
    bool warns = false;
    switch (walk.fate()) {
      case Fate::empty:
        plain = true;
        warns = !blank_text;
        break;
      case Fate::unknown_key:
        plain = true;
        warns = true;
        kind = WarningKind::unknown_key;
        break;
      case Fate::note_rendered:
        unresolved = 0;  // a note follows them all
        // Asked of every note until one passes the limit.
        passes_limit = !too_long && !fits(walk.frequency(), walk.settings());
        too_long = too_long || passes_limit;
        plain = !walk.has_value() && !passes_limit;
        break;
      case Fate::setting_applied:
      case Fate::out_of_range:
        if (walk.plain_setting() && sink == nullptr) {
          // Only counted: whether a note follows is known at that note, or
          // at the end; nothing needs to be reported before then.
          plain = true;
          ++unresolved;
        } else if (walk.plain_setting()) {
          plain = true;
          warns = !note_follows();
          kind = WarningKind::no_effect;
        }
        break;
    }
    if (plain && (!warns || sink == nullptr)) {
      reported += warns;
      continue;
    }

    walk.describe(c);
    m.clear();
    m.add("command ");
    m.add_number(static_cast<std::int64_t>(c.number));
    m.add(" ");
    m.add_quoted(c.written);
    m.add(": ");
    const std::size_t prefix = m.size();
    kind = WarningKind::empty;
    switch (c.fate) {
      case Fate::empty:
        if (!blank_text) add_empty_reason(m, c);
        break;
      case Fate::unknown_key:
        kind = WarningKind::unknown_key;
        add_unknown_key_reason(m, c);
        break;
      case Fate::note_rendered:
        kind = WarningKind::ignored_text;
        add_note_value_reason(m, c);
        if (passes_limit) {
          kind = WarningKind::too_long;
          if (m.size() > prefix) m.add("; ");
          m.add("the song image passes ");
          m.add_number(size_limit);
          m.add(" bytes here, so rendering fails");
        }
        break;
      case Fate::setting_applied:
      case Fate::out_of_range:
        if (!add_setting_reason(m, c, walk.settings(), &kind) && !note_follows()) {
          kind = WarningKind::no_effect;
          m.add("no note follows, so the setting has no effect");
        }
        break;
    }
    if (m.size() == prefix) continue;
    ++reported;
    if (sink == nullptr) continue;
    m.c_str();
    if (!(*sink)(Warning{&c, kind, m.view()})) break;
  }
  return reported + unresolved;
}

}  // namespace tuvello::text
