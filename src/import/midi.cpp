// SPDX-License-Identifier: MIT
#include "import/midi.hpp"

#include <bit>
#include <cassert>
#include <cstdio>

#include "import/midi_file.hpp"
#include "import/octave_span.hpp"
#include "import/text_out.hpp"
#include "text/note_settings.hpp"

namespace tuvello::midi {
namespace {

using import::OctaveSpan;
using rtttl::scaled_ratio;
using rtttl::TextWriter;

constexpr std::int64_t kShortestMs = text::kLengthRange.low;
constexpr std::int64_t kLongestMs = text::kLengthRange.high;
constexpr std::int32_t kSoftestPercent = text::kVolumeRange.low;
// A song image holds at most INT32_MAX bytes, 44.1 a millisecond: 48,000,000
// ms keeps every note block of a tune this long inside it, however rounded.
constexpr std::int64_t kLongestTuneMs = 48'000'000;
// Octaves a song text plays exactly (oct:0, 1, 3, 7; key 48 is C3).
constexpr std::int32_t kLowestOctave = 3;
constexpr std::int32_t kHighestOctave = 6;
constexpr std::uint32_t kDefaultTempo = 500'000;  // 120 quarter notes a minute

constexpr const char* kKeys[12] = {"c", "cs", "d", "ds", "e", "f", "fs", "g", "gs", "a", "b", "h"};
constexpr const char* kNames[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                    "F#", "G",  "G#", "A",  "A#", "B"};

std::int32_t octave_of(std::int32_t key) { return key / 12 - 1; }

// A key as messages name it: "key 69 (A4)".
struct KeyName {
  explicit KeyName(std::int32_t key) {
    std::snprintf(text, sizeof text, "key %d (%s%d)", key, kNames[key % 12], octave_of(key));
  }
  char text[24] = {};
};

// Notes as commands, with "len", "vol" and "oct" written only when they
// change from what the song text already plays.
class SongWriter {
 public:
  explicit SongWriter(TextWriter& out) : out_(out) {}

  // key -1 is a pause, which plays at any "vol" and "oct".
  void note(std::int32_t key, std::int64_t ms, std::int32_t percent) {
    set("len:", ms, length_);
    if (key >= 0) {
      set("vol:", percent, percent_);
      set("oct:", (std::int64_t{1} << (octave_of(key) - kLowestOctave)) - 1, oct_);
    }
    separate();
    out_.put(key < 0 ? "p" : kKeys[key % 12]);
  }

 private:
  void set(const char* key, std::int64_t value, std::int64_t& now) {
    if (value == now) return;
    separate();
    out_.put(key);
    out_.put_number(value);
    now = value;
  }
  void separate() {
    if (!first_) out_.put(";");
    first_ = false;
  }

  TextWriter& out_;
  std::int64_t length_ = text::NoteSettings{}.length_ms;
  std::int64_t percent_ = 100;
  std::int64_t oct_ = text::NoteSettings{}.multiplier - 1;
  bool first_ = true;
};

// Exact time of a tick: whole milliseconds and a remainder in 1/den ms,
// advanced event by event. With a tempo map, a tick lasts tempo / (PPQ ×
// 1000) ms; with time code, 1000 / (fps × ticks per frame) ms, or 1001 /
// (30 × ticks per frame) at 29.97 frames per second.
class Clock {
 public:
  explicit Clock(const Division& d) {
    if (!d.smpte) {
      num_ = kDefaultTempo;
      den_ = std::int64_t{d.ticks_per_quarter} * 1000;
    } else if (d.frames_per_second == 29) {
      num_ = 1001;
      den_ = std::int64_t{30} * d.ticks_per_frame;
    } else {
      num_ = 1000;
      den_ = std::int64_t{d.frames_per_second} * d.ticks_per_frame;
    }
    smpte_ = d.smpte;
  }

  void set_tempo(std::uint32_t microseconds) {
    if (!smpte_) num_ = microseconds;
  }

