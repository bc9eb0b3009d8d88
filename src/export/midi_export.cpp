// SPDX-License-Identifier: MIT
#include "export/midi_export.hpp"

#include <cassert>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <utility>

#include "image/song_stream.hpp"
#include "import/text_out.hpp"
#include "text/interpreter.hpp"

namespace tuvello::midi_export {
namespace {

// The header chunk and the track chunk's type and length.
constexpr std::int64_t kHeaderBytes = 14 + 8;

// The bytes of the file, written when there is room and counted always.
class ByteWriter {
 public:
  explicit ByteWriter(std::uint8_t* out) : out_(out) {}

  void put(std::uint8_t b) {
    if (out_ != nullptr) out_[size_] = b;
    ++size_;
  }
  void put(std::initializer_list<std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes) put(b);
  }
  void put_be32(std::uint32_t v) { put({byte(v >> 24), byte(v >> 16), byte(v >> 8), byte(v)}); }
  // A variable-length number: seven bits a byte, most significant first.
  void put_length(std::uint32_t v) {
    assert(v < std::uint32_t{1} << 28);  // a song an image holds lasts under 2^28 ms
    int shift = 21;
    while (shift > 0 && (v >> shift) == 0) shift -= 7;
    for (; shift > 0; shift -= 7) put(static_cast<std::uint8_t>(0x80 | ((v >> shift) & 0x7F)));
    put(v & 0x7F);
  }
  std::int64_t size() const { return size_; }

  static std::uint8_t byte(std::uint32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }

 private:
  std::uint8_t* out_;
  std::int64_t size_ = 0;
};

// Events of the one track, each after the delta time from the one before.
class TrackWriter {
 public:
  explicit TrackWriter(ByteWriter& out) : out_(out) {}

  void at(std::int64_t ms) {
    out_.put_length(static_cast<std::uint32_t>(ms - last_));
    last_ = ms;
  }

 private:
  ByteWriter& out_;
  std::int64_t last_ = 0;
};

// The key a note sounds nearest to and the bend, in 1/4096 semitone, from
// that key to its pitch. The pitch heard is half the tone's frequency; key
// 69 is 440 Hz. Octave multipliers keep the table's keys, which lie within
// 0.04 cent of equal temperament: they are played without a bend.
struct Pitch {
  std::int32_t key;
  std::int32_t bend;
};

Pitch pitch_of(const synth::NoteBlock& block, std::int32_t multiplier) {
  const double semitones = 69.0 + 12.0 * std::log2(block.frequency / 2.0 / 440.0);
  const auto key = static_cast<std::int32_t>(std::lrint(semitones));
  if ((multiplier & (multiplier - 1)) == 0) return {key, 0};
  const double units = 8192.0 / kBendSemitones;  // a bend of ±8192 is ±kBendSemitones
  return {key, static_cast<std::int32_t>(std::lrint((semitones - key) * units))};
}

// "vol" as a velocity, 127 at full volume: round(127 × percent / 100).
std::uint8_t velocity_of(std::int32_t percent) {
  return static_cast<std::uint8_t>(rtttl::scaled_ratio(std::int64_t{percent} * 127, 100));
}

// The command that turned a mode on, and whether that was said.
struct Origin {
  std::size_t number = 0, offset = 0, length = 0;
  bool said = true;  // nothing to say while the mode is off
};

// Says, once per command that turns on pipe or decay mode and at the first
// note it concerns, that MIDI cannot hold the mode.
class ModeReporter {
 public:
  ModeReporter(std::string_view song, const WarningSink* sink) : song_(song), sink_(sink) {}

  void setting(const text::Command& c, const text::NoteSettings& s) {
    if (c.fate != text::Fate::setting_applied) return;
    if (c.kind == text::Key::pipe) turned(pipe_, c, s.pipe);
    if (c.kind == text::Key::dec) turned(decay_, c, s.decay);
  }

  void note(const text::NoteSettings& s) {
    // In the order of the commands.
    Origin* first = &pipe_;
    Origin* second = &decay_;
    if (decay_.offset < pipe_.offset) std::swap(first, second);
    for (Origin* o : {first, second}) {
      const bool on = o == &pipe_ ? s.pipe : s.decay;
      if (on && !o->said) say(*o, o == &pipe_);
    }
  }

 private:
  void turned(Origin& o, const text::Command& c, bool on) {
    o = Origin{};
    if (!on) return;
    o.number = c.number;
    o.offset = c.offset;
    o.length = c.written.size();
    o.said = false;
  }

