// SPDX-License-Identifier: MIT
#include "image/create_song.hpp"

#include <algorithm>
#include <cassert>

#include "image/block_allocator.hpp"
#include "image/song_stream.hpp"

namespace tuvello::image {

std::uint8_t* create_song(std::string_view text, std::int64_t max_bytes) {
  const std::int64_t size = measure_song(text, std::min(max_bytes, kMaxImageBytes));
  if (size < 0) return nullptr;
  std::uint8_t* song = allocate_block(static_cast<std::int32_t>(size));
  if (song == nullptr) return nullptr;
  SongStream stream(text, size);
  [[maybe_unused]] const std::size_t written = stream.read(song, static_cast<std::size_t>(size));
  assert(written == static_cast<std::size_t>(size));
  return song;
}

}  // namespace tuvello::image