  void advance_to(std::uint64_t tick) {
    assert(tick >= tick_);
    const std::uint64_t ticks = tick - tick_;
    tick_ = tick;
    const auto d = static_cast<std::uint64_t>(den_);
    const std::uint64_t q = ticks / d;
    // ms_ only matters up to the longest tune; past it, it stays far past.
    if (q > static_cast<std::uint64_t>(kSaturated / num_)) {
      ms_ = kSaturated;
    } else {
      ms_ += static_cast<std::int64_t>(q) * num_;
    }
    const std::int64_t part = rem_ + static_cast<std::int64_t>(ticks % d) * num_;
    ms_ += part / den_;
    rem_ = part % den_;
    if (ms_ > kSaturated) ms_ = kSaturated;
  }

  // The time in whole milliseconds, to nearest with ties to even.
  std::int64_t rounded_ms() const {
    return ms_ + (2 * rem_ > den_ || (2 * rem_ == den_ && (ms_ & 1) != 0) ? 1 : 0);
  }

 private:
  static constexpr std::int64_t kSaturated = std::int64_t{1} << 60;
  std::int64_t num_ = 1;
  std::int64_t den_ = 1;
  bool smpte_ = false;
  std::uint64_t tick_ = 0;
  std::int64_t ms_ = 0;
  std::int64_t rem_ = 0;
};

// A stretch of the tune in which one key sounds, or none.
struct Segment {
  std::int32_t key = -1;  // -1: a rest
  std::int32_t velocity = 0;
  bool attacked = false;   // begins with its own note-on
  bool cut = false;        // ends while its key still sounds: another note took over
  std::int64_t start = 0;  // ms
  std::int64_t end = 0;
  std::int32_t track = 0;
  std::size_t offset = 0;  // the event that began it
  std::size_t length = 0;
};

// Plays the reduced tune into the song text: lengths within 20 to 500 ms,
// octaves in reach, velocities as volumes. Without a song writer it only
// counts the octaves.
class Player {
 public:
  Player(const Options& options, Reporter& r, OctaveSpan& octaves, SongWriter* song)
      : options_(options), r_(r), octaves_(octaves), song_(song) {
    if (song_ != nullptr) shift_ = octaves_.best_shift(kLowestOctave, kHighestOctave);
  }

  void play(const Segment& s) {
    std::int64_t ms = s.end - s.start;
    if (ms > kShortestMs && debt_ > 0) {
      const std::int64_t take = debt_ < ms - kShortestMs ? debt_ : ms - kShortestMs;
      ms -= take;
      debt_ -= take;
    }
    if (ms < kShortestMs) {
      if (!short_reported_) {
        short_reported_ = true;
        r_.say(Problem::too_short, s.offset, s.length, s.track,
               "track %d: a note of %lld ms, shorter than the shortest song note: played as "
               "%lld ms, the notes after it shortened to keep time (said once per tune)",
               s.track, static_cast<long long>(ms), static_cast<long long>(kShortestMs));
      }
      debt_ += kShortestMs - ms;
      ms = kShortestMs;
    }
    if (played_ms_ >= kLongestTuneMs) return;
    if (ms > kLongestTuneMs - played_ms_) {
      r_.say(Problem::too_long, s.offset, s.length, s.track,
             "track %d: the tune passes %lld ms, the longest a song image holds: the rest is left "
             "out",
             s.track, static_cast<long long>(kLongestTuneMs));
      ms = kLongestTuneMs - played_ms_;
      played_ms_ = kLongestTuneMs;
      if (ms < kShortestMs) return;
    } else {
      played_ms_ += ms;
    }
    if (song_ == nullptr) {
      if (s.key >= 0) octaves_.add(octave_of(s.key));
      return;
    }
    const std::int32_t key = s.key < 0 ? -1 : reachable(s);
    const std::int32_t percent = s.key < 0 ? 100 : volume(s);
    const std::int64_t parts = (ms + kLongestMs - 1) / kLongestMs;
    if (parts > 1 && key >= 0 && !split_reported_) {
      split_reported_ = true;
      r_.say(Problem::split, s.offset, s.length, s.track,
             "track %d: a note of %lld ms is longer than the longest song note (%lld ms): it "
             "plays as %lld repeated notes, each restarting its tone (said once per tune)",
             s.track, static_cast<long long>(ms), static_cast<long long>(kLongestMs),
             static_cast<long long>(parts));
    }
    const std::int64_t base = ms / parts, longer = ms % parts;
    for (std::int64_t k = 0; k < parts; ++k) {
      song_->note(key, k < longer ? base + 1 : base, percent);
    }
  }

