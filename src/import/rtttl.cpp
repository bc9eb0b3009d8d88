// SPDX-License-Identifier: MIT
#include "import/rtttl.hpp"

#include <cassert>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "text/note_settings.hpp"

namespace tuvello::rtttl {
namespace {

// Octaves a song text plays exactly: oct:0, 1, 3, 7 (multipliers 1, 2, 4, 8).
constexpr int kLowestOctave = 3;
constexpr int kHighestOctave = 6;
constexpr std::int32_t kShortestMs = text::kLengthRange.low;
constexpr std::int32_t kLongestMs = text::kLengthRange.high;
// Larger numbers are refused: no setting or note needs them, and it keeps
// every product below in 64 bits.
constexpr std::int32_t kLargestNumber = 99999;
// Outside this tempo range RTTTL players differ; the tune is played as written.
constexpr std::int32_t kSlowestBpm = 25;
constexpr std::int32_t kFastestBpm = 900;

// The song text's note keys by semitone from C; "h" is B, "b" is B flat.
constexpr const char* kKeys[12] = {"c", "cs", "d", "ds", "e", "f", "fs", "g", "gs", "a", "b", "h"};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t size() const { return end - begin; }
  bool empty() const { return begin == end; }
};

Span trimmed(std::string_view s, Span span) {
  while (span.begin < span.end && is_blank(s[span.begin])) ++span.begin;
  while (span.end > span.begin && is_blank(s[span.end - 1])) --span.end;
  return span;
}

bool contains(std::string_view s, Span span, char c) {
  for (std::size_t i = span.begin; i < span.end; ++i) {
    if (s[i] == c) return true;
  }
  return false;
}

// A note value the song text can be told about: 1, 2, 4, 8, 16 or 32.
bool is_note_value(std::int32_t d) { return d >= 1 && d <= 32 && (d & (d - 1)) == 0; }

int log2_of(std::int32_t power_of_two) {
  int n = 0;
  while ((std::int32_t{1} << n) < power_of_two) ++n;
  return n;
}

// num * 10^digits / den rounded to nearest, ties to even; num >= 0, 0 < den
// < INT64_MAX / 10. Long division, so num * 10^digits need not fit.
std::int64_t scaled_ratio(std::int64_t num, std::int64_t den, int digits = 0) {
  std::int64_t q = num / den;
  std::int64_t r = num % den;
  for (int d = 0; d < digits; ++d) {
    r *= 10;
    q = q * 10 + r / den;
    r %= den;
  }
  return 2 * r > den || (2 * r == den && (q & 1) != 0) ? q + 1 : q;
}

struct Number {
  bool present = false;    // at least one digit
  bool too_large = false;  // above kLargestNumber
  std::int32_t value = 0;
  Span span;
};

Number read_number(std::string_view s, std::size_t& i, std::size_t end) {
  Number n;
  n.span.begin = i;
  for (; i < end && is_digit(s[i]); ++i) {
    n.present = true;
    if (n.too_large) continue;
    n.value = n.value * 10 + (s[i] - '0');
    n.too_large = n.value > kLargestNumber;
  }
  n.span.end = i;
  return n;
}

// Ringtone bytes as they may appear in a message: printable ASCII, the rest
// as \xHH, at most kShown bytes of the source.
class Quoted {
 public:
  Quoted(std::string_view s, Span span) {
    std::size_t n = 0;
    for (std::size_t i = span.begin; i < span.end && i - span.begin < kShown; ++i) {
      const auto c = static_cast<unsigned char>(s[i]);
      if (c >= 0x20 && c < 0x7F && c != '\'' && c != '\\') {
        buf_[n++] = static_cast<char>(c);
      } else {
        n += static_cast<std::size_t>(std::snprintf(buf_ + n, 5, "\\x%02X", c));
      }
    }
    if (span.size() > kShown) {
      buf_[n++] = '.';
      buf_[n++] = '.';
      buf_[n++] = '.';
    }
    buf_[n] = '\0';
  }
  const char* c_str() const { return buf_; }

 private:
  static constexpr std::size_t kShown = 12;
  char buf_[kShown * 4 + 4] = {};
};

// The song text, written while it fits and counted always.
class TextWriter {
 public:
  TextWriter(char* out, std::int64_t capacity) : out_(out), capacity_(capacity) {}

