// Arbitrary bytes as a song text: whatever the text, TUVELLO_CreateSong returns
// a well-formed image exactly as long as the note blocks the text plays.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "image/create_song.hpp"
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

  if (44 + want.data_bytes > kRenderBudget) {
    TUVELLO_REQUIRE(tuvello::image::create_song(read, kRenderBudget) == nullptr);
    return 0;
  }
  std::uint8_t* song = TUVELLO_CreateSong(text.c_str());
  TUVELLO_REQUIRE(song != nullptr);
  tuvello_fuzz::check_image(song, TUVELLO_GetSongSize(song), TUVELLO_GetSongDuration(song), want);
  TUVELLO_REQUIRE(TUVELLO_FreeSong(song) == 1);
  return 0;
}