 private:
  // The key after the tune's shift, moved into reach when it still lies
  // outside; said once for the shift and once per run of moved notes.
  std::int32_t reachable(const Segment& s) {
    if (shift_ != 0 && !shift_reported_) {
      shift_reported_ = true;
      const std::int32_t n = shift_ < 0 ? -shift_ : shift_;
      char octaves[48];
      if (octaves_.lowest() == octaves_.highest()) {
        std::snprintf(octaves, sizeof octaves, "lies in octave %d", octaves_.lowest());
      } else {
        std::snprintf(octaves, sizeof octaves, "spans octaves %d to %d", octaves_.lowest(),
                      octaves_.highest());
      }
      const bool whole = octaves_.highest() - octaves_.lowest() <= kHighestOctave - kLowestOctave;
      r_.say(Problem::shift, s.offset, s.length, s.track,
             "track %d: the tune %s, out of reach (%d to %d play exactly): it plays %d octave%s "
             "%s, %s",
             s.track, octaves, kLowestOctave, kHighestOctave, n, n == 1 ? "" : "s",
             shift_ < 0 ? "lower" : "higher",
             whole ? "every note exact"
                   : "which keeps the most notes exact; the others are moved singly");
    }
    const std::int32_t octave = octave_of(s.key) + shift_;
    const std::int32_t to = octave < kLowestOctave    ? kLowestOctave
                            : octave > kHighestOctave ? kHighestOctave
                                                      : octave;
    if (to == octave) {
      moving_ = false;
    } else if (!moving_) {
      moving_ = true;
      r_.say(Problem::octave, s.offset, s.length, s.track,
             "track %d: %s is out of reach%s (octaves %d to %d play exactly): played in octave "
             "%d, as are the notes out of reach right after it",
             s.track, KeyName(s.key).text, shift_ != 0 ? " even with the tune moved" : "",
             kLowestOctave, kHighestOctave, to);
    }
    return (to + 1) * 12 + s.key % 12;
  }

  std::int32_t volume(const Segment& s) {
    if (!options_.velocity) return 100;
    const auto percent = static_cast<std::int32_t>(scaled_ratio(s.velocity * 100, 127));
    if (percent >= kSoftestPercent) return percent;
    if (!volume_reported_) {
      volume_reported_ = true;
      r_.say(Problem::volume, s.offset, s.length, s.track,
             "track %d: velocity %d is softer than the softest song volume: played at vol:%d "
             "(said once per tune)",
             s.track, s.velocity, kSoftestPercent);
    }
    return kSoftestPercent;
  }

  const Options& options_;
  Reporter& r_;
  OctaveSpan& octaves_;
  SongWriter* song_;
  std::int32_t shift_ = 0;
  std::int64_t debt_ = 0;  // ms played beyond the file's time, taken back from later notes
  std::int64_t played_ms_ = 0;
  bool short_reported_ = false;
  bool split_reported_ = false;
  bool shift_reported_ = false;
  bool volume_reported_ = false;
  bool moving_ = false;
};

// Turns segments shorter than a song note into time for their neighbours:
// a brief rest or a note sounding again briefly lengthens the note before
// it; a note soon taken over by another gives its time to that one. Only a
// note struck and released within 20 ms stays, to be lengthened.
class Shaper {
 public:
  explicit Shaper(Player& player) : player_(player) {}

  void feed(Segment s) {
    if (carry_) {
      s.start = carried_start_;
      carry_ = false;
    }
    if (s.end - s.start < kShortestMs) {
      if (s.key < 0 || !s.attacked) {
        if (has_pending_) pending_.end = s.end;
        return;
      }
      if (s.cut) {
        carry_ = true;
        carried_start_ = s.start;
        return;
      }
    }
    if (has_pending_) player_.play(pending_);
    pending_ = s;
    has_pending_ = true;
  }

  void finish() {
    if (has_pending_) player_.play(pending_);
    has_pending_ = false;
  }

