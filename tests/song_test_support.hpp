// SPDX-License-Identifier: MIT
// Helpers shared by the test suites: owning song images and sample access.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tuvello.h"

namespace tuvello_test {

struct SongDeleter {
  void operator()(std::uint8_t* song) const { TUVELLO_FreeSong(song); }
};
using Song = std::unique_ptr<std::uint8_t, SongDeleter>;

inline Song render(const char* text) { return Song(TUVELLO_CreateSong(text)); }

inline std::uint32_t u32_at(const std::uint8_t* p, std::size_t offset) {
  return std::uint32_t{p[offset]} | std::uint32_t{p[offset + 1]} << 8 |
         std::uint32_t{p[offset + 2]} << 16 | std::uint32_t{p[offset + 3]} << 24;
}

inline std::uint32_t data_size(const std::uint8_t* song) { return u32_at(song, 40); }

// The 16-bit samples of a song's data chunk, in order.
inline std::vector<std::int16_t> samples(const std::uint8_t* song) {
  std::vector<std::int16_t> out(data_size(song) / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::uint8_t* p = song + 44 + 2 * i;
    out[i] = static_cast<std::int16_t>(p[0] | p[1] << 8);
  }
  return out;
}

inline std::vector<std::uint8_t> bytes_of(const std::uint8_t* song) {
  return std::vector<std::uint8_t>(song, song + TUVELLO_GetSongSize(song));
}

}  // namespace tuvello_test
