// SPDX-License-Identifier: MIT
// What the song image of a text must look like, worked out without rendering
// it: the notes the interpreter plays, and the size of each note block from the
// block size rule alone. Shared by the fuzz targets.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "text/interpreter.hpp"
#include "tuvello.h"

namespace tuvello_fuzz {

// A broken invariant: say which, then abort so that the fuzzer keeps the input.
[[noreturn]] inline void broken(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::abort();
}
#define TUVELLO_REQUIRE(condition) \
  ((condition) ? void(0) : ::tuvello_fuzz::broken(#condition, __FILE__, __LINE__))

// round(44100 × s) for the double s = ms / 1000.0, to nearest with ties to even,
// taken exactly in integers from the double's bits, then brought down to whole
// two-byte frames.
inline std::int64_t note_block_bytes(std::int32_t ms) {
  const double seconds = ms / 1000.0;
  int exponent = 0;
  const double fraction = std::frexp(seconds, &exponent);  // seconds = fraction × 2^exponent
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  const int shift = 53 - exponent;  // seconds = mantissa / 2^shift, shift > 53 below 1 s
  const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * 44100u;
  const unsigned __int128 one = 1;
  auto whole = static_cast<std::int64_t>(scaled >> shift);
  const unsigned __int128 rest = scaled & ((one << shift) - 1);
  const unsigned __int128 half = one << (shift - 1);
  if (rest > half || (rest == half && whole % 2 == 1)) ++whole;
  return whole & ~std::int64_t{1};
}

struct ExpectedNote {
  std::int64_t offset;  // of the note block in the image
  std::int64_t bytes;
  bool pause;
};

struct ExpectedSong {
  std::vector<ExpectedNote> notes;
  std::int64_t data_bytes = 0;
};

// The notes `text` plays, as the interpreter reports them, laid out back to
// back after the 44-byte header.
inline ExpectedSong expected_song(std::string_view text) {
  ExpectedSong song;
  const auto sink = [&song](double frequency, const tuvello::text::NoteSettings& settings) {
    const std::int64_t bytes = note_block_bytes(settings.length_ms);
    song.notes.push_back({44 + song.data_bytes, bytes, frequency == 0.0});
    song.data_bytes += bytes;
    return true;
  };
  TUVELLO_REQUIRE(tuvello::text::interpret(text, sink));
  return song;
}

inline std::uint32_t u32_at(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// Checks a rendered image against what its text must give.
inline void check_image(const std::uint8_t* image, std::int32_t image_size, double duration,
                        const ExpectedSong& want) {
  // The header: the fixed table with both size fields filled in.
  static const std::uint8_t kHeader[44] = {
      'R', 'I', 'F', 'F', 0,  0, 0,   0,   'W', 'A',  'V',  'E', 'f', 'm',  't',
      ' ', 16,  0,   0,   0,  1, 0,   1,   0,   0x22, 0x56, 0,   0,   0x44, 0xAC,
      0,   0,   2,   0,   16, 0, 'd', 'a', 't', 'a',  0,    0,   0,   0};
  TUVELLO_REQUIRE(std::memcmp(image, kHeader, 4) == 0);
  TUVELLO_REQUIRE(std::memcmp(image + 8, kHeader + 8, 32) == 0);

  const std::uint32_t riff = u32_at(image + 4);
  const std::uint32_t data = u32_at(image + 40);
  TUVELLO_REQUIRE(std::int64_t{riff} + 8 == std::int64_t{data} + 44);
  TUVELLO_REQUIRE(std::int64_t{data} + 44 == image_size);
  TUVELLO_REQUIRE(data % 2 == 0);
  TUVELLO_REQUIRE(data == want.data_bytes);
  TUVELLO_REQUIRE(duration == static_cast<double>(want.data_bytes) / 44100.0);

  for (const ExpectedNote& note : want.notes) {
    const std::uint8_t* block = image + note.offset;
    // The last frame of every block is never written; a pause is all silence.
    const std::int64_t silent_from = note.pause ? 0 : note.bytes - 2;
    for (std::int64_t i = silent_from; i < note.bytes; ++i) TUVELLO_REQUIRE(block[i] == 0);
  }
}

// The note map against the expected notes, one TUVELLO_Note at a time.
struct NoteMapCheck {
  const ExpectedSong* want;
  std::size_t visited;
};

inline int check_mapped_note(const TUVELLO_Note* note, void* context) {
  auto* check = static_cast<NoteMapCheck*>(context);
  TUVELLO_REQUIRE(check->visited < check->want->notes.size());
  const ExpectedNote& want = check->want->notes[check->visited++];
  TUVELLO_REQUIRE(note->struct_size == sizeof(TUVELLO_Note));
  TUVELLO_REQUIRE(note->image_offset == want.offset && note->bytes == want.bytes);
  TUVELLO_REQUIRE((note->pitch_hz == 0.0) == want.pause);
  // The block's last frame is silent, and at most two frames more.
  TUVELLO_REQUIRE(note->frames * 2 + 2 <= note->bytes && note->bytes <= note->frames * 2 + 6);
  return 0;
}

}  // namespace tuvello_fuzz