 private:
  Player& player_;
  Segment pending_;
  bool has_pending_ = false;
  bool carry_ = false;
  std::int64_t carried_start_ = 0;
};

// A set of the 128 keys.
class Keys {
 public:
  void set(std::int32_t k) { bits_[k >> 6] |= std::uint64_t{1} << (k & 63); }
  void clear(std::int32_t k) { bits_[k >> 6] &= ~(std::uint64_t{1} << (k & 63)); }
  bool has(std::int32_t k) const { return (bits_[k >> 6] >> (k & 63) & 1) != 0; }
  bool empty() const { return (bits_[0] | bits_[1]) == 0; }
  // -1 when empty.
  std::int32_t lowest() const {
    if (bits_[0] != 0) return std::countr_zero(bits_[0]);
    return bits_[1] != 0 ? 64 + std::countr_zero(bits_[1]) : -1;
  }
  std::int32_t highest() const {
    if (bits_[1] != 0) return 127 - std::countl_zero(bits_[1]);
    return bits_[0] != 0 ? 63 - std::countl_zero(bits_[0]) : -1;
  }

 private:
  std::uint64_t bits_[2] = {};
};

// Keys in the order they began to sound: each joins at the end and may
// leave from anywhere, in constant time.
class KeyQueue {
 public:
  KeyQueue() {
    for (std::int32_t k = 0; k < 128; ++k) prev_[k] = next_[k] = -1;
  }
  void append(std::int32_t k) {
    prev_[k] = last_;
    next_[k] = -1;
    (last_ < 0 ? first_ : next_[last_]) = static_cast<std::int16_t>(k);
    last_ = static_cast<std::int16_t>(k);
  }
  void remove(std::int32_t k) {
    (prev_[k] < 0 ? first_ : next_[prev_[k]]) = next_[k];
    (next_[k] < 0 ? last_ : prev_[next_[k]]) = prev_[k];
  }
  std::int32_t first() const { return first_; }  // -1 when empty

 private:
  std::int16_t prev_[128];
  std::int16_t next_[128];
  std::int16_t first_ = -1;
  std::int16_t last_ = -1;
};

// The notes of one track reduced to one voice: at every tick, the key the
// overlap rule picks among those sounding on the channels followed.
class Voice {
 public:
  Voice(const Options& options, Reporter& r, Shaper& shaper, std::int32_t track)
      : options_(options), r_(r), shaper_(shaper), track_(track) {
    current_.track = track;
  }

  void note_on(const Event& e) {
    if (!followed(e)) return;
    bool& on = on_[e.channel][e.key];
    if (!on) {
      on = true;
      if (count_[e.key]++ == 0) {
        by_start_.append(e.key);
        sounding_keys_.set(e.key);
        ++keys_;
      }
      ++sounding_;
    }
    struck_.set(e.key);
    velocity_[e.key] = e.velocity;
    offset_[e.key] = e.offset;
    length_[e.key] = static_cast<std::uint8_t>(e.length);
    // The same key on two channels loses nothing.
    if (keys_ > 1 && !overlapping_) {
      overlapping_ = true;
      static constexpr const char* kRules[] = {"the highest sounding note plays",
                                               "the lowest sounding note plays",
                                               "the note sounding longest plays"};
      r_.say(Problem::overlap, e.offset, e.length, track_,
             "track %d: %s starts while %d other note%s sound%s: %s (said once until the notes "
             "fall silent)",
             track_, KeyName(e.key).text, keys_ - 1, keys_ == 2 ? "" : "s", keys_ == 2 ? "s" : "",
             kRules[static_cast<int>(options_.overlap)]);
    }
  }

  void note_off(const Event& e) {
    if (!followed(e)) return;
    bool& on = on_[e.channel][e.key];
    if (!on) return;  // a note-off for no note: nothing to end
    on = false;
    if (--count_[e.key] == 0) {
      by_start_.remove(e.key);
      sounding_keys_.clear(e.key);
      --keys_;
    }
    --sounding_;
    last_off_ = e.offset;
    last_off_length_ = e.length;
  }

