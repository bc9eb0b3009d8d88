// SPDX-License-Identifier: MIT
// The whole work of one TUVELLO_CreateSong call, for the exported function,
// the command-line tool and the tests.
#pragma once

#include <cstdint>
#include <string_view>

#include "image/song_image.hpp"

namespace tuvello::image {

// Renders `text` into a new song image owned by the caller (free it with
// release_block or TUVELLO_FreeSong): measures it, allocates it once at its
// exact size and streams every byte into it. Returns null when memory runs
// out or the image would pass `max_bytes`; nothing is leaked then.
std::uint8_t* create_song(std::string_view text, std::int64_t max_bytes = kMaxImageBytes);

}  // namespace tuvello::image
