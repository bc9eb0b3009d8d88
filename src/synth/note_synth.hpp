// The note synthesizer: one note or pause in, one note block appended.
#pragma once

#include "image/song_image.hpp"
#include "text/note_settings.hpp"

namespace tuvello::synth {

// Appends the note block of a note of `note_frequency` (0.0 for a pause)
// under `settings` to `image` and fills it. Returns false when the image
// could not grow; it has been released then.
bool render_note(image::SongImage& image, double note_frequency,
                 const text::NoteSettings& settings);

}  // namespace tuvello::synth