  // After every event of one tick, whose time is `ms`: starts a segment when
  // the key that sounds changes or is struck again.
  void settle(std::int64_t ms) {
    // Silent between two ticks' events, not merely between two events.
    if (sounding_ == 0) overlapping_ = false;
    const std::int32_t key = winner();
    const bool struck = key >= 0 && struck_.has(key);
    struck_ = Keys{};
    if (key == current_.key && !struck) return;
    close(ms, key);
    current_ = Segment{};
    current_.key = key;
    current_.attacked = struck;
    current_.start = ms;
    current_.track = track_;
    if (key >= 0) {
      current_.velocity = velocity_[key];
      current_.offset = offset_[key];
      current_.length = length_[key];
    } else {
      current_.offset = last_off_;
      current_.length = last_off_length_;
    }
  }

  // Ends the tune at `ms`; notes still sounding end there too.
  void finish(std::int64_t ms, std::size_t end_offset) {
    if (sounding_ > 0) {
      r_.say(Problem::event, end_offset, 0, track_,
             "track %d ends with %d note%s still sounding: %s at the track's end", track_,
             sounding_, sounding_ == 1 ? "" : "s", sounding_ == 1 ? "it stops" : "they stop");
    }
    close(ms, -1);
    shaper_.finish();
  }

  void start_at(std::size_t offset) { current_.offset = offset; }

 private:
  bool followed(const Event& e) const {
    return options_.channel == 0 || e.channel + 1 == options_.channel;
  }

  void close(std::int64_t ms, std::int32_t next_key) {
    Segment done = current_;
    done.end = ms;
    done.cut = done.key >= 0 && count_[done.key] > 0 && next_key != done.key;
    shaper_.feed(done);
  }

  // The key the overlap rule picks, -1 when none sounds: a few
  // instructions a tick, however many notes sound.
  std::int32_t winner() const {
    switch (options_.overlap) {
      case Overlap::highest:
        return sounding_keys_.highest();
      case Overlap::lowest:
        return sounding_keys_.lowest();
      case Overlap::first:
        break;
    }
    return by_start_.first();
  }

  const Options& options_;
  Reporter& r_;
  Shaper& shaper_;
  std::int32_t track_;
  Segment current_;  // a rest from the tune's start
  bool on_[16][128] = {};
  std::uint8_t count_[128] = {};  // channels on which each key sounds
  KeyQueue by_start_;             // the sounding keys, the one sounding longest first
  std::uint8_t velocity_[128] = {};
  std::size_t offset_[128] = {};
  std::uint8_t length_[128] = {};
  Keys sounding_keys_;         // keys with count_ above 0
  Keys struck_;                // keys struck at the tick being read
  std::int32_t sounding_ = 0;  // notes, each a key on a channel
  std::int32_t keys_ = 0;      // keys among them
  bool overlapping_ = false;
  std::size_t last_off_ = 0;
  std::size_t last_off_length_ = 0;
};

// A cursor with the event it read last, not yet used.
struct Source {
  Source(std::span<const std::uint8_t> smf, const TrackChunk& chunk, Reporter& r)
      : cursor(smf, chunk, r) {
    live = cursor.next(event);
  }
  void take() { live = cursor.next(event); }

