// SPDX-License-Identifier: MIT
// Arbitrary bytes as song text into a MIDI file: the export measures exactly
// what it writes and writes nothing unless all of it fits; the file, read
// here byte by byte, is one track whose notes are the song's sounding notes
// at their times (the lengths of the note map summed) and whose end is the
// song's end; the library's own MIDI import reads it without a fault.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "song_expectations.hpp"
#include "tuvello.h"

namespace {

struct Song {
  std::int64_t notes = 0;  // sounding ones
  std::int64_t ms = 0;     // the lengths summed
  std::size_t text = 0;
};

int count_note(const TUVELLO_Note* n, void* p) {
  auto* s = static_cast<Song*>(p);
  // A block holds round(44.1 × len) bytes less an odd one.
  s->ms += (std::int64_t{n->bytes} * 1000 + 22050) / 44100;
  if (n->pitch_hz > 0) ++s->notes;
  return 0;
}

int check_warning(const TUVELLO_Warning* w, void* p) {
  const auto* s = static_cast<const Song*>(p);
  TUVELLO_REQUIRE(w->kind == TUVELLO_WARN_EXPORT_SETTING && w->command >= 1);
  TUVELLO_REQUIRE(w->text_offset >= 0 && w->text_length >= 1);
  TUVELLO_REQUIRE(static_cast<std::size_t>(w->text_offset + w->text_length) <= s->text);
  return 0;
}

int check_import(const TUVELLO_Warning* w, void*) {
  TUVELLO_REQUIRE(w->kind != TUVELLO_WARN_MIDI_FILE && w->kind != TUVELLO_WARN_MIDI_EVENT);
  return 0;
}

std::uint32_t be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// The track's events: every one complete, note-ons and note-offs paired.
void check_file(const std::vector<std::uint8_t>& f, const Song& song) {
  static const std::uint8_t head[] = {'M', 'T', 'h', 'd', 0,    0,   0,   6,   0,
                                      0,   0,   1,   3,   0xE8, 'M', 'T', 'r', 'k'};
  TUVELLO_REQUIRE(f.size() >= 22 && std::equal(head, head + 18, f.begin()));
  TUVELLO_REQUIRE(be32(&f[18]) == f.size() - 22);
  std::size_t i = 22;
  std::int64_t tick = 0, notes = 0;
  int sounding = -1;
  bool ended = false;
  while (i < f.size()) {
    TUVELLO_REQUIRE(!ended);
    std::uint32_t delta = 0;
    int k = 0;
    do {
      TUVELLO_REQUIRE(i < f.size() && k++ < 4);
      delta = delta << 7 | (f[i] & 0x7F);
    } while (f[i++] & 0x80);
    tick += delta;
    TUVELLO_REQUIRE(i < f.size());
    const std::uint8_t status = f[i++];
    TUVELLO_REQUIRE(i + 2 <= f.size());
    const std::uint8_t a = f[i], b = f[i + 1];
    if (status == 0xFF) {
      i += 2 + b;
      ended = a == 0x2F;
      continue;
    }
    TUVELLO_REQUIRE(a < 0x80 && b < 0x80);
    i += 2;
    if (status == 0x90) {
      TUVELLO_REQUIRE(sounding < 0 && b > 0);
      sounding = a;
      ++notes;
    } else if (status == 0x80) {
      TUVELLO_REQUIRE(sounding == a);
      sounding = -1;
    } else {
      TUVELLO_REQUIRE(status == 0xB0 || (status == 0xE0 && sounding < 0));
    }
  }
  TUVELLO_REQUIRE(ended && sounding < 0 && notes == song.notes && tick == song.ms);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Song song;
  song.text = text.size();
  const std::int64_t n = TUVELLO_ExportMidi(text.c_str(), nullptr, 0, check_warning, &song);
  if (TUVELLO_MeasureSong(text.c_str()) < 0) {
    TUVELLO_REQUIRE(n == -1);
    return 0;
  }
  TUVELLO_REQUIRE(n >= 57);
  TUVELLO_ForEachNote(text.c_str(), count_note, &song);

  std::vector<std::uint8_t> smf(static_cast<std::size_t>(n));
  TUVELLO_REQUIRE(TUVELLO_ExportMidi(text.c_str(), smf.data(), n, nullptr, nullptr) == n);
  std::vector<std::uint8_t> short_by_one(static_cast<std::size_t>(n) - 1, 0xAA);
  TUVELLO_REQUIRE(TUVELLO_ExportMidi(text.c_str(), short_by_one.data(), n - 1, nullptr, nullptr) ==
                  n);
  for (const std::uint8_t b : short_by_one) TUVELLO_REQUIRE(b == 0xAA);
  check_file(smf, song);
  TUVELLO_REQUIRE(TUVELLO_ConvertMidi(smf.data(), n, nullptr, nullptr, 0, check_import, nullptr) >=
                  0);
  return 0;
}
