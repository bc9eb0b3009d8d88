// SPDX-License-Identifier: MIT
// Song text into an RTTTL ringtone. The song's notes come from the song text
// interpreter's walk, the one behind rendering and the note map, twice: first
// to count the note lengths and octaves that choose b=, d= and o=, then to
// write. Nothing is allocated: the counts fit in fixed tables, since lengths
// run from 20 to 500 ms and octaves from 3 to 7.
#include <cassert>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "import/rtttl.hpp"
#include "import/text_out.hpp"
#include "text/interpreter.hpp"
#include "text/note_settings.hpp"

namespace tuvello::rtttl {
namespace {

constexpr std::int32_t kShortestMs = text::kLengthRange.low;
constexpr std::int32_t kLongestMs = text::kLengthRange.high;
constexpr std::int32_t kLengths = kLongestMs - kShortestMs + 1;
// Tempi every RTTTL player takes; together with values 1 to 32, plain or
// dotted, they reach every song note length within 1 ms.
constexpr std::int32_t kSlowestBpm = 25;
constexpr std::int32_t kFastestBpm = 900;
constexpr std::int32_t kValues[6] = {1, 2, 4, 8, 16, 32};
constexpr int kQuarter = 2;  // kValues[2]
// oct:0 sounds in RTTTL octave 3; multipliers reach 38 semitones above it.
constexpr int kLowestOctave = 3;
constexpr int kOctaves = 5;
// Semitones a pitch multiplier (oct + 1) raises a note by, to the nearest:
// 12 log2(m). Only 1, 2, 4 and 8 are exact.
constexpr int kSemitonesOfMultiplier[10] = {0, 0, 12, 19, 24, 28, 31, 34, 36, 38};
constexpr const char* kNames[12] = {"c",  "c#", "d",  "d#", "e",  "f",
                                    "f#", "g",  "g#", "a",  "a#", "b"};
// The song text's note keys by semitone from C.
constexpr const char* kKeys[12] = {"c", "cs", "d", "ds", "e", "f", "fs", "g", "gs", "a", "b", "h"};

bool is_octave(std::int32_t multiplier) { return (multiplier & (multiplier - 1)) == 0; }

int digits(std::int32_t n) { return n >= 10 ? 2 : 1; }

// The semitone of a note key from C, or -1 for the pause.
int semitone_of(std::string_view key) {
  char folded[2] = {};
  if (key.empty() || key.size() > 2) return -1;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const char c = key[i];
    folded[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c;
  }
  const std::string_view k(folded, key.size());
  for (int s = 0; s < 12; ++s) {
    if (k == kKeys[s]) return s;
  }
  return -1;
}

struct SongNote {
  int pitch = -1;  // semitones above C3 (RTTTL octave 3); -1 a pause
  std::int32_t ms = 0;
};

SongNote song_note(const text::Command& c, const text::NoteSettings& s) {
  SongNote n;
  n.ms = s.length_ms;
  const int semitone = c.frequency == 0.0 ? -1 : semitone_of(c.key);
  if (semitone >= 0) n.pitch = semitone + kSemitonesOfMultiplier[s.multiplier];
  return n;
}

// A note value for a length at a tempo: the nearest of values 1 to 32,
// plain or dotted.
struct Choice {
  int value = 0;  // index in kValues
  bool dotted = false;
  bool exact = false;    // converted back, it lasts the same whole milliseconds
  bool near = false;     // within 1 ms
  std::int64_t off = 0;  // |written - ms| in 1 / den ms
  std::int64_t den = 1;
  std::int64_t num = 0;  // its length, num / den ms
};

// Without a division: the search below asks this for every tempo.
Choice choose(std::int32_t ms, std::int32_t bpm) {
  Choice best;
  bool first = true;
  for (int v = 0; v < 6; ++v) {
    for (const bool dotted : {false, true}) {
      // 240000 / (b v) ms, 1.5 times that dotted: as the import reckons it.
      Choice c;
      c.value = v;
      c.dotted = dotted;
      c.num = std::int64_t{240000} * (dotted ? 3 : 2);
      c.den = std::int64_t{2} * bpm * kValues[v];
      const std::int64_t diff = c.num - ms * c.den;
      c.off = diff < 0 ? -diff : diff;
      // Rounded to nearest, ties to even, it is ms when off < den / 2, or
      // off = den / 2 (ms +- 0.5) and ms even.
      c.exact = 2 * c.off < c.den || (2 * c.off == c.den && ms % 2 == 0);
      assert(c.exact == (scaled_ratio(c.num, c.den) == ms));
      c.near = c.off <= c.den;
      // Nearest first, then the one that comes back exact; else the earlier
      // (plain before dotted, shorter values first).
      const std::int64_t mine = c.off * best.den;
      const std::int64_t theirs = best.off * c.den;
      if (first || mine < theirs || (mine == theirs && c.exact && !best.exact)) best = c;
      first = false;
    }
  }
  return best;
}

// What the first walk counts.
struct Survey {
  std::int64_t by_length[kLengths] = {};
  std::int64_t by_octave[kOctaves] = {};  // sounding notes
  std::int64_t notes = 0;
};

struct Plan {
  std::int32_t bpm = 63;
  int d = kQuarter;  // index in kValues
  int o = 5;
};

// How well one tempo writes the song: compared field by field, more notes
// within 1 ms first, then more that come back exact, then the others
// nearer, then fewer bytes and less error.
struct Score {
  std::int64_t exact = 0;
  std::int64_t near = 0;
  std::int64_t bytes = 0;      // values and dots written
  std::int64_t far_error = 0;  // of the notes not within 1 ms, in thousandths of a ms
  std::int64_t error = 0;      // of all notes
  int d = kQuarter;            // the default value it takes
  bool better_than(const Score& o) const {
    if (near != o.near) return near > o.near;
    if (exact != o.exact) return exact > o.exact;
    if (far_error != o.far_error) return far_error < o.far_error;
    if (bytes != o.bytes) return bytes < o.bytes;
    if (error != o.error) return error < o.error;
    // A quarter note as the common value reads most naturally.
    const int from_quarter = d > kQuarter ? d - kQuarter : kQuarter - d;
    const int theirs = o.d > kQuarter ? o.d - kQuarter : kQuarter - o.d;
    return from_quarter < theirs;
  }
};

Score score(const Survey& survey, const std::int32_t* lengths, int count, std::int32_t bpm) {
  Score s;
  std::int64_t by_value[6] = {};
  std::int64_t dots = 0;
  for (int i = 0; i < count; ++i) {
    const std::int32_t ms = lengths[i];
    const std::int64_t n = survey.by_length[ms - kShortestMs];
    const Choice c = choose(ms, bpm);
    if (c.exact) s.exact += n;
    if (c.near) s.near += n;
    const std::int64_t error = n * (c.off * 1000 / c.den);  // a tie-break: truncated
    s.error += error;
    if (!c.near) s.far_error += error;
    by_value[c.value] += n;
    if (c.dotted) dots += n;
  }
  // d= saves the most bytes; on a tie the value nearest a quarter.
  for (int v = 0; v < 6; ++v) {
    const std::int64_t saved = by_value[v] * digits(kValues[v]);
    const std::int64_t best = by_value[s.d] * digits(kValues[s.d]);
    const int from_quarter = v > kQuarter ? v - kQuarter : kQuarter - v;
    const int theirs = s.d > kQuarter ? s.d - kQuarter : kQuarter - s.d;
    if (saved > best || (saved == best && from_quarter < theirs)) s.d = v;
  }
  s.bytes = dots;
  for (int v = 0; v < 6; ++v) {
    if (v != s.d) s.bytes += by_value[v] * digits(kValues[v]);
  }
  return s;
}

constexpr std::int32_t kTempi = kFastestBpm - kSlowestBpm + 1;

// For every tempo, how many notes come within 1 ms of a note value and how
// many come back exact: what decides first, counted cheaply. A note value
// reaches a length only at the tempi of one short interval, found from its
// ends; two values never reach the same length at one tempo (they differ by
// a third at least, over 6 ms), so no note is counted twice.
struct Reach {
  std::int64_t near[kTempi];
  std::int64_t exact[kTempi];
};

void count_reach(const Survey& survey, const std::int32_t* lengths, int count, Reach& r) {
  for (std::int32_t b = 0; b < kTempi; ++b) r.near[b] = r.exact[b] = 0;
  for (int i = 0; i < count; ++i) {
    const std::int32_t ms = lengths[i];
    const std::int64_t n = survey.by_length[ms - kShortestMs];
    for (int v = 0; v < 6; ++v) {
      for (const std::int64_t m : {2, 3}) {
        // Within 1 ms: (ms - 1) per b <= num <= (ms + 1) per b; the ends
        // rounded outward, each tempo then checked as choose() checks it.
        const std::int64_t num = 240000 * m;
        const std::int64_t per = std::int64_t{2} * kValues[v];
        const std::int64_t lo = num / ((ms + 1) * per);
        const std::int64_t hi = num / ((ms - 1) * per) + 1;
        for (std::int64_t b = lo < kSlowestBpm ? kSlowestBpm : lo; b <= hi && b <= kFastestBpm;
             ++b) {
          const std::int64_t den = per * b;
          const std::int64_t diff = num - ms * den;
          const std::int64_t off = diff < 0 ? -diff : diff;
          if (off <= den) r.near[b - kSlowestBpm] += n;
          if (2 * off < den || (2 * off == den && ms % 2 == 0)) r.exact[b - kSlowestBpm] += n;
        }
      }
    }
  }
}

Plan plan(const Survey& survey) {
  Plan p;
  if (survey.notes == 0) return p;
  std::int32_t lengths[kLengths];
  int count = 0;
  for (std::int32_t i = 0; i < kLengths; ++i) {
    if (survey.by_length[i] > 0) lengths[count++] = kShortestMs + i;
  }
  // Only the tempi with the most notes within 1 ms, then exact, are scored
  // in full.
  Reach reach;
  count_reach(survey, lengths, count, reach);
  std::int32_t top = 0;
  for (std::int32_t b = 1; b < kTempi; ++b) {
    if (reach.near[b] > reach.near[top] ||
        (reach.near[b] == reach.near[top] && reach.exact[b] > reach.exact[top])) {
      top = b;
    }
  }
  Score best;
  bool first = true;
  for (std::int32_t bpm = kSlowestBpm; bpm <= kFastestBpm; ++bpm) {
    const std::int32_t b = bpm - kSlowestBpm;
    const bool candidate = reach.near[b] == reach.near[top] && reach.exact[b] == reach.exact[top];
#ifndef NDEBUG
    const Score check = score(survey, lengths, count, bpm);
    assert(check.near == reach.near[b] && check.exact == reach.exact[b]);
#endif
    if (!candidate) continue;
    const Score s = score(survey, lengths, count, bpm);
    if (first || s.better_than(best)) {
      best = s;
      p.bpm = bpm;
      first = false;
    }
  }
  p.d = best.d;
  // o= the most common octave; on a tie the one nearest 5, then the lower.
  for (int o = 0; o < kOctaves; ++o) {
    const int from5 = o + kLowestOctave > 5 ? o + kLowestOctave - 5 : 5 - o - kLowestOctave;
    const int theirs = p.o > 5 ? p.o - 5 : 5 - p.o;
    const std::int64_t n = survey.by_octave[o];
    const std::int64_t m = survey.by_octave[p.o - kLowestOctave];
    if (n > m || (n == m && from5 < theirs)) p.o = o + kLowestOctave;
  }
  return p;
}

// The song text command a setting came from, or none yet (its default).
struct Origin {
  bool set = false;
  bool said = false;
  std::size_t offset = 0;
  std::size_t length = 0;
  std::size_t number = 0;
};

std::int32_t clamp32(std::size_t n) {
  return n > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(n);
}

class Writer {
 public:
  Writer(std::string_view song, const Plan& plan, TextWriter& out, const WarningSink* sink)
      : song_(song), plan_(plan), out_(out), sink_(sink) {}