  void put(std::string_view s) {
    for (const char c : s) {
      if (size_ < capacity_) out_[size_] = c;
      ++size_;
    }
  }
  void put_number(std::int32_t n) {
    assert(n >= 0);
    char digits[12];
    int k = 0;
    do {
      digits[k++] = static_cast<char>('0' + n % 10);
      n /= 10;
    } while (n > 0);
    while (k > 0) put(std::string_view(&digits[--k], 1));
  }
  // Ends the text: its NUL when it fits, else the empty string.
  std::int64_t finish() {
    if (size_ < capacity_) {
      out_[size_] = '\0';
    } else if (capacity_ > 0) {
      out_[0] = '\0';
    }
    return size_;
  }

 private:
  char* out_;
  std::int64_t capacity_;
  std::int64_t size_ = 0;
};

// Notes as commands, with "len" and "oct" written only when they change from
// what the song text already plays (its defaults at first: 100 ms, oct:0).
class SongWriter {
 public:
  explicit SongWriter(TextWriter& out) : out_(out) {}

  // semitone -1 is a pause, which plays at any "oct".
  void note(int semitone, int octave, std::int32_t ms) {
    if (ms != length_) {
      separate();
      out_.put("len:");
      out_.put_number(ms);
      length_ = ms;
    }
    if (semitone >= 0) {
      const std::int32_t oct = (std::int32_t{1} << (octave - kLowestOctave)) - 1;
      if (oct != oct_) {
        separate();
        out_.put("oct:");
        out_.put_number(oct);
        oct_ = oct;
      }
    }
    separate();
    out_.put(semitone < 0 ? "p" : kKeys[semitone]);
  }

 private:
  void separate() {
    if (!first_) out_.put(";");
    first_ = false;
  }

  TextWriter& out_;
  std::int32_t length_ = text::NoteSettings{}.length_ms;
  std::int32_t oct_ = text::NoteSettings{}.multiplier - 1;
  bool first_ = true;
};

class Reporter {
 public:
  explicit Reporter(const WarningSink* sink) : sink_(sink) {}

