// SPDX-License-Identifier: MIT
// The song text interpreter: walks the commands of a song text in order,
// keeps the note settings, and hands every note or pause to a note sink.
//
// Notation: commands are separated by ";"; a command is a key, optionally
// followed by ":" and an integer value (later ":" fields are ignored). Keys
// and values are trimmed of spaces (only 0x20), keys compare case-blind
// (A-Z). Empty commands, unknown keys and out-of-range values are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/function_ref.hpp"
#include "text/integer_parse.hpp"
#include "text/note_settings.hpp"

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
using NoteSink = FunctionRef<bool(double frequency, const NoteSettings& settings)>;

// Is told the fate of every command, after its effect.
using CommandObserver = FunctionRef<void(const Command& command, const NoteSettings& settings)>;

// The frequency of a note key ("c" ... "h", "p" for a pause), and which key a
// trimmed key names.
Key classify_key(std::string_view key, double* frequency);

// The accepted values of a setting key.
AcceptedRange accepted_range(Key setting);

// Reads the commands of a song text one at a time, from the default
// settings, applying each setting as it goes: the one interpreter behind
// rendering, measuring, the note map and the warnings. Holds no copy of the
// text, which must outlive the walk, and allocates nothing.
class CommandWalk {
 public:
  // `text` ends at its first NUL or its size, whichever comes first is up to
  // the caller.
  explicit CommandWalk(std::string_view text);

  // Reads the next command into `c` and applies it: a setting changes
  // settings(), a note leaves them as it plays with them. Returns false, with
  // `c` untouched, after the last command.
  bool next(Command& c);

  // The settings after the last command read.
  const NoteSettings& settings() const { return settings_; }

 private:
  std::string_view song_;  // the text without the spaces around it
  std::size_t base_;       // offset of song_ in the text
  std::size_t pos_ = 0;    // where the next command starts in song_
  std::size_t number_ = 0;
  bool done_ = false;
  NoteSettings settings_;
};

// Interprets `text` from the default settings, handing every note to `sink`
// and every command to `observer`. Returns false when the sink reported out
// of memory. Takes time linear in the text's length and allocates nothing.
bool interpret(std::string_view text, NoteSink sink, const CommandObserver* observer = nullptr);

}  // namespace tuvello::text
