// SPDX-License-Identifier: MIT
// The built-in demo song: about four and a half seconds that use every key of
// the notation, so that one listen shows what each does. Its text is
// cli/demo_song.txt, read at build time (cli/CMakeLists.txt), the same bytes
// the playground opens on (web/build.mjs). In order: a C major arpeggio up an
// octave ("oct:1" doubles the pitch) and back down; a fast run over the five
// sharps and flats in pipe mode; louder, each note fading, up to the high C.
#pragma once

#include <string_view>

#include "demo_song_text.hpp"

namespace tuvello::cli {

inline constexpr std::string_view kDemoSong{TUVELLO_DEMO_SONG_TEXT,
                                            sizeof TUVELLO_DEMO_SONG_TEXT - 1};

}  // namespace tuvello::cli
