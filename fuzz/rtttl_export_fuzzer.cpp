// SPDX-License-Identifier: MIT
// Arbitrary bytes as a song text (and, after a NUL, a name) written out as an
// RTTTL ringtone: the export measures exactly what it writes, never writes
// past its capacity, and writes a ringtone of RTTTL's own grammar, one note
// for each note of the song at the nearest semitone and, unless a length
// warning says otherwise, within 1 ms of its length. The ringtone converts
// back without a complaint about its form. Every warning lies inside the song
// text and is one line of plain ASCII.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "song_expectations.hpp"
#include "tuvello.h"

namespace {

struct Context {
  std::size_t size = 0;  // the song text's bytes
  std::size_t warnings = 0;
  bool length_said = false;
};

int check_warning(const TUVELLO_Warning* w, void* p) {
  auto* c = static_cast<Context*>(p);
  ++c->warnings;
  TUVELLO_REQUIRE(w->struct_size == sizeof(TUVELLO_Warning));
  TUVELLO_REQUIRE(w->kind >= TUVELLO_WARN_EXPORT_SETTING && w->kind <= TUVELLO_WARN_EXPORT_LENGTH);
  c->length_said = c->length_said || w->kind == TUVELLO_WARN_EXPORT_LENGTH;
  TUVELLO_REQUIRE(w->command >= 1);
  TUVELLO_REQUIRE(w->text_offset >= 0 && w->text_length > 0);
  TUVELLO_REQUIRE(static_cast<std::size_t>(w->text_offset + w->text_length) <= c->size);
  TUVELLO_REQUIRE(w->message != nullptr && w->message[0] != '\0');
  for (const char* m = w->message; *m != '\0'; ++m) TUVELLO_REQUIRE(*m >= 0x20 && *m < 0x7F);
  return 0;
}

// The conversion back: only what song text cannot keep, never a complaint
// about the ringtone's form (but "no notes" when the song has none).
int complain_of_form(const TUVELLO_Warning* w, void* no_notes) {
  TUVELLO_REQUIRE(w->kind >= TUVELLO_WARN_RTTTL_OCTAVE || *static_cast<bool*>(no_notes));
  TUVELLO_REQUIRE(w->kind != TUVELLO_WARN_RTTTL_GUESS);
  return 0;
}

bool is_value(int v) { return v >= 1 && v <= 32 && (v & (v - 1)) == 0; }

// Digits at `i`, at least one, at most `most`.
int number(std::string_view s, std::size_t& i, int most) {
  int n = 0, k = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++k) n = n * 10 + (s[i] - '0');
  TUVELLO_REQUIRE(k >= 1 && k <= most);
  return n;
}

struct Written {
  double hz;  // 0 for a pause
  double ms;
};

// The ringtone, read strictly: name:d=V,o=O,b=B: then [value] name [#]
// [octave] [.] separated by ','.
std::vector<Written> read_ringtone(std::string_view r, std::string_view name) {
  std::size_t i = name.size();
  TUVELLO_REQUIRE(r.size() > i);
  for (std::size_t k = 0; k < name.size(); ++k) {
    const auto c = static_cast<unsigned char>(name[k]);
    const bool kept = c != ':' && c >= 0x20 && c != 0x7F;
    TUVELLO_REQUIRE(static_cast<unsigned char>(r[k]) == (kept ? c : '_'));
  }
  TUVELLO_REQUIRE(r.substr(i, 3) == ":d=");
  i += 3;
  const int d = number(r, i, 2);
  TUVELLO_REQUIRE(is_value(d) && r.substr(i, 3) == ",o=");
  i += 3;
  const int o = number(r, i, 1);
  TUVELLO_REQUIRE(o >= 3 && o <= 7 && r.substr(i, 3) == ",b=");
  i += 3;
  const int b = number(r, i, 3);
  TUVELLO_REQUIRE(b >= 25 && b <= 900 && i < r.size() && r[i] == ':');
  std::vector<Written> notes;
  static constexpr int kSemitones[7] = {9, 11, 0, 2, 4, 5, 7};
  while (++i < r.size()) {
    int value = d;
    if (r[i] >= '0' && r[i] <= '9') value = number(r, i, 2);
    TUVELLO_REQUIRE(is_value(value) && i < r.size());
    const char letter = r[i++];
    TUVELLO_REQUIRE((letter >= 'a' && letter <= 'g') || letter == 'p');
    int semitone = letter == 'p' ? 0 : kSemitones[letter - 'a'];
    if (i < r.size() && r[i] == '#') {
      TUVELLO_REQUIRE(letter != 'p' && letter != 'e' && letter != 'b');
      ++semitone;
      ++i;
    }
    int octave = o;
    if (i < r.size() && r[i] >= '0' && r[i] <= '9') {
      TUVELLO_REQUIRE(letter != 'p');
      octave = number(r, i, 1);
      TUVELLO_REQUIRE(octave >= 3 && octave <= 7 && octave != o);
    }
    const bool dotted = i < r.size() && r[i] == '.';
    i += dotted;
    TUVELLO_REQUIRE(i == r.size() || r[i] == ',');
    const double hz = letter == 'p' ? 0.0 : 440.0 * std::exp2((octave * 12 + semitone - 57) / 12.0);
    notes.push_back({hz, 240000.0 / b / value * (dotted ? 1.5 : 1.0)});
  }
  return notes;
}