  void header(std::string_view name) {
    for (const char c : name) {
      const auto u = static_cast<unsigned char>(c);
      out_.put(c == ':' || u < 0x20 || u == 0x7F ? '_' : c);
    }
    out_.put(":d=");
    out_.put_number(kValues[plan_.d]);
    out_.put(",o=");
    out_.put_number(plan_.o);
    out_.put(",b=");
    out_.put_number(plan_.bpm);
    out_.put(':');
  }

  void setting(const text::Command& c) {
    if (c.fate != text::Fate::setting_applied) return;
    Origin* o = c.kind == text::Key::len    ? &len_
                : c.kind == text::Key::vol  ? &vol_
                : c.kind == text::Key::oct  ? &oct_
                : c.kind == text::Key::pipe ? &pipe_
                : c.kind == text::Key::dec  ? &dec_
                                            : nullptr;
    if (o != nullptr) *o = Origin{true, false, c.offset, c.written.size(), c.number};
  }

  void note(const text::Command& c, const text::NoteSettings& s) {
    const SongNote n = song_note(c, s);
    // Each length's note value, chosen once: a song has few lengths.
    Pick& pick = picks_[n.ms - kShortestMs];
    if (pick.value < 0) {
      const Choice chosen = choose(n.ms, plan_.bpm);
      pick = Pick{static_cast<std::int8_t>(chosen.value), chosen.dotted, chosen.near};
    }
    const Pick choice = pick;
    warn_about(c, s, n, choice);
    if (!first_) out_.put(',');
    first_ = false;
    const std::int32_t value = kValues[choice.value];
    if (choice.value != plan_.d) out_.put_number(value);
    if (n.pitch < 0) {
      out_.put('p');
    } else {
      out_.put(kNames[n.pitch % 12]);
      const int octave = kLowestOctave + n.pitch / 12;
      if (octave != plan_.o) out_.put_number(octave);
    }
    if (choice.dotted) out_.put('.');
  }