  __attribute__((format(printf, 5, 6))) void say(Problem problem, Span span, std::int32_t note,
                                                 const char* format, ...) {
    if (sink_ == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(message_, sizeof message_, format, args);
    va_end(args);
    Warning w;
    w.problem = problem;
    w.offset = span.begin;
    w.length = span.size();
    w.note = note;
    w.message = message_;
    if (!(*sink_)(w)) sink_ = nullptr;
  }

 private:
  const WarningSink* sink_;
  char message_[256] = {};
};

struct Settings {
  std::int32_t duration = kDefaultDuration;
  std::int32_t octave = kDefaultOctave;
  std::int32_t bpm = kDefaultBeatsPerMinute;
};

// Where the three sections are, and a warning for each one missing.
struct Sections {
  Span settings;
  Span notes;
};

Sections find_sections(std::string_view s, Reporter& r) {
  const Span all{0, s.size()};
  const std::size_t first = s.find(':');
  if (first == std::string_view::npos) {
    // Nothing at all is said once, as "no notes".
    if (trimmed(s, all).empty()) return {Span{0, 0}, all};
    r.say(Problem::section, Span{0, 0}, 0,
          "no ':' in the ringtone, so no name or settings section: all of it is read as notes, "
          "with d=%d, o=%d, b=%d",
          kDefaultDuration, kDefaultOctave, kDefaultBeatsPerMinute);
    return {Span{0, 0}, all};
  }
  const std::size_t second = s.find(':', first + 1);
  if (second != std::string_view::npos) {
    return {Span{first + 1, second}, Span{second + 1, s.size()}};
  }
  const Span before{0, first};
  const Span after{first + 1, s.size()};
  if (contains(s, before, '=')) {
    r.say(Problem::section, Span{0, 0}, 0,
          "only one ':' and settings before it: the name section is missing");
    return {before, after};
  }
  if (contains(s, after, '=')) {
    r.say(Problem::section, Span{s.size(), s.size()}, 0,
          "only one ':' and settings after it: the notes section is missing");
    return {after, Span{s.size(), s.size()}};
  }
  r.say(Problem::section, Span{first + 1, first + 1}, 0,
        "only one ':': the settings section is missing, so d=%d, o=%d, b=%d are used",
        kDefaultDuration, kDefaultOctave, kDefaultBeatsPerMinute);
  return {Span{first + 1, first + 1}, after};
}

void read_setting(std::string_view s, Span item, Settings& settings, Reporter& r) {
  std::size_t eq = item.begin;
  while (eq < item.end && s[eq] != '=') ++eq;
  if (eq == item.end) {
    r.say(Problem::setting, item, 0, "setting '%s' has no '=': ignored", Quoted(s, item).c_str());
    return;
  }
  const Span key = trimmed(s, Span{item.begin, eq});
  const Span value = trimmed(s, Span{eq + 1, item.end});
  const char name = key.size() == 1 ? lower(s[key.begin]) : '\0';
  std::int32_t* target = name == 'd'   ? &settings.duration
                         : name == 'o' ? &settings.octave
                         : name == 'b' ? &settings.bpm
                                       : nullptr;
  if (target == nullptr) {
    r.say(Problem::setting, item, 0, "unknown setting '%s' (d, o and b are known): ignored",
          Quoted(s, key).c_str());
    return;
  }
  std::size_t i = value.begin;
  const Number n = read_number(s, i, value.end);
  const std::int32_t keep = *target;
  if (!n.present || i != value.end) {
    r.say(Problem::number, value, 0, "%c= needs a whole number, not '%s': %c=%d is used", name,
          Quoted(s, value).c_str(), name, keep);
    return;
  }
  if (n.too_large) {
    r.say(Problem::number, value, 0, "%c=%s is far too large: %c=%d is used", name,
          Quoted(s, value).c_str(), name, keep);
    return;
  }
  switch (name) {
    case 'd':
      if (!is_note_value(n.value)) {
        r.say(Problem::number, value, 0,
              "d=%d is not a note value (1, 2, 4, 8, 16, 32): d=%d is used", n.value, keep);
        return;
      }
      break;
    case 'b':
      if (n.value == 0) {
        r.say(Problem::number, value, 0, "b=0 is no tempo: b=%d is used", keep);
        return;
      }
      if (n.value < kSlowestBpm || n.value > kFastestBpm) {
        r.say(Problem::number, value, 0,
              "b=%d is outside RTTTL's %d to %d beats per minute: played as written", n.value,
              kSlowestBpm, kFastestBpm);
      }
      break;
    default:  // any octave is kept here; notes out of reach are moved when played
      break;
  }
  *target = n.value;
}

Settings read_settings(std::string_view s, Span section, Reporter& r) {
  Settings settings;
  if (trimmed(s, section).empty()) return settings;
  std::size_t begin = section.begin;
  while (true) {
    std::size_t end = begin;
    while (end < section.end && s[end] != ',') ++end;
    const Span item = trimmed(s, Span{begin, end});
    if (item.empty()) {
      r.say(Problem::setting, item, 0, "empty setting between commas: ignored");
    } else {
      read_setting(s, item, settings, r);
    }
    if (end == section.end) break;
    begin = end + 1;
  }
  return settings;
}

// Plays the notes section, reporting what the song text cannot keep.
class NotePlayer {
 public:
  NotePlayer(std::string_view s, const Settings& settings, SongWriter& song, Reporter& r)
      : s_(s), settings_(settings), song_(song), r_(r) {}

  void play(Span section) {
    if (trimmed(s_, section).empty()) {
      r_.say(Problem::section, section, 0, "no notes: the song text is empty");
      return;
    }
    std::size_t begin = section.begin;
    std::int32_t number = 0;
    while (true) {
      std::size_t end = begin;
      while (end < section.end && s_[end] != ',') ++end;
      if (number < INT32_MAX) ++number;  // saturates past 2^31 notes, as commands do
      play_note(trimmed(s_, Span{begin, end}), number);
      if (end == section.end) break;
      begin = end + 1;
    }
    report_drift(section);
  }

