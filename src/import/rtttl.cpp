// SPDX-License-Identifier: MIT
#include "import/rtttl.hpp"

#include <cassert>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "image/song_stream.hpp"
#include "import/octave_span.hpp"
#include "import/text_out.hpp"
#include "text/note_settings.hpp"

namespace tuvello::rtttl {
namespace {

// Octaves a song text plays exactly: oct:0, 1, 3, 7 (multipliers 1, 2, 4, 8).
constexpr int kLowestOctave = 3;
constexpr int kHighestOctave = 6;
constexpr std::int32_t kShortestMs = text::kLengthRange.low;
constexpr std::int32_t kLongestMs = text::kLengthRange.high;
// Larger numbers are refused: no setting or note needs them, and it keeps
// every product below in 64 bits. A tempo's digits, its decimals included,
// make one such number.
constexpr std::int32_t kLargestNumber = 99999;

// The song text's note keys by semitone from C; "h" is B, "b" is B flat.
constexpr const char* kKeys[12] = {"c", "cs", "d", "ds", "e", "f", "fs", "g", "gs", "a", "b", "h"};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

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

// A note value: 1, 2, 4, 8, 16, 32 or 64.
bool is_note_value(std::int32_t d) { return d >= 1 && d <= 64 && (d & (d - 1)) == 0; }

int log2_of(std::int32_t power_of_two) {
  int n = 0;
  while ((std::int32_t{1} << n) < power_of_two) ++n;
  return n;
}

struct Number {
  bool present = false;    // at least one digit
  bool too_large = false;  // above kLargestNumber
  std::int32_t value = 0;
  int digits = 0;
  Span span;  // first digit to last
};

// Digits from `i`; with `blanks`, blanks may stand between them. Leaves `i`
// after the last digit.
Number read_number(std::string_view s, std::size_t& i, std::size_t end, bool blanks = false) {
  Number n;
  n.span = Span{i, i};
  std::size_t j = i;
  while (true) {
    if (blanks) {
      while (j < end && is_blank(s[j])) ++j;
    }
    if (j >= end || !is_digit(s[j])) break;
    if (!n.present) n.span.begin = j;
    n.present = true;
    ++n.digits;
    if (!n.too_large) {
      n.value = n.value * 10 + (s[j] - '0');
      n.too_large = n.value > kLargestNumber;
    }
    n.span.end = ++j;
    i = j;
  }
  return n;
}

// Beats per minute as num / scale: a decimal tempo ("b=112.5") is kept
// exact, and every length worked out from it in integers.
struct Tempo {
  std::int64_t num = kDefaultBeatsPerMinute;
  std::int64_t scale = 1;  // a power of ten
};

// "112.5": the tempo as it would be written.
struct TempoText {
  explicit TempoText(Tempo t) {
    int n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(t.num / t.scale));
    if (t.scale > 1) buf[n++] = '.';
    for (std::int64_t s = t.scale / 10; s > 0; s /= 10) {
      buf[n++] = static_cast<char>('0' + t.num / s % 10);
    }
    buf[n] = '\0';
  }
  char buf[32];
};

class Reporter {
 public:
  explicit Reporter(const WarningSink* sink) : sink_(sink) {}