 private:
  struct Pick {
    std::int8_t value = -1;  // index in kValues; -1 not chosen yet
    bool dotted = false;
    bool near = false;
  };

  struct Pending {
    Problem problem;
    Origin* origin;
    char message[224];
  };

  // A warning about the command `origin` locates, unless said already; a
  // setting left at its default is located at the note `c`.
  __attribute__((format(printf, 5, 6))) void add(Problem problem, Origin& origin,
                                                 const text::Command& c, const char* format, ...) {
    if (origin.said) return;
    if (!origin.set) origin = Origin{false, false, c.offset, c.written.size(), c.number};
    origin.said = true;
    Pending& p = pending_[count_++];
    p.problem = problem;
    p.origin = &origin;
    va_list args;
    va_start(args, format);
    std::vsnprintf(p.message, sizeof p.message, format, args);
    va_end(args);
  }

  // The warnings of one note, in the order of the commands they locate.
  void warn_about(const text::Command& c, const text::NoteSettings& s, const SongNote& n,
                  const Pick& pick) {
    if (sink_ == nullptr) return;
    count_ = 0;
    if (n.pitch >= 0) {
      if (s.volume != 1.0f) {
        add(Problem::lost_setting, vol_, c,
            "'%s' sets a volume, which a ringtone cannot hold: its notes play at the player's "
            "volume",
            quoted(vol_).c_str());
      }
      if (s.pipe) {
        add(Problem::lost_setting, pipe_, c,
            "'%s' turns on the pipe mode, which a ringtone cannot hold: its notes play plain",
            quoted(pipe_).c_str());
      }
      if (s.decay) {
        add(Problem::lost_setting, dec_, c,
            "'%s' makes notes fade, which a ringtone cannot hold: its notes play without fading",
            quoted(dec_).c_str());
      }
      if (!is_octave(s.multiplier)) {
        add(Problem::pitch, oct_, c,
            "'%s' multiplies the pitch by %d, no whole number of octaves: its notes are written "
            "at the nearest semitone, %d above their key",
            quoted(oct_).c_str(), s.multiplier, kSemitonesOfMultiplier[s.multiplier]);
      }
    }
    if (!pick.near) {
      const Choice choice = choose(n.ms, plan_.bpm);
      const std::int64_t hundredths = scaled_ratio(choice.num, choice.den, 2);
      char what[64];
      if (len_.set) {
        std::snprintf(what, sizeof what, "'%s' lasts", quoted(len_).c_str());
      } else {
        std::snprintf(what, sizeof what, "the default length is");
      }
      add(Problem::length, len_, c,
          "%s %d ms, which no note value at b=%d reaches within 1 ms: its notes are written as "
          "the nearest, a %s1/%d (%lld.%02lld ms)",
          what, n.ms, plan_.bpm, choice.dotted ? "dotted " : "", kValues[choice.value],
          static_cast<long long>(hundredths / 100), static_cast<long long>(hundredths % 100));
    }
    // Sorted by offset: at most five.
    Pending* pending = pending_;
    const int count = count_;
    for (int i = 1; i < count; ++i) {
      for (int j = i; j > 0 && pending[j].origin->offset < pending[j - 1].origin->offset; --j) {
        const Pending t = pending[j];
        pending[j] = pending[j - 1];
        pending[j - 1] = t;
      }
    }
    for (int i = 0; i < count && sink_ != nullptr; ++i) {
      Warning w;
      w.problem = pending[i].problem;
      w.offset = pending[i].origin->offset;
      w.length = pending[i].origin->length;
      w.note = clamp32(pending[i].origin->number);
      w.message = pending[i].message;
      if (!(*sink_)(w)) sink_ = nullptr;
    }
  }