  void say(Origin& o, bool pipe) {
    o.said = true;
    if (sink_ == nullptr) return;
    const rtttl::Quoted command(song_, rtttl::Span{o.offset, o.offset + o.length});
    std::snprintf(message_, sizeof message_,
                  pipe ? "'%s' turns on the pipe mode, which MIDI cannot hold: its notes play "
                         "plain"
                       : "'%s' makes notes fade, which MIDI cannot hold: its notes play at a "
                         "steady velocity",
                  command.c_str());
    Warning w;
    w.command = o.number;
    w.offset = o.offset;
    w.length = o.length;
    w.message = message_;
    if (!(*sink_)(w)) sink_ = nullptr;
  }

  std::string_view song_;
  const WarningSink* sink_;
  Origin pipe_, decay_;
  char message_[256] = {};
};

// The whole file, its track chunk `track_bytes` long (which a first writing
// counts); warnings go to `modes` when it is given.
void write_file(std::string_view song, ByteWriter& out, std::int64_t track_bytes,
                ModeReporter* modes) {
  out.put({'M', 'T', 'h', 'd'});
  out.put_be32(6);
  out.put({0, 0, 0, 1, kTicksPerQuarter >> 8, kTicksPerQuarter & 0xFF});
  out.put({'M', 'T', 'r', 'k'});
  out.put_be32(static_cast<std::uint32_t>(track_bytes));
  TrackWriter track(out);
  track.at(0);
  out.put({0xFF, 0x51, 3, ByteWriter::byte(kTempo >> 16), ByteWriter::byte(kTempo >> 8),
           ByteWriter::byte(kTempo)});
  // The bend range (registered parameter 0) in semitones and cents, then no
  // parameter selected, so that no later data entry changes it.
  const std::uint8_t rpn[6][2] = {{101, 0}, {100, 0},   {6, kBendSemitones},
                                  {38, 0},  {101, 127}, {100, 127}};
  for (const auto& controller : rpn) {
    track.at(0);
    out.put({0xB0, controller[0], controller[1]});
  }
  std::int64_t now = 0;
  std::int32_t bend = 0;
  const auto bend_to = [&](std::int32_t b) {
    const auto value = static_cast<std::uint32_t>(8192 + b);
    track.at(now);
    out.put({0xE0, ByteWriter::byte(value & 0x7F), ByteWriter::byte(value >> 7)});
    bend = b;
  };
  // The interpreter's walk, as the note map takes it: every note's block
  // from the settings it plays with.
  std::int32_t percent = 100;
  text::Command c;
  for (text::CommandWalk walk(song); walk.next(c);) {
    const text::NoteSettings& s = walk.settings();
    if (c.kind != text::Key::note) {
      if (c.kind == text::Key::vol && c.fate == text::Fate::setting_applied) {
        percent = c.parsed.value;
      }
      if (modes != nullptr) modes->setting(c, s);
      continue;
    }
    // The song text's length, which the block's last silent frames do not shorten.
    const std::int64_t ms = s.length_ms;
    const synth::NoteBlock block = image::plan_block(c.frequency, s);
    if (block.frequency != 0.0) {
      if (modes != nullptr) modes->note(s);
      const Pitch p = pitch_of(block, s.multiplier);
      if (p.bend != bend) bend_to(p.bend);
      const auto key = static_cast<std::uint8_t>(p.key);
      track.at(now);
      out.put({0x90, key, velocity_of(percent)});
      track.at(now + ms);
      out.put({0x80, key, 0x40});
    }
    now += ms;
  }
  if (bend != 0) bend_to(0);
  track.at(now);
  out.put({0xFF, 0x2F, 0});
}

}  // namespace

std::int64_t export_song(std::string_view song, std::uint8_t* smf, std::int64_t capacity,
                         const WarningSink* warn) {
  // A song of an image's length is at most 48,700 s: every delta and the
  // track's length fit their fields.
  if (image::measure_song(song) < 0) return -1;
  ByteWriter count(nullptr);
  ModeReporter modes(song, warn);
  write_file(song, count, 0, &modes);
  const std::int64_t size = count.size();
  if (smf != nullptr && capacity >= size) {
    ByteWriter out(smf);
    write_file(song, out, size - kHeaderBytes, nullptr);
  }
  return size;
}

}  // namespace tuvello::midi_export
