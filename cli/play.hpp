// SPDX-License-Identifier: MIT
// Playing a song text on the default sound device through ALSA.
#pragma once

namespace tuvello::cli {

// Plays the song image of `text` on ALSA's "default" device as a song reader
// renders it, period by period, and returns once the device has played all of
// it: 0. A song too long for an image, no memory, or a missing, busy or
// failing device is reported on standard error: 1. SIGINT stops the sound at
// once; the tool then dies of it.
int play_song(const char* text);

}  // namespace tuvello::cli
