// SPDX-License-Identifier: MIT
// The built-in demo song: about four and a half seconds that use every key of
// the notation, so that one listen shows what each does.
#pragma once

#include <string_view>

namespace tuvello::cli {

inline constexpr std::string_view kDemoSong =
    // A C major arpeggio up an octave ("oct:1" doubles the pitch) and back down.
    "len:180;vol:70;c;e;g;oct:1;c;oct:0;h;g;a;f;len:360;e;p;"
    // A fast run over the five sharps and flats in pipe mode.
    "len:120;pipe:1;cs;ds;fs;gs;b;gs;fs;ds;pipe:0;"
    // Louder, each note fading, up to the high C.
    "vol:90;dec:1;len:240;d;g;h;oct:1;d;dec:0;len:480;c";

}  // namespace tuvello::cli