  Quoted quoted(const Origin& o) const {
    return Quoted(song_, Span{o.offset, o.offset + o.length});
  }

  std::string_view song_;
  const Plan& plan_;
  TextWriter& out_;
  const WarningSink* sink_;
  Origin len_, vol_, oct_, pipe_, dec_;
  Pick picks_[kLengths];
  Pending pending_[5];
  int count_ = 0;
  bool first_ = true;
};

}  // namespace

std::int64_t export_song(std::string_view song, std::string_view name, char* rtttl,
                         std::int64_t capacity, const WarningSink* warn) {
  Survey survey;
  text::Command c;
  for (text::CommandWalk walk(song); walk.next(c);) {
    if (c.kind != text::Key::note) continue;
    const SongNote n = song_note(c, walk.settings());
    ++survey.notes;
    ++survey.by_length[n.ms - kShortestMs];
    if (n.pitch >= 0) ++survey.by_octave[n.pitch / 12];
  }
  const Plan p = plan(survey);
  TextWriter out(rtttl, capacity);
  Writer writer(song, p, out, warn);
  writer.header(name);
  for (text::CommandWalk walk(song); walk.next(c);) {
    if (c.kind == text::Key::note) {
      writer.note(c, walk.settings());
    } else {
      writer.setting(c);
    }
  }
  return out.finish();
}

}  // namespace tuvello::rtttl
