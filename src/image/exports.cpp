// The C interface. Arguments are checked here; nothing below throws.
#include <cstring>

#include "image/block_allocator.hpp"
#include "image/create_song.hpp"
#include "image/little_endian.hpp"
#include "tuvello.h"

using namespace tuvello::image;

extern "C" {

TUVELLO_API uint8_t* TUVELLO_CreateSong(const char* text) {
  const std::string_view song_text = text == nullptr ? std::string_view{} : std::string_view{text};
  return create_song(song_text);
}

TUVELLO_API int32_t TUVELLO_GetSongSize(const uint8_t* song) { return whole_size(song); }

TUVELLO_API double TUVELLO_GetSongDuration(const uint8_t* song) {
  if (song == nullptr) return 0.0;
  return static_cast<double>(data_size(song)) / load_u32(song + kByteRateOffset);
}

TUVELLO_API float TUVELLO_GetSongLenght(const uint8_t* song) {
  if (song == nullptr) return 0.0f;
  const auto data = static_cast<std::int32_t>(data_size(song));
  return static_cast<float>(static_cast<long double>(data) / load_u32(song + kSampleRateOffset));
}

TUVELLO_API int32_t TUVELLO_FreeSong(uint8_t* song) {
  if (song == nullptr) return 0;
  release_block(song);
  return 1;
}

}  // extern "C"
