// SPDX-License-Identifier: MIT
// Arbitrary bytes as a song text: whatever the text, TUVELLO_CreateSong returns
// a well-formed image exactly as long as the note blocks the text plays, which
// TUVELLO_MeasureSong predicts, the note map lays out and a reader yields byte
// for byte, read in uneven pieces and after a seek; and the library's text
// walk reads every command as the straightforward reference walk does.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "image/create_song.hpp"
#include "image/song_stream.hpp"
#include "reference_walk.hpp"
#include "song_expectations.hpp"
#include "tuvello.h"

namespace {

// Songs beyond this many bytes are rendered under a cap of this size instead,
// and must then come back null at once; this keeps every run short however
// many notes a text plays.
constexpr std::int64_t kRenderBudget = std::int64_t{1} << 17;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The library reads a NUL-terminated text, up to its first NUL.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string_view read(text.c_str());
  const tuvello_fuzz::ExpectedSong want = tuvello_fuzz::expected_song(read);

  // The walk against the reference, command by command, for the text as
  // read and for all its bytes (NULs included, as internal callers may
  // pass them).
  for (const std::string_view walked : {read, std::string_view(text)}) {
    tuvello_test::ReferenceWalk reference(walked);
    tuvello::text::CommandWalk walk(walked);
    tuvello::text::Command want_command, got;
    while (reference.next(want_command)) {
      TUVELLO_REQUIRE(walk.step());
      walk.describe(got);
      TUVELLO_REQUIRE(got.offset == want_command.offset && got.written == want_command.written);
      TUVELLO_REQUIRE(got.kind == want_command.kind && got.fate == want_command.fate);
      TUVELLO_REQUIRE(walk.kind() == want_command.kind &&
                      walk.has_value() == want_command.has_value);
      TUVELLO_REQUIRE(walk.settings().length_ms == reference.settings().length_ms &&
                      walk.settings().volume == reference.settings().volume &&
                      walk.settings().multiplier == reference.settings().multiplier &&
                      walk.settings().pipe == reference.settings().pipe &&
                      walk.settings().decay == reference.settings().decay);
    }
    TUVELLO_REQUIRE(!walk.step());
  }
  std::size_t visited = 0;
  const auto count = [&visited](const tuvello::text::Warning&) { return ++visited > 0; };
  tuvello::image::for_each_warning(read, count);
  TUVELLO_REQUIRE(tuvello::image::count_warnings(read) == visited);

  if (44 + want.data_bytes > kRenderBudget) {
    TUVELLO_REQUIRE(tuvello::image::create_song(read, kRenderBudget) == nullptr);
    TUVELLO_REQUIRE(TUVELLO_MeasureSong(text.c_str()) == 44 + want.data_bytes ||
                    (44 + want.data_bytes > INT32_MAX && TUVELLO_MeasureSong(text.c_str()) == -1));
    return 0;
  }
  std::uint8_t* song = TUVELLO_CreateSong(text.c_str());
  TUVELLO_REQUIRE(song != nullptr);
  const std::int32_t song_size = TUVELLO_GetSongSize(song);
  tuvello_fuzz::check_image(song, song_size, TUVELLO_GetSongDuration(song), want);
  TUVELLO_REQUIRE(TUVELLO_MeasureSong(text.c_str()) == song_size);

  std::size_t mapped = 0;
  tuvello_fuzz::NoteMapCheck map{&want, 0};
  TUVELLO_REQUIRE(TUVELLO_ForEachNote(text.c_str(), tuvello_fuzz::check_mapped_note, &map) ==
                  static_cast<std::int32_t>(want.notes.size()));
  mapped = map.visited;
  TUVELLO_REQUIRE(mapped == want.notes.size());

  // Pieces of uneven sizes from a seed taken from the text, then a seek.
  TUVELLO_SongReader* reader = TUVELLO_OpenSong(text.c_str());
  TUVELLO_REQUIRE(reader != nullptr);
  std::vector<std::uint8_t> streamed(static_cast<std::size_t>(song_size) + 1);
  std::size_t got = 0;
  std::uint32_t piece = 1 + size % 4099;
  for (;;) {
    const std::int32_t n = TUVELLO_ReadSong(
        reader, streamed.data() + got,
        static_cast<std::int32_t>(std::min<std::size_t>(piece, streamed.size() - got)));
    TUVELLO_REQUIRE(n >= 0);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
    piece = piece * 7 % 4099 + 1;
  }
  TUVELLO_REQUIRE(got == static_cast<std::size_t>(song_size));
  TUVELLO_REQUIRE(std::memcmp(streamed.data(), song, got) == 0);
  const std::size_t middle = size % (got + 1);
  TUVELLO_REQUIRE(TUVELLO_SeekSong(reader, static_cast<std::int64_t>(middle)) == 0);
  TUVELLO_REQUIRE(TUVELLO_ReadSong(reader, streamed.data(), static_cast<std::int32_t>(got)) ==
                  static_cast<std::int32_t>(got - middle));
  TUVELLO_REQUIRE(std::memcmp(streamed.data(), song + middle, got - middle) == 0);
  TUVELLO_REQUIRE(TUVELLO_CloseSong(reader) == 1);
  TUVELLO_REQUIRE(TUVELLO_FreeSong(song) == 1);
  return 0;
}