struct SongNote {
  double hz;
  double ms;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string text(bytes.c_str());
  const std::string name = text.size() < size ? std::string(bytes.c_str() + text.size() + 1) : "";
  Context context;
  context.size = text.size();
  const std::int64_t n =
      TUVELLO_ExportRtttl(text.c_str(), name.c_str(), nullptr, 0, check_warning, &context);
  TUVELLO_REQUIRE(n > 0);

  // Exactly the size measured: one byte short leaves the empty string.
  std::vector<char> out(static_cast<std::size_t>(n) + 1);
  TUVELLO_REQUIRE(
      TUVELLO_ExportRtttl(text.c_str(), name.c_str(), out.data(), n + 1, nullptr, nullptr) == n);
  TUVELLO_REQUIRE(out[static_cast<std::size_t>(n)] == '\0');
  TUVELLO_REQUIRE(std::strlen(out.data()) == static_cast<std::size_t>(n));
  {
    std::vector<char> short_by_one(static_cast<std::size_t>(n));
    TUVELLO_REQUIRE(TUVELLO_ExportRtttl(text.c_str(), name.c_str(), short_by_one.data(), n, nullptr,
                                        nullptr) == n);
    TUVELLO_REQUIRE(short_by_one[0] == '\0');
  }
  const std::string_view ringtone(out.data(), static_cast<std::size_t>(n));
  const std::vector<Written> written = read_ringtone(ringtone, name);

  // One note per note of the song, at its nearest semitone and length.
  std::vector<SongNote> song;
  tuvello::text::Command c;
  for (tuvello::text::CommandWalk walk(text); walk.next(c);) {
    if (c.kind != tuvello::text::Key::note) continue;
    song.push_back({c.frequency * walk.settings().multiplier / 2, 1.0 * walk.settings().length_ms});
  }
  TUVELLO_REQUIRE(written.size() == song.size());
  for (std::size_t k = 0; k < song.size(); ++k) {
    TUVELLO_REQUIRE((written[k].hz == 0.0) == (song[k].hz == 0.0));
    if (song[k].hz > 0.0) {
      TUVELLO_REQUIRE(std::fabs(1200.0 * std::log2(written[k].hz / song[k].hz)) < 50.0);
    }
    TUVELLO_REQUIRE(context.length_said || std::fabs(written[k].ms - song[k].ms) <= 1.0 + 1e-9);
  }

  // Back as song text: nothing about its form to complain of.
  bool no_notes = song.empty();
  TUVELLO_REQUIRE(
      TUVELLO_ConvertRtttlEx(out.data(), nullptr, 0, nullptr, complain_of_form, &no_notes) >= 0);

  // A visitor that stops sees one warning, if any.
  Context stopped = context;
  stopped.warnings = 0;
  const auto stop = [](const TUVELLO_Warning* w, void* p) { return check_warning(w, p) + 1; };
  TUVELLO_REQUIRE(TUVELLO_ExportRtttl(text.c_str(), name.c_str(), nullptr, 0, stop, &stopped) == n);
  TUVELLO_REQUIRE(stopped.warnings == (context.warnings > 0 ? 1u : 0u));
  return 0;
}
