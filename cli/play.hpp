// Playing a song text on the default sound device through ALSA.
#pragma once

#include <string_view>

namespace tuvello::cli {

// Plays the song image of `text` (up to its first NUL byte) on ALSA's
// "default" device, note block by note block, and returns once the device has
// played all of it: 0. A missing, busy or failing device is reported on
// standard error: 1. SIGINT stops the sound at once; the tool then dies of it.
int play_song(std::string_view text);

}  // namespace tuvello::cli