  __attribute__((format(printf, 5, 6))) void say(Problem problem, Span span, std::int32_t note,
                                                 const char* format, ...) {
    ++said_;
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

  // Warnings found so far, told or not: a silent reporter checks a reading.
  std::int64_t said() const { return said_; }
  // Nobody listens (any more): what only makes a message can be skipped.
  bool quiet() const { return sink_ == nullptr; }

 private:
  const WarningSink* sink_;
  std::int64_t said_ = 0;
  char message_[320] = {};
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

struct Settings {
  std::int32_t duration = kDefaultDuration;
  std::int32_t octave = kDefaultOctave;
  Tempo tempo;
};

// Items of a section, split at ','. A comma may end the section: RTTTL ends
// each note or setting with one, so an empty item after the last comma is
// none.
class Items {
 public:
  Items(std::string_view s, Span section) : s_(s), section_(section), begin_(section.begin) {}

  // The next item, trimmed, and its 1-based number (saturating past 2^31,
  // as commands do); false after the last.
  bool next(Span& item, std::int32_t& number) {
    if (done_) return false;
    std::size_t end = begin_;
    while (end < section_.end && s_[end] != ',') ++end;
    item = trimmed(s_, Span{begin_, end});
    done_ = end == section_.end;
    if (done_ && item.empty() && number_ > 0) return false;
    if (number_ < INT32_MAX) ++number_;
    number = number_;
    begin_ = end + 1;
    return true;
  }

 private:
  std::string_view s_;
  Span section_;
  std::size_t begin_;
  std::int32_t number_ = 0;
  bool done_ = false;
};

// Where the three sections are, and a warning for each one missing.
struct Sections {
  Span settings;
  Span notes;
  Span name;  // empty when the ringtone has no name section
};

Settings read_settings(std::string_view s, Span section, Reporter& r);
bool reads_as_notes(std::string_view s, Span section);

Sections find_sections(std::string_view s, Reporter& r) {
  const Span all{0, s.size()};
  const std::size_t first = s.find(':');
  if (first == std::string_view::npos) {
    // Nothing at all is said once, as "no notes".
    if (trimmed(s, all).empty()) return {Span{0, 0}, all, Span{0, 0}};
    r.say(Problem::section, Span{0, 0}, 0,
          "no ':' in the ringtone, so no name or settings section: all of it is read as notes, "
          "with d=%d, o=%d, b=%d",
          kDefaultDuration, kDefaultOctave, kDefaultBeatsPerMinute);
    return {Span{0, 0}, all, Span{0, 0}};
  }
  const std::size_t second = s.find(':', first + 1);
  if (second != std::string_view::npos) {
    // More than two ':': a name such as "Star Wars: Main Title", when what
    // follows its last two reads as settings and notes.
    const std::size_t last = s.rfind(':');
    if (last != second) {
      const std::size_t before = s.rfind(':', last - 1);
      const Span settings{before + 1, last};
      const Span notes{last + 1, s.size()};
      Reporter silent(nullptr);
      read_settings(s, settings, silent);
      if (silent.said() == 0 && reads_as_notes(s, notes)) {
        r.say(Problem::guess, Span{0, before}, 0,
              "the name holds ':': '%s' is read as the name, the settings and notes follow its "
              "last two ':'",
              Quoted(s, Span{0, before}).c_str());
        return {settings, notes, Span{0, before}};
      }
    }
    return {Span{first + 1, second}, Span{second + 1, s.size()}, Span{0, first}};
  }
  const Span before{0, first};
  const Span after{first + 1, s.size()};
  if (contains(s, before, '=')) {
    r.say(Problem::section, Span{0, 0}, 0,
          "only one ':' and settings before it: the name section is missing");
    return {before, after, Span{0, 0}};
  }
  if (contains(s, after, '=')) {
    r.say(Problem::section, Span{s.size(), s.size()}, 0,
          "only one ':' and settings after it: the notes section is missing");
    return {after, Span{s.size(), s.size()}, before};
  }
  r.say(Problem::section, Span{first + 1, first + 1}, 0,
        "only one ':': the settings section is missing, so d=%d, o=%d, b=%d are used",
        kDefaultDuration, kDefaultOctave, kDefaultBeatsPerMinute);
  return {Span{first + 1, first + 1}, after, before};
}

// b=: a whole or decimal number of beats per minute, at least 1.
void read_tempo(std::string_view s, Span value, Tempo& tempo, Reporter& r) {
  const TempoText keep(tempo);
  std::size_t i = value.begin;
  const Number whole = read_number(s, i, value.end);
  Number part;
  if (whole.present && i < value.end && s[i] == '.') {
    ++i;
    part = read_number(s, i, value.end);
  }
  if (!whole.present || i != value.end) {
    r.say(Problem::number, value, 0, "b= needs a number, not '%s': b=%s is used",
          Quoted(s, value).c_str(), keep.buf);
    return;
  }
  // Decimals without their trailing zeros, which change nothing.
  std::int64_t num = whole.value;
  std::int64_t scale = 1;
  bool too_large = whole.too_large;
  std::size_t last = part.span.end;
  while (last > part.span.begin && s[last - 1] == '0') --last;
  for (std::size_t k = part.span.begin; k < last && !too_large; ++k) {
    num = num * 10 + (s[k] - '0');
    scale *= 10;
    too_large = num > kLargestNumber;
  }
  if (whole.too_large) {
    r.say(Problem::number, value, 0, "b=%s is far too large: b=%s is used",
          Quoted(s, value).c_str(), keep.buf);
    return;
  }
  if (too_large) {
    r.say(Problem::number, value, 0,
          "b=%s has more digits than a tempo needs (%d at most, decimals included): b=%s is used",
          Quoted(s, value).c_str(), 5, keep.buf);
    return;
  }
  if (num == 0) {
    r.say(Problem::number, value, 0, "b=0 is no tempo: b=%s is used", keep.buf);
    return;
  }
  if (num < scale) {
    r.say(Problem::number, value, 0, "b=%s is slower than a beat a minute: b=%s is used",
          Quoted(s, value).c_str(), keep.buf);
    return;
  }
  // Any tempo plays as written; notes it makes too short are said below.
  tempo = Tempo{num, scale};
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
  if (name == 'b') {
    read_tempo(s, value, settings.tempo, r);
    return;
  }
  std::int32_t* target = name == 'd'   ? &settings.duration
                         : name == 'o' ? &settings.octave
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
  // Any octave is kept here; notes out of reach are moved when played.
  if (name == 'd' && !is_note_value(n.value)) {
    r.say(Problem::number, value, 0,
          "d=%d is not a note value (1, 2, 4, 8, 16, 32, 64): d=%d is used", n.value, keep);
    return;
  }
  *target = n.value;
}

Settings read_settings(std::string_view s, Span section, Reporter& r) {
  Settings settings;
  if (trimmed(s, section).empty()) return settings;
  Items items(s, section);
  Span item;
  std::int32_t number = 0;
  while (items.next(item, number)) {
    if (item.empty()) {
      r.say(Problem::setting, item, 0, "empty setting between commas: ignored");
    } else {
      read_setting(s, item, settings, r);
    }
  }
  return settings;
}

// One note as written: [value] [#] name [#, _ or b] [.] [octave] [# or _] [.],
// with blanks anywhere between its characters. Reads; says nothing.
struct NoteReading {
  Span token;
  Number value_written;
  bool bad_value = false;  // written, but no note value
  bool has_name = false;   // a byte where the name goes
  bool unknown_name = false;
  Span name;
  bool pause = false;
  int accidentals = 0;  // sharps and flats written
  Span accidental;      // the first
  int dots = 0;
  Number octave_written;
  Span rest;  // stray bytes after the note
  // As played:
  int semitone = 0;  // 0 to 11 from C
  std::int32_t value = kDefaultDuration;
  std::int32_t octave = kDefaultOctave;  // B# and Cb moved across

  bool plays() const { return !token.empty() && has_name && !unknown_name; }
  bool clean() const {
    return plays() && !bad_value && accidentals <= (pause ? 0 : 1) && dots <= 1 && rest.empty() &&
           !octave_written.too_large;
  }
};

NoteReading read_note(std::string_view s, Span token, const Settings& settings) {
  NoteReading n;
  n.token = token;
  n.value = settings.duration;
  n.octave = settings.octave;
  if (token.empty()) return n;
  const std::size_t end = token.end;
  std::size_t i = token.begin;
  const auto skip = [&] {
    while (i < end && is_blank(s[i])) ++i;
  };
  int sign = 0;
  const auto accidental = [&](bool flat_too) {
    skip();
    if (i == end) return;
    const char c = s[i];
    if (c != '#' && c != '_' && !(flat_too && lower(c) == 'b')) return;
    if (n.accidentals++ == 0) {
      n.accidental = Span{i, i + 1};
      sign = lower(c) == 'b' ? -1 : 1;
    }
    ++i;
  };
  const auto dots = [&] {
    for (skip(); i < end && s[i] == '.'; skip()) {
      ++n.dots;
      ++i;
    }
  };
  n.value_written = read_number(s, i, end, true);
  if (n.value_written.present) {
    if (n.value_written.too_large || !is_note_value(n.value_written.value)) {
      n.bad_value = true;
    } else {
      n.value = n.value_written.value;
    }
  }
  skip();
  if (i < end && s[i] == '#') accidental(false);  // "#d": sharp before the name
  skip();
  if (i == end) return n;
  n.has_name = true;
  n.name = Span{i, i + 1};
  static constexpr int kSemitones[7] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
  const char letter = lower(s[i]);
  n.pause = letter == 'p';
  if (letter >= 'a' && letter <= 'g') {
    n.semitone = kSemitones[letter - 'a'];
  } else if (letter == 'h') {
    n.semitone = 11;  // the German name of B, which some ringtones use
  } else if (!n.pause) {
    n.unknown_name = true;
    return n;
  }
  ++i;
  accidental(true);
  dots();
  n.octave_written = read_number(s, i, end, true);
  accidental(false);  // "a5#": sharp after the octave
  dots();
  skip();
  if (i < end) n.rest = Span{i, end};
  if (n.octave_written.present && !n.octave_written.too_large) n.octave = n.octave_written.value;
  if (n.pause) return n;
  // B# is C of the next octave, C flat B of the one below.
  n.semitone += sign;
  if (n.semitone == 12) {
    n.semitone = 0;
    ++n.octave;
  } else if (n.semitone == -1) {
    n.semitone = 11;
    --n.octave;
  }
  return n;
}

// At least one note, and every note clean.
bool reads_as_notes(std::string_view s, Span section) {
  if (trimmed(s, section).empty()) return false;
  Items items(s, section);
  Span item;
  std::int32_t number = 0;
  while (items.next(item, number)) {
    if (!read_note(s, item, Settings{}).clean()) return false;
  }
  return true;
}

// "an octave lower", "3 octaves higher".
struct ShiftText {
  explicit ShiftText(std::int32_t shift) {
    const std::int32_t size = shift < 0 ? -shift : shift;
    const char* way = shift < 0 ? "lower" : "higher";
    if (size == 1) {
      std::snprintf(buf, sizeof buf, "an octave %s", way);
    } else {
      std::snprintf(buf, sizeof buf, "%d octaves %s", size, way);
    }
  }
  char buf[32];
};

// Plays the notes section, reporting what the song text cannot keep.
class NotePlayer {
 public:
  NotePlayer(std::string_view s, const Settings& settings, const Options& options, SongWriter& song,
             Reporter& r)
      : s_(s),
        settings_(settings),
        options_(options),
        song_(song),
        r_(r),
        limit_(options.max_image_bytes > 0 && options.max_image_bytes < kNoLimit
                   ? options.max_image_bytes
                   : kNoLimit) {}

  void play(Span section) {
    if (trimmed(s_, section).empty()) {
      r_.say(Problem::section, section, 0, "no notes: the song text is empty");
      return;
    }
    notes_end_ = section.end;
    choose_shift(section);
    Items items(s_, section);
    Span item;
    std::int32_t number = 0;
    while (!stopped_ && items.next(item, number)) {
      play_note(read_note(s_, item, settings_), number);
    }
    if (!stopped_) report_drift(section);
  }

  // Whether the song image passed the limit, and the notes stopped there.
  bool stopped() const { return stopped_; }

 private:
  // No image reaches this: the limit when none is set, far from overflow.
  static constexpr std::int64_t kNoLimit = INT64_MAX / 4;

  // How a note of `ms` plays: `count` notes of `base` ms, the first
  // `longer` of them 1 ms longer.
  struct Parts {
    std::int32_t count;
    std::int32_t base;
    std::int32_t longer;
  };
  static Parts parts_of(std::int32_t ms) {
    const std::int32_t count = (ms + kLongestMs - 1) / kLongestMs;
    return {count, ms / count, ms % count};
  }

  // Adds the blocks of a note of `ms` to `image`, counted as a song image
  // is measured; false once it is longer than the limit.
  bool fits(image::LengthCounter& image, std::int32_t ms) const {
    const Parts p = parts_of(ms);
    for (std::int32_t k = 0; k < p.count; ++k) {
      if (!image.add(k < p.longer ? p.base + 1 : p.base, limit_)) return false;
    }
    return true;
  }

  void stop(const NoteReading& n, std::int32_t number) {
    stopped_ = true;
    r_.say(Problem::too_long, n.token, number,
           "'%s' makes the song image longer than %lld bytes: the conversion stops here",
           Quoted(s_, n.token).c_str(), static_cast<long long>(limit_));
  }

  // The octaves every note moves by: a first pass reads the tune's octaves.
  void choose_shift(Span section) {
    if (options_.shift == OctaveShift::by) shift_ = options_.octaves;
    if (options_.shift != OctaveShift::automatic) return;
    import::OctaveSpan span;
    image::LengthCounter image;
    Items items(s_, section);
    Span item;
    std::int32_t number = 0;
    while (items.next(item, number)) {
      const NoteReading n = read_note(s_, item, settings_);
      if (!n.plays()) continue;
      // The notes stop where the image passes its limit: none after plays.
      if (!fits(image, length_of(n.value, n.dots > 0).ms)) break;
      if (!n.pause) span.add(n.octave);
    }
    shift_ = span.best_shift(kLowestOctave, kHighestOctave);
    if (shift_ == 0) return;
    const ShiftText how(shift_);
    char octaves[48];
    if (span.lowest() == span.highest()) {
      std::snprintf(octaves, sizeof octaves, "lies in octave %d", span.lowest());
    } else {
      std::snprintf(octaves, sizeof octaves, "spans octaves %d to %d", span.lowest(),
                    span.highest());
    }
    if (span.highest() - span.lowest() <= kHighestOctave - kLowestOctave) {
      r_.say(Problem::shift, section, 0,
             "the tune %s, out of reach (%d to %d play exactly): it plays %s, every note exact",
             octaves, kLowestOctave, kHighestOctave, how.buf);
    } else {
      r_.say(Problem::shift, section, 0,
             "the tune %s, more than the four that play exactly (%d to %d): it plays %s, which "
             "keeps the most notes exact; the others are moved singly",
             octaves, kLowestOctave, kHighestOctave, how.buf);
    }
  }

  void play_note(const NoteReading& n, std::int32_t number) {
    const Span token = n.token;
    if (token.empty()) {
      r_.say(Problem::note, token, number, "empty note between commas: skipped");
      return;
    }
    if (n.bad_value) {
      r_.say(Problem::number, n.value_written.span, number,
             "duration '%s' is not a note value (1, 2, 4, 8, 16, 32, 64): the default %d is used",
             Quoted(s_, n.value_written.span).c_str(), settings_.duration);
    }
    if (!n.has_name) {
      r_.say(Problem::note, token, number, "'%s' has no note name: skipped",
             Quoted(s_, token).c_str());
      return;
    }
    if (n.unknown_name) {
      r_.say(Problem::note, token, number,
             "unknown note '%s' (a to g, or p for a pause): '%s' skipped",
             Quoted(s_, n.name).c_str(), Quoted(s_, token).c_str());
      return;
    }
    if (n.pause && n.accidentals > 0) {
      r_.say(Problem::note, n.accidental, number, "a pause has no sharp or flat: ignored");
    } else if (n.accidentals > 1) {
      r_.say(Problem::note, token, number,
             "a note takes one sharp or flat, '%s' has %d: the first is used",
             Quoted(s_, token).c_str(), n.accidentals);
    }
    if (n.dots > 1) {
      r_.say(Problem::note, token, number, "a note takes one dot, '%s' has %d: one is used",
             Quoted(s_, token).c_str(), n.dots);
    }
    if (!n.rest.empty()) {
      r_.say(Problem::note, n.rest, number, "unexpected '%s' after the note: ignored",
             Quoted(s_, n.rest).c_str());
    }
    if (n.octave_written.too_large) {
      r_.say(Problem::number, n.octave_written.span, number,
             "octave '%s' is far too large: the default %d is used",
             Quoted(s_, n.octave_written.span).c_str(), settings_.octave);
    }
    const Length length = length_of(n.value, n.dots > 0);
    if (!fits(image_, length.ms)) {
      stop(n, number);
      return;
    }
    report_short(token, number, n.value, n.dots > 0);
    if (n.pause) {
      emit(-1, 0, length, token, number);
      return;
    }
    emit(n.semitone, reachable(n, number), length, token, number);
  }

  // Which way a note must move to be played exactly: -1 down, 1 up, 0 not.
  int direction(std::int32_t octave) const {
    const std::int64_t shifted = std::int64_t{octave} + shift_;
    return shifted > kHighestOctave ? -1 : shifted < kLowestOctave ? 1 : 0;
  }

  int reachable(const NoteReading& n, std::int32_t number) {
    const int way = direction(n.octave);
    if (way == 0) return static_cast<int>(n.octave + shift_);
    const int to = way < 0 ? kHighestOctave : kLowestOctave;
    if (options_.shift == OctaveShift::single) {
      // Once per octave, at its first note: a tune often stays in one.
      const int slot = n.octave < 0 ? 0 : n.octave > 30 ? 31 : n.octave + 1;
      if ((octaves_reported_ & (1u << slot)) == 0) {
        octaves_reported_ |= 1u << slot;
        r_.say(Problem::octave, n.token, number,
               "octave %d is out of reach (3 to 6 play exactly): its notes play in octave %d "
               "(said once per octave)",
               n.octave, to);
      }
      return to;
    }
    if (number > run_last_) report_run(n, number, way, to);
    return to;
  }

  // Notes moved the same way, with only pauses or skipped items between
  // them, are said once, at the first: a look ahead to the end of the run.
  void report_run(const NoteReading& first, std::int32_t number, int way, int to) {
    if (r_.quiet()) return;
    Span last = first.token;
    std::int32_t lowest = first.octave;
    std::int32_t highest = first.octave;
    run_last_ = number;
    Items items(s_, Span{first.token.end, notes_end_});
    Span item;
    std::int32_t k = 0;
    // The item holding the first note's end, from its last bytes on.
    items.next(item, k);
    // The run ends where the image passes its limit, as the notes do.
    image::LengthCounter image = image_;
    for (std::int32_t at = number; items.next(item, k);) {
      if (at < INT32_MAX) ++at;
      const NoteReading n = read_note(s_, item, settings_);
      if (!n.plays()) continue;
      if (!fits(image, length_of(n.value, n.dots > 0).ms)) break;
      if (n.pause) continue;
      if (direction(n.octave) != way) break;
      last = n.token;
      run_last_ = at;
      if (n.octave < lowest) lowest = n.octave;
      if (n.octave > highest) highest = n.octave;
    }
    char notes[48];
    char octaves[48];
    if (run_last_ == number) {
      std::snprintf(notes, sizeof notes, "note %d, in octave", number);
    } else {
      std::snprintf(notes, sizeof notes, "notes %d to %d, in octaves", number, run_last_);
    }
    if (lowest == highest) {
      std::snprintf(octaves, sizeof octaves, "%d", lowest);
    } else {
      std::snprintf(octaves, sizeof octaves, "%d to %d", lowest, highest);
    }
    const ShiftText how(shift_);
    char shifted[64] = "";
    if (shift_ != 0) std::snprintf(shifted, sizeof shifted, " even with the tune %s", how.buf);
    r_.say(Problem::octave, Span{first.token.begin, last.end}, number,
           "%s %s, %s out of reach%s (3 to 6 play exactly): played in octave %d", notes, octaves,
           run_last_ == number ? "is" : "are", shifted, to);
  }

  struct Length {
    std::int32_t ms;     // as played: whole milliseconds, at least 20
    std::int64_t ticks;  // as written, in 1 / (64 num) ms for b = num / scale
  };

  // A whole note lasts 4 beats: 240000 / b ms, num / den. In 1 / (64 num)
  // ms every note value lasts a whole number of ticks, at most 240000 * 3 *
  // 32 * scale (a dotted whole note).
  std::int64_t length_num(bool dotted) const {
    return std::int64_t{240000} * (dotted ? 3 : 2) * settings_.tempo.scale;
  }
  std::int64_t length_den(std::int32_t value) const {
    return std::int64_t{2} * settings_.tempo.num * value;
  }

  Length length_of(std::int32_t value, bool dotted) const {
    const std::int64_t num = length_num(dotted);
    const std::int64_t ms = scaled_ratio(num, length_den(value));
    return {ms >= kShortestMs ? static_cast<std::int32_t>(ms) : kShortestMs, num * 32 / value};
  }

  // Says, once per note value, that notes of it are too short to play.
  void report_short(Span token, std::int32_t number, std::int32_t value, bool dotted) {
    const Tempo& t = settings_.tempo;
    const std::int64_t num = length_num(dotted);
    const std::int64_t den = length_den(value);
    if (scaled_ratio(num, den) >= kShortestMs) return;
    const int slot = log2_of(value) * 2 + (dotted ? 1 : 0);
    if ((short_reported_ & (1u << slot)) == 0) {
      short_reported_ |= 1u << slot;
      const std::int64_t tenths = scaled_ratio(num, den, 1);
      r_.say(Problem::too_short, token, number,
             "a %s1/%d note lasts %lld.%lld ms at b=%s, less than the shortest song note: played "
             "as %d ms (said once per note value)",
             dotted ? "dotted " : "", value, static_cast<long long>(tenths / 10),
             static_cast<long long>(tenths % 10), TempoText(t).buf, kShortestMs);
    }
  }

  // One note, or repeated notes of equal length (within 1 ms) when it is
  // longer than a song note can be.
  void emit(int semitone, int octave, Length length, Span token, std::int32_t number) {
    const std::int32_t ms = length.ms;
    const Parts p = parts_of(ms);
    const std::int32_t parts = p.count;
    const std::int32_t base = p.base;
    const std::int32_t longer = p.longer;
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
    // Per note the written length is below 240000 * 3 * 32 * 10^4 ticks and
    // |played - written| below 20 * 64 * 99999. Sums past kMeasured (a
    // ringtone of hundreds of megabytes) leave the tune's length unmeasured
    // rather than overflow.
    constexpr std::int64_t kMeasured = INT64_MAX / 16;
    const std::int64_t off = std::int64_t{ms} * 64 * settings_.tempo.num - length.ticks;
    if (exact_total_ > kMeasured - length.ticks || played_minus_exact_ > kMeasured ||
        played_minus_exact_ < -kMeasured) {
      unmeasured_ = true;
      return;
    }
    played_minus_exact_ += off;
    exact_total_ += length.ticks;
  }

  void report_drift(Span section) {
    if (exact_total_ == 0 || unmeasured_) return;
    const std::int64_t off = played_minus_exact_ < 0 ? -played_minus_exact_ : played_minus_exact_;
    if (off <= exact_total_ / 100) return;  // off * 100 <= total, for whole numbers
    const std::int64_t per_ms = std::int64_t{64} * settings_.tempo.num;
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
  const Options& options_;
  SongWriter& song_;
  Reporter& r_;
  std::size_t notes_end_ = 0;
  std::int64_t limit_;          // the longest image, in bytes
  image::LengthCounter image_;  // the image of the notes played so far
  bool stopped_ = false;
  std::int32_t shift_ = 0;
  std::int32_t run_last_ = 0;  // the last note of the run said last
  std::int64_t exact_total_ = 0;
  std::int64_t played_minus_exact_ = 0;
  bool unmeasured_ = false;
  std::uint32_t octaves_reported_ = 0;
  std::uint32_t short_reported_ = 0;
  bool split_reported_ = false;
};

}  // namespace

std::int64_t convert(std::string_view ringtone, char* text, std::int64_t capacity,
                     const Options& options, const WarningSink* warn) {
  assert(capacity >= 0 && (text != nullptr || capacity == 0));
  Reporter reporter(warn);
  TextWriter out(text, capacity);
  SongWriter song(out);
  const Sections sections = find_sections(ringtone, reporter);
  const Settings settings = read_settings(ringtone, sections.settings, reporter);
  NotePlayer player(ringtone, settings, options, song, reporter);
  player.play(sections.notes);
  const std::int64_t length = out.finish();
  if (!player.stopped()) return length;
  if (capacity > 0) text[0] = '\0';
  return kPassesImageLimit;
}

std::string_view name_of(std::string_view ringtone) {
  Reporter silent(nullptr);
  const Span name = trimmed(ringtone, find_sections(ringtone, silent).name);
  return {ringtone.data() + name.begin, name.end - name.begin};
}

}  // namespace tuvello::rtttl