  TrackCursor cursor;
  Event event;
  bool live;
};

// The tracks a conversion reads: where the notes come from, and the tempo
// map's track when that is another one.
struct Tracks {
  TrackChunk notes;
  TrackChunk tempo_map;
  bool has_notes = false;
  bool has_tempo_map = false;
};

// One reading of the chosen track in time order, with the first track's
// tempo changes merged in by tick: two cursors, whatever the file's size.
void play_track(std::span<const std::uint8_t> smf, const Header& header, const Tracks& tracks,
                const Options& options, Reporter& r, Player& player) {
  Shaper shaper(player);
  Voice voice(options, r, shaper, tracks.notes.number);
  voice.start_at(tracks.notes.begin);
  Clock clock(header.division);
  Reporter quiet(nullptr);  // what is broken in the tracks was said when choosing them
  Source notes(smf, tracks.notes, quiet);
  Source tempo_map(smf, tracks.has_tempo_map ? tracks.tempo_map : tracks.notes, quiet);
  tempo_map.live = tracks.has_tempo_map && tempo_map.live;

  std::uint64_t tick = 0;  // of the events being gathered
  while (notes.live) {
    const bool from_map = tempo_map.live && tempo_map.event.tick <= notes.event.tick;
    Source& source = from_map ? tempo_map : notes;
    const Event e = source.event;
    source.take();
    if (from_map && e.type != Event::Type::tempo) continue;
    if (e.tick != tick) {
      voice.settle(clock.rounded_ms());
      clock.advance_to(e.tick);
      tick = e.tick;
    }
    switch (e.type) {
      case Event::Type::note_on:
        voice.note_on(e);
        break;
      case Event::Type::note_off:
        voice.note_off(e);
        break;
      case Event::Type::tempo:
        clock.set_tempo(e.tempo);
        break;
      case Event::Type::end:
        voice.settle(clock.rounded_ms());
        voice.finish(clock.rounded_ms(), e.offset);
        return;
    }
  }
}

// Reads a whole track, reporting what is broken in it; returns whether it
// holds a note on the channels followed.
bool scan_track(std::span<const std::uint8_t> smf, const TrackChunk& chunk, const Options& o,
                Reporter& r) {
  TrackCursor cursor(smf, chunk, r);
  Event e;
  bool notes = false;
  while (cursor.next(e)) {
    notes =
        notes || (e.type == Event::Type::note_on && (o.channel == 0 || e.channel + 1 == o.channel));
  }
  return notes;
}

// Walks every chunk and every track's events, reporting what is broken in
// them through `r`, and picks the tracks to read.
Tracks choose_tracks(std::span<const std::uint8_t> smf, const Header& header,
                     const Options& options, Reporter& r) {
  Tracks t;
  ChunkWalk walk(smf, header, r);
  TrackChunk chunk;
  std::int32_t count = 0;
  bool chosen_has_notes = false;
  while (walk.next(chunk)) {
    ++count;
    // Format 0 has one track; when it has more, they are read as format 1.
    if (count == 1 && header.format != 2) {
      t.tempo_map = chunk;
      t.has_tempo_map = true;
    }
    const bool notes = scan_track(smf, chunk, options, r);
    if (!t.has_notes && (options.track == 0 ? notes : chunk.number == options.track)) {
      t.notes = chunk;
      t.has_notes = true;
      chosen_has_notes = notes;
    }
  }
  char channel[24] = "";
  if (options.channel != 0)
    std::snprintf(channel, sizeof channel, " on channel %d", options.channel);
  if (!header.found) return t;
  if (options.track > count) {
    r.say(Problem::no_notes, 0, 0, 0, "the file has %d track%s, there is no track %d: no notes",
          count, count == 1 ? "" : "s", options.track);
  } else if (options.track == 0 && !t.has_notes) {
    r.say(Problem::no_notes, 0, 0, 0, "no track has notes%s: the song text is empty", channel);
  } else if (options.track != 0 && !chosen_has_notes) {
    r.say(Problem::no_notes, t.notes.offset, 0, t.notes.number,
          "track %d has no notes%s: the song text is empty", t.notes.number, channel);
    t.has_notes = false;
  }
  if (t.has_notes && t.has_tempo_map && t.tempo_map.number == t.notes.number) {
    t.has_tempo_map = false;
  }
  return t;
}

}  // namespace

std::int64_t convert(std::span<const std::uint8_t> smf, const Options& options, char* text,
                     std::int64_t capacity, const WarningSink* warn) {
  assert(capacity >= 0 && (text != nullptr || capacity == 0));
  Reporter reporter(warn);
  Reporter quiet(nullptr);
  TextWriter out(text, capacity);
  const Header header = read_header(smf, reporter);
  const Tracks tracks = choose_tracks(smf, header, options, reporter);
  if (tracks.has_notes) {
    // A first reading learns the octaves the tune spans; the second writes.
    OctaveSpan octaves;
    Player counter(options, quiet, octaves, nullptr);
    play_track(smf, header, tracks, options, quiet, counter);
    SongWriter song(out);
    Player player(options, reporter, octaves, &song);
    play_track(smf, header, tracks, options, reporter, player);
  }
  return out.finish();
}

}  // namespace tuvello::midi