 private:
  // [duration] letter [# or b] [.] [octave] [.]
  void play_note(Span token, std::int32_t number) {
    if (token.empty()) {
      r_.say(Problem::note, token, number, "empty note between commas: skipped");
      return;
    }
    std::size_t i = token.begin;
    const Number written = read_number(s_, i, token.end);
    std::int32_t value = settings_.duration;
    if (written.present) {
      if (written.too_large || !is_note_value(written.value)) {
        r_.say(Problem::number, written.span, number,
               "duration '%s' is not a note value (1, 2, 4, 8, 16, 32): the default %d is used",
               Quoted(s_, written.span).c_str(), settings_.duration);
      } else {
        value = written.value;
      }
    }
    if (i == token.end) {
      r_.say(Problem::note, token, number, "'%s' has no note name: skipped",
             Quoted(s_, token).c_str());
      return;
    }
    static constexpr int kSemitones[7] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
    const char letter = lower(s_[i]);
    const bool pause = letter == 'p';
    int semitone = 0;
    if (letter >= 'a' && letter <= 'g') {
      semitone = kSemitones[letter - 'a'];
    } else if (letter == 'h') {
      semitone = 11;  // the German name of B, which some ringtones use
    } else if (!pause) {
      r_.say(Problem::note, token, number,
             "unknown note '%s' (a to g, or p for a pause): '%s' skipped",
             Quoted(s_, Span{i, i + 1}).c_str(), Quoted(s_, token).c_str());
      return;
    }
    ++i;
    if (i < token.end && (s_[i] == '#' || lower(s_[i]) == 'b')) {
      if (pause) {
        r_.say(Problem::note, Span{i, i + 1}, number, "a pause has no sharp or flat: ignored");
      } else {
        semitone += s_[i] == '#' ? 1 : -1;
      }
      ++i;
    }
    int dots = 0;
    for (; i < token.end && s_[i] == '.'; ++i) ++dots;
    const Number octave_written = read_number(s_, i, token.end);
    for (; i < token.end && s_[i] == '.'; ++i) ++dots;
    if (dots > 1) {
      r_.say(Problem::note, token, number, "a note takes one dot, '%s' has %d: one is used",
             Quoted(s_, token).c_str(), dots);
    }
    if (i < token.end) {
      const Span rest{i, token.end};
      r_.say(Problem::note, rest, number, "unexpected '%s' after the note: ignored",
             Quoted(s_, rest).c_str());
    }
    int octave = settings_.octave;
    if (octave_written.present) {
      if (octave_written.too_large) {
        r_.say(Problem::number, octave_written.span, number,
               "octave '%s' is far too large: the default %d is used",
               Quoted(s_, octave_written.span).c_str(), settings_.octave);
      } else {
        octave = octave_written.value;
      }
    }
    const Length length = note_length(token, number, value, dots > 0);
    if (pause) {
      emit(-1, 0, length, token, number);
      return;
    }
    // B# is C of the next octave, C flat B of the one below.
    if (semitone == 12) {
      semitone = 0;
      ++octave;
    } else if (semitone == -1) {
      semitone = 11;
      --octave;
    }
    emit(semitone, reachable(octave, token, number), length, token, number);
  }

  int reachable(int octave, Span token, std::int32_t number) {
    const int to = octave < kLowestOctave    ? kLowestOctave
                   : octave > kHighestOctave ? kHighestOctave
                                             : octave;
    if (to == octave) return to;
    // Once per octave, at its first note: a tune often stays in one.
    const int slot = octave < 0 ? 0 : octave > 30 ? 31 : octave + 1;
    if ((octaves_reported_ & (1u << slot)) == 0) {
      octaves_reported_ |= 1u << slot;
      r_.say(Problem::octave, token, number,
             "octave %d is out of reach (3 to 6 play exactly): its notes play in octave %d "
             "(said once per octave)",
             octave, to);
    }
    return to;
  }

  struct Length {
    std::int32_t ms;     // as played: whole milliseconds, at least 20
    std::int64_t ticks;  // as written, in 1 / (64 bpm) ms
  };

