// SPDX-License-Identifier: MIT
// The song text interpreter: walks the commands of a song text in order,
// keeps the note settings, and hands every note or pause to a note sink.
//
// Notation: commands are separated by ";"; a command is a key, optionally
// followed by ":" and an integer value (later ":" fields are ignored). Keys
// and values are trimmed of spaces (only 0x20), keys compare case-blind
// (A-Z). Empty commands, unknown keys and out-of-range values are skipped.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/function_ref.hpp"
#include "text/integer_parse.hpp"
#include "text/note_settings.hpp"
#include "text/separators.hpp"

namespace tuvello::text {

enum class Key : std::uint8_t { empty, unknown, note, len, vol, oct, pipe, dec };

// What became of one command.
enum class Fate : std::uint8_t {
  note_rendered,    // a note or pause added a note block
  setting_applied,  // a setting took the command's value
  out_of_range,     // a setting's value is outside its accepted range: unchanged
  empty,            // no key at all: skipped
  unknown_key,      // not a key of the notation: skipped
};

struct Command {
  std::size_t number = 0;    // 1 for the first command
  std::size_t offset = 0;    // byte offset of its first byte in the text
  std::string_view written;  // the bytes between its separators
  std::string_view key;      // trimmed, as written
  std::string_view value;    // the value field trimmed; empty without ":"
  std::string_view extra;    // whatever follows a second ":", which is ignored
  bool has_value = false;    // a ":" follows the key
  ParsedInteger parsed;      // the value as a number (0 without digits)
  Key kind = Key::empty;
  double frequency = 0.0;  // the note's frequency, for Key::note
  Fate fate = Fate::empty;
};

// Receives each note or pause with the settings it plays with. Returns false
// when it could not add the note block (out of memory); interpretation then
// stops at once.
using NoteSink = base::FunctionRef<bool(double frequency, const NoteSettings& settings)>;

// Is told the fate of every command, after its effect.
using CommandObserver =
    base::FunctionRef<void(const Command& command, const NoteSettings& settings)>;

// The frequency of a note key ("c" ... "h", "p" for a pause), and which key a
// trimmed key names.
Key classify_key(std::string_view key, double* frequency);

// The accepted values of a setting key.
constexpr AcceptedRange accepted_range(Key setting) {
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

// Splits the bytes of one command into key, value and extra, reads the value
// and names the key: every field of `c` but number, offset and fate.
void split_command(std::string_view written, Command& c);

namespace walk_detail {

// Keys of up to four bytes, folded to lower case, as little-endian words.
constexpr std::uint32_t word_of(std::string_view key) {
  std::uint32_t w = 0;
  for (std::size_t i = 0; i < key.size(); ++i) {
    w |= std::uint32_t{static_cast<unsigned char>(key[i])} << (8 * i);
  }
  return w;
}

struct KeyEntry {
  std::uint32_t word = 0;  // 0: no key in this slot
  Key kind = Key::unknown;
  std::uint8_t note = 0;  // index into kNoteFrequencies
  bool setting = false;
};

constexpr std::size_t index(Key k) { return static_cast<std::size_t>(k); }

// German letter names: "h" is B natural, "b" is B flat; "p" is a pause.
inline constexpr std::array<std::string_view, 13> kNoteKeys{"c", "cs", "d", "ds", "e", "f", "fs",
                                                            "g", "gs", "a", "b",  "h", "p"};
inline constexpr std::array<double, 13> kNoteFrequencies{261.63, 277.18, 293.66, 311.13, 329.63,
                                                         349.23, 369.99, 392.00, 415.30, 440.00,
                                                         466.16, 493.88, 0.0};
inline constexpr std::array<std::string_view, 5> kSettingKeys{"len", "vol", "oct", "pipe", "dec"};
inline constexpr std::array<Key, 5> kSettingKinds{Key::len, Key::vol, Key::oct, Key::pipe,
                                                  Key::dec};

// A perfect hash of the 18 keys into 64 slots: the top six bits of the folded
// word times a multiplier found at compile time.
inline constexpr int kSlotBits = 6;
constexpr std::uint32_t slot_of(std::uint32_t word, std::uint32_t multiplier) {
  return (word * multiplier) >> (32 - kSlotBits);
}

constexpr bool separates_keys(std::uint32_t multiplier) {
  std::array<bool, 1 << kSlotBits> taken{};
  const auto take = [&](std::string_view key) {
    const std::uint32_t s = slot_of(word_of(key), multiplier);
    if (taken[s]) return false;
    taken[s] = true;
    return true;
  };
  for (const std::string_view k : kNoteKeys) {
    if (!take(k)) return false;
  }
  for (const std::string_view k : kSettingKeys) {
    if (!take(k)) return false;
  }
  return true;
}

inline constexpr std::uint32_t kMultiplier = [] {
  std::uint32_t m = 0x9E3779B1u;
  while (!separates_keys(m)) m += 2;
  return m;
}();

inline constexpr std::array<KeyEntry, 1 << kSlotBits> kKeyTable = [] {
  std::array<KeyEntry, 1 << kSlotBits> table{};
  for (std::size_t i = 0; i < kNoteKeys.size(); ++i) {
    const std::uint32_t w = word_of(kNoteKeys[i]);
    table[slot_of(w, kMultiplier)] = {w, Key::note, static_cast<std::uint8_t>(i)};
  }
  for (std::size_t i = 0; i < kSettingKeys.size(); ++i) {
    const std::uint32_t w = word_of(kSettingKeys[i]);
    table[slot_of(w, kMultiplier)] = {w, kSettingKinds[i], 0, true};
  }
  return table;
}();

// The key of `length` (1 to 4) bytes in the low bytes of `word`; the bytes
// after it do not matter. Setting bit 5 of every byte folds A-Z onto a-z and leaves the keys'
// lower-case letters as they are; no other byte becomes one of them.
inline const KeyEntry& look_up(std::uint64_t word, std::size_t length) {
  const std::uint32_t used = 0xFFFFFFFFu >> (8 * (4 - length));
  const std::uint32_t folded = (static_cast<std::uint32_t>(word) | 0x20202020u) & used;
  const KeyEntry& e = kKeyTable[slot_of(folded, kMultiplier)];
  static constexpr KeyEntry kUnknown{};
  return e.word == folded ? e : kUnknown;
}

// The low `length` (0 to 7) bytes of a word.
constexpr std::uint64_t byte_mask(std::size_t length) {
  return (std::uint64_t{1} << (8 * length)) - 1;
}

// The top bit of each of the `length` (0 to 4) low bytes of `word` that is
// no ASCII digit; the higher bytes are zero.
constexpr std::uint64_t not_digits(std::uint64_t word, std::size_t length) {
  // A byte is a digit when subtracting '0' does not borrow and adding 0x46
  // (0x7F - '9') does not pass 0x7F. Bytes past `length` are zero, so
  // they fail the first test alone: it is left out for them.
  const std::uint64_t below = (word | 0x80808080u) - (0x30303030u & byte_mask(length));
  const std::uint64_t above = word + 0x46464646u;
  return (~below | above | word) & 0x80808080u;
}
constexpr bool all_digits(std::uint64_t word, std::size_t length) {
  return not_digits(word, length) == 0;
}

// The number the `length` (0 to 4) digits in the low bytes of `word` spell,
// first digit lowest.
constexpr std::int32_t digits_value(std::uint64_t word, std::size_t length) {
  // Digits up to the top of four bytes, zeros before them; then pairs, then
  // the two halves are combined.
  const int shift = static_cast<int>(8 * (4 - length));
  std::uint64_t d = ((word - (0x30303030u & byte_mask(length))) << shift) & 0xFFFFFFFFu;
  d = (d * 10 + (d >> 8)) & 0x00FF00FFu;
  d = (d * 100 + (d >> 16)) & 0x0000FFFFu;
  return static_cast<std::int32_t>(d);
}

// The accepted range of each key, by Key (any value for those that are no
// setting).
inline constexpr std::array<AcceptedRange, 8> kRanges{kAnyValue,    kAnyValue,    kAnyValue,
                                                      kLengthRange, kVolumeRange, kOctaveRange,
                                                      kAnyValue,    kAnyValue};

// What became of a command known by its key, by 2 × (whether it is a
// setting) + (whether the value is in range).
inline constexpr std::array<Fate, 4> kFates{Fate::note_rendered, Fate::note_rendered,
                                            Fate::out_of_range, Fate::setting_applied};

// "vol" percentages as volumes, worked out once; 0 for the others.
inline constexpr auto kVolumes = [] {
  std::array<float, kVolumeRange.high + 1> v{};
  for (std::int32_t p = kVolumeRange.low; p <= kVolumeRange.high; ++p) v[p] = volume_of_percent(p);
  return v;
}();

}  // namespace walk_detail

// Reads the commands of a song text one at a time, from the default
// settings, applying each setting as it goes: the one interpreter behind
// rendering, measuring, the note map and the warnings. Holds no copy of the
// text, which must outlive the walk, and allocates nothing.
//
// Separators are found 64 bytes at a time (text/separators.hpp); a command
// of up to eight bytes without spaces is then read from one word, which is
// nearly every command a person or a converter writes. Others take the
// general route (split_command); both give the same reading.
class CommandWalk {
 public:
  // Where a walk stands between two commands: enough to go on from there.
  struct Place {
    std::size_t offset = 0;  // of the next command in the text
    std::size_t number = 0;  // commands read before it
    NoteSettings settings;
  };

  // `text` ends at its first NUL or its size, whichever comes first is up to
  // the caller.
  explicit CommandWalk(std::string_view text) : CommandWalk(text, Place{}) {}

  // A walk of `text` that goes on from `place`, as place() gave it for the
  // same text.
  CommandWalk(std::string_view text, const Place& place) {
    // Spaces around the whole text belong to no command. Nothing here or in
    // step() hands the walk's address to a function that is not inlined,
    // so that a compiler can keep its state in registers.
    const std::string_view song = trim(text);
    song_ = song.data();
    size_ = song.size();
    base_ = static_cast<std::size_t>(song.data() - text.data());
    const Place p = resume(text, place);
    pos_ = p.offset - base_;
    number_ = p.number;
    using walk_detail::index;
    raw_[index(Key::len)] = p.settings.length_ms;
    length_ms_ = p.settings.length_ms;
    raw_[index(Key::vol)] = percent_of(p.settings.volume);
    raw_[index(Key::oct)] = p.settings.multiplier - 1;
    raw_[index(Key::pipe)] = p.settings.pipe;
    raw_[index(Key::dec)] = p.settings.decay;
    block_ = pos_;
    if (block_ < size_) load_block();
  }

  // Reads the next command and applies it: a setting changes settings(), a
  // note leaves them as it plays with them. Returns false after the last.
  bool step() {
    if (!advance()) return false;
    read();
    return true;
  }

  // step() for a walk that needs only whether each command is a note and
  // the note length, as measuring a song does: a setting's value is read
  // only for "len". Afterwards kind() and length_ms() are those step() gives;
  // fate(), frequency(), the flags and the other settings are not kept.
  bool step_length() {
    if (!advance()) return false;
    if (length_ == 0) {
      kind_ = Key::empty;
    } else if (length_ > 8 || !read_word_length()) {
      read_generally();
    }
    return true;
  }

  // The command last read: its key, what became of it, and its frequency
  // when it is a note.
  Key kind() const { return kind_; }
  Fate fate() const { return fate_; }
  double frequency() const { return frequency_; }
  std::size_t number() const { return number_; }
  // Whether it has a value, and whether that value is a plain number that
  // the setting took as written, with nothing after it: a setting that
  // nothing more can be said about.
  bool has_value() const { return has_value_; }
  bool plain_setting() const { return plain_; }

  // Every field of the command last read.
  void describe(Command& c) const;

  // step() and describe() together. Returns false, with `c` untouched, after
  // the last command.
  bool next(Command& c) {
    if (!step()) return false;
    describe(c);
    return true;
  }

  // The settings after the last command read.
  const NoteSettings& settings() const {
    using walk_detail::index;
    settings_.length_ms = length_ms_;
    settings_.volume = walk_detail::kVolumes[static_cast<std::size_t>(raw_[index(Key::vol)])];
    settings_.multiplier = raw_[index(Key::oct)] + 1;
    settings_.pipe = raw_[index(Key::pipe)] != 0;
    settings_.decay = raw_[index(Key::dec)] != 0;
    return settings_;
  }
  // Its volume as the percentage "vol" gave.
  std::int32_t volume_percent() const { return raw_[walk_detail::index(Key::vol)]; }
  // Its note length alone, in milliseconds.
  std::int32_t length_ms() const { return length_ms_; }

  // The offset in the text where the next command starts.
  std::size_t next_offset() const { return base_ + pos_; }

  // Where the walk stands now. Meaningless once step() has returned false,
  // or after the last command (done()).
  Place place() const { return {base_ + pos_, number_, settings()}; }
  bool done() const { return done_; }

  // Whether the text holds nothing but spaces.
  bool blank() const { return size_ == 0; }

 private:
  // Moves to the next command (start_, length_, number_); false after the
  // last.
  bool advance() {
    if (done_) return false;
    const std::size_t stop = next_separator();
    if (stop == size_) {
      // After the last ";" there is one more command only if the text does
      // not end with ";" (a blank text is one empty command).
      done_ = true;
      if (pos_ == size_ && number_ > 0) return false;
    }
    start_ = pos_;
    length_ = stop - pos_;
    pos_ = stop + 1;
    ++number_;
    return true;
  }

  // Offset in the song of the next ";" at or after pos_, or size_.
  std::size_t next_separator() {
    while (mask_ == 0) {
      block_ += separators::kBlock;
      if (block_ >= size_) return size_;
      load_block();
    }
    const std::size_t at = block_ + static_cast<std::size_t>(__builtin_ctzll(mask_));
    mask_ &= mask_ - 1;
    return at;
  }

  void load_block() {
    const std::size_t left = size_ - block_;
    mask_ = left >= separators::kBlock ? separators::mask64(song_ + block_)
                                       : separators::mask_tail(song_ + block_, left);
  }

  // Reads the command at start_ and applies it.
  void read() {
    if (length_ == 0) {
      kind_ = Key::empty;
      fate_ = Fate::empty;
      has_value_ = false;
      plain_ = false;
      return;
    }
    if (length_ > 8 || !read_word()) read_generally();
  }

  // The command's (at most eight) bytes as one word, its key's length and
  // its key, for the readings from one word.
  struct KeyWord {
    std::uint64_t word;
    std::uint64_t ends;  // the top bit of each ':' or ';' byte
    std::size_t key_length;
    const walk_detail::KeyEntry* entry;
  };

  // False for a command whose key, as written, is none of the notation's
  // (spaces to trim, an unknown key): the general reading is asked for.
  bool key_word(KeyWord& k) const {
    using namespace separators;
    if (size_ - start_ >= 8) [[likely]] {
      k.word = load_word(song_ + start_);
    } else {
      // The last bytes of the text, and a ';' after them as after others.
      char bytes[8] = {};
      std::memcpy(bytes, song_ + start_, size_ - start_);
      bytes[length_] = ';';
      k.word = load_word(bytes);
    }
    // ':' and ';' differ in their lowest bit alone: the first of either
    // ends the key. A command is followed by ';' or is eight bytes long, so
    // no byte after it is looked at; the top bit stands in for a ninth.
    k.ends = bytes_equal(k.word | 0x0101010101010101ull, ';');
    k.key_length = static_cast<std::size_t>(__builtin_ctzll(k.ends | 1ull << 63)) / 8;
    if (k.key_length - 1 >= 4) return false;  // none, or longer than any key
    k.entry = &walk_detail::look_up(k.word, k.key_length);
    return k.entry->kind != Key::unknown;
  }

  // A command of at most eight bytes whose key, as written, is one of the
  // notation's, with a value of digits alone if it is a setting; false,
  // having changed nothing, for any other (spaces to trim, an unknown key,
  // a value to read generally).
  bool read_word() {
    KeyWord k;
    return key_word(k) && read_value(k);
  }

  // read_word() for step_length(): a note or a setting other than "len" is
  // known by its key alone, as the general reading knows it.
  bool read_word_length() {
    KeyWord k;
    if (!key_word(k)) return false;
    if (k.entry->kind != Key::len) {
      kind_ = k.entry->kind;
      return true;
    }
    return read_value(k);
  }

  // The rest of read_word(). Whether a command is a note or a setting, and
  // which, is as good as random to a branch predictor: both readings are
  // worked out, and the results stored by index or picked by masks.
  bool read_value(const KeyWord& k) {
    using namespace walk_detail;
    const KeyEntry& e = *k.entry;
    const std::size_t key_length = k.key_length;
    // A setting's value runs to the next ':' or the command's end: at most
    // four bytes, as a setting's key has three or more. A note's bytes
    // after its key are read too, to no purpose, at most six.
    const std::uint64_t later = k.ends & (k.ends - 1);
    const std::size_t value_end =
        later == 0 ? 8 : static_cast<std::size_t>(__builtin_ctzll(later)) / 8;
    const std::size_t value_length = value_end - key_length - 1;
    const std::uint64_t value =
        (k.word >> (8 * key_length + 8)) & ((std::uint64_t{1} << (8 * value_length)) - 1);
    const std::uint64_t setting_value = std::uint64_t{0} - (e.setting & (key_length < length_));
    // A byte other than a digit, or no byte at all, asks for the general
    // reading.
    if (((not_digits(value, value_length) | (value_length == 0)) & setting_value) != 0) {
      return false;
    }
    const std::int32_t v = digits_value(value, value_length & setting_value);
    const bool ok = kRanges[index(e.kind)].contains(v);
    kind_ = e.kind;
    fate_ = kFates[2 * e.setting + ok];
    frequency_ = kNoteFrequencies[e.note];
    has_value_ = key_length < length_;
    plain_ = (setting_value & ok & (value_end == length_)) != 0;
    // A setting out of range, or a note, writes the slot of no setting.
    const bool applied = e.setting & ok;
    raw_[index(e.kind) & (std::size_t{0} - applied)] = v;
    // The length, which every note needs at once, is kept apart too, by a
    // select: a load from raw_ would wait for the store above.
    const std::int32_t takes_length = -std::int32_t{applied & (e.kind == Key::len)};
    length_ms_ = (v & takes_length) | (length_ms_ & ~takes_length);
    return true;
  }

  // The general reading of any command, by split_command.
  struct GeneralReading {
    Key kind;
    bool has_value;
    bool plain_value;  // a number read as written, nothing after it
    std::int32_t value;
    double frequency;
  };
  static GeneralReading read_general(const char* bytes, std::size_t length);
  static std::string_view trim(std::string_view text);
  static Place resume(std::string_view text, const Place& place);
  static std::int32_t percent_of(float volume);

  void read_generally() {
    const GeneralReading g = read_general(song_ + start_, length_);
    kind_ = g.kind;
    has_value_ = g.has_value;
    plain_ = false;
    switch (g.kind) {
      case Key::empty:
        fate_ = Fate::empty;
        break;
      case Key::unknown:
        fate_ = Fate::unknown_key;
        break;
      case Key::note:
        fate_ = Fate::note_rendered;
        frequency_ = g.frequency;
        break;
      default:
        apply(g.value);
        plain_ = fate_ == Fate::setting_applied && g.plain_value;
        break;
    }
  }

  // Applies setting kind_ with value v.
  void apply(std::int32_t v) {
    const bool ok = walk_detail::kRanges[walk_detail::index(kind_)].contains(v);
    fate_ = ok ? Fate::setting_applied : Fate::out_of_range;
    if (ok) raw_[walk_detail::index(kind_)] = v;
    if (ok && kind_ == Key::len) length_ms_ = v;
  }

  const char* song_;     // the text without the spaces around it
  std::size_t size_;     // its length
  std::size_t base_;     // offset of song_ in the text
  std::size_t pos_ = 0;  // where the next command starts in song_
  std::size_t number_ = 0;
  std::size_t block_ = 0;   // the 64 bytes of song_ that mask_ covers start here
  std::uint64_t mask_ = 0;  // separators in that block not yet passed
  bool done_ = false;
  // The settings as their commands gave them, at the index of their Key:
  // "len" in milliseconds, "vol" in percent, "oct", "pipe" and "dec" as
  // written; the slots of the other keys are written and never read.
  std::array<std::int32_t, 8> raw_{0, 0, 0, 100, 100, 0, 0, 0};
  std::int32_t length_ms_ = 100;   // "len", also in raw_
  mutable NoteSettings settings_;  // made from raw_ when asked for
  // The command last read.
  std::size_t start_ = 0;
  std::size_t length_ = 0;
  Key kind_ = Key::empty;
  Fate fate_ = Fate::empty;
  bool has_value_ = false;
  bool plain_ = false;
  double frequency_ = 0.0;
};

// Interprets `text` from the default settings, handing every note to `sink`
// and every command to `observer`. Returns false when the sink reported out
// of memory. Takes time linear in the text's length and allocates nothing.
bool interpret(std::string_view text, NoteSink sink, const CommandObserver* observer = nullptr);

}  // namespace tuvello::text