  // A whole note lasts 4 beats: 240000 / bpm ms. In 1 / (64 bpm) ms every
  // note value that divides 32 lasts a whole number of ticks, at most
  // 240000 * 3 * 32.
  Length note_length(Span token, std::int32_t number, std::int32_t value, bool dotted) {
    const std::int64_t num = std::int64_t{240000} * (dotted ? 3 : 2);
    const std::int64_t den = std::int64_t{2} * settings_.bpm * value;
    const std::int64_t ticks = num * (32 / value);
    const std::int64_t ms = scaled_ratio(num, den);
    if (ms >= kShortestMs) return {static_cast<std::int32_t>(ms), ticks};
    const int slot = log2_of(value) * 2 + (dotted ? 1 : 0);
    if ((short_reported_ & (1u << slot)) == 0) {
      short_reported_ |= 1u << slot;
      const std::int64_t tenths = scaled_ratio(num, den, 1);
      r_.say(Problem::too_short, token, number,
             "a %s1/%d note lasts %lld.%lld ms at b=%d, less than the shortest song note: played "
             "as %d ms (said once per note value)",
             dotted ? "dotted " : "", value, static_cast<long long>(tenths / 10),
             static_cast<long long>(tenths % 10), settings_.bpm, kShortestMs);
    }
    return {kShortestMs, ticks};
  }

  // One note, or repeated notes of equal length (within 1 ms) when it is
  // longer than a song note can be.
  void emit(int semitone, int octave, Length length, Span token, std::int32_t number) {
    const std::int32_t ms = length.ms;
    const std::int32_t parts = (ms + kLongestMs - 1) / kLongestMs;
    const std::int32_t base = ms / parts;
    const std::int32_t longer = ms % parts;
    if (parts > 1 && semitone >= 0 && !split_reported_) {
      split_reported_ = true;
      r_.say(Problem::split, token, number,
             "a note of %d ms is longer than the longest song note (%d ms): it plays as %d "
             "repeated notes, each restarting its tone (said once per tune)",
             ms, kLongestMs, parts);
    }
    for (std::int32_t k = 0; k < parts; ++k) {
      song_.note(semitone, octave, k < longer ? base + 1 : base);
    }
    // Per note, |played - written| < 20 * 64 * 99999 ticks and written <
    // 240000 * 3 * 32 ticks: the sums fit in 64 bits (and below INT64_MAX /
    // 10) for any ringtone shorter than 100 GB, two bytes a note at least.
    played_minus_exact_ += std::int64_t{ms} * 64 * settings_.bpm - length.ticks;
    exact_total_ += length.ticks;
  }

  void report_drift(Span section) {
    if (exact_total_ == 0) return;
    const std::int64_t off = played_minus_exact_ < 0 ? -played_minus_exact_ : played_minus_exact_;
    if (off <= exact_total_ / 100) return;  // off * 100 <= total, for whole numbers
    const std::int64_t per_ms = std::int64_t{64} * settings_.bpm;
    const std::int64_t played = (exact_total_ + played_minus_exact_) / per_ms;
    const std::int64_t written_tenths = scaled_ratio(exact_total_, per_ms, 1);
    const std::int64_t permille = scaled_ratio(off, exact_total_, 3);
    r_.say(Problem::drift, section, 0,
           "the tune plays %lld ms instead of %lld.%lld ms (%s%lld.%lld %%): note lengths are "
           "whole milliseconds from %d to %d",
           static_cast<long long>(played), static_cast<long long>(written_tenths / 10),
           static_cast<long long>(written_tenths % 10), played_minus_exact_ < 0 ? "-" : "+",
           static_cast<long long>(permille / 10), static_cast<long long>(permille % 10),
           kShortestMs, kLongestMs);
  }

  std::string_view s_;
  const Settings& settings_;
  SongWriter& song_;
  Reporter& r_;
  std::int64_t exact_total_ = 0;
  std::int64_t played_minus_exact_ = 0;
  std::uint32_t octaves_reported_ = 0;
  std::uint32_t short_reported_ = 0;
  bool split_reported_ = false;
};

}  // namespace

std::int64_t convert(std::string_view ringtone, char* text, std::int64_t capacity,
                     const WarningSink* warn) {
  assert(capacity >= 0 && (text != nullptr || capacity == 0));
  Reporter reporter(warn);
  TextWriter out(text, capacity);
  SongWriter song(out);
  const Sections sections = find_sections(ringtone, reporter);
  const Settings settings = read_settings(ringtone, sections.settings, reporter);
  NotePlayer(ringtone, settings, song, reporter).play(sections.notes);
  return out.finish();
}

}  // namespace tuvello::rtttl
